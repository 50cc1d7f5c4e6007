#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "heuristic/heuristic.h"
#include "journeys/journeys.h"

namespace {

constexpr uli kProgressEvery = 1000000;

// Per-journey scratch, reused so a journey costs no allocation once warm.
struct Scratch {
  std::vector<std::string> vecs;          // trimmed channel names
  std::vector<uli> slot;                  // index of each touch point's distinct channel
  std::vector<uli> count;                 // occurrences per distinct channel
  std::unordered_map<std::string_view, uli> index;
  std::string text;                       // file rows of the journey
};

Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

// Distinct channels and their counts; for short journeys a linear scan is
// faster than hashing.
uli count_distinct(Scratch& s) {
  const size_t n = s.vecs.size();
  s.slot.resize(n);
  s.count.clear();
  if (n <= 48) {
    for (size_t k = 0; k < n; ++k) {
      size_t j = 0;
      for (; j < k; ++j)
        if (s.vecs[j] == s.vecs[k]) break;
      uli id = (j < k) ? s.slot[j] : s.count.size();
      if (id == s.count.size()) s.count.push_back(0);
      s.slot[k] = id;
      ++s.count[id];
    }
  } else {
    s.index.clear();
    for (size_t k = 0; k < n; ++k) {
      auto it = s.index.emplace(std::string_view(s.vecs[k]), s.count.size()).first;
      if (it->second == s.count.size()) s.count.push_back(0);
      s.slot[k] = it->second;
      ++s.count[it->second];
    }
  }
  return s.count.size();
}

}  // namespace

void heuristic_models_line_cpp(uli* i, const std::string* vyi, uli* vci, double* vvi,
                               std::string* cha_sep, int* flg_value, int* flg_write_nulls,
                               int* flg_write_paths,
                               std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                               std::vector<std::string>* vpath_channel,
                               std::vector<double>* vpath_chpos,
                               std::vector<double>* vpath_attr_convs_first,
                               std::vector<double>* vpath_attr_value_first,
                               std::vector<double>* vpath_attr_convs_last,
                               std::vector<double>* vpath_attr_value_last,
                               std::vector<double>* vpath_attr_convs_linear,
                               std::vector<double>* vpath_attr_value_linear,
                               std::ostream* ofile_output, int* flg_file_output,
                               std::string* row_sep) {
  if (*vci == 0 && *flg_write_nulls != 1) return;   // emits nothing
  Scratch& s = scratch();
  channels_normalised(*vyi, first_char(*cha_sep, "cha_sep"), &s.vecs);
  const uli lvec = s.vecs.size();
  if (lvec == 0) return;
  const bool to_file = *flg_file_output == 1;
  const bool with_value = *flg_value == 1;
  const bool with_paths = *flg_write_paths == 1;
  const char c = to_file ? first_char(*row_sep, "row_sep") : ',';

  auto prefix = [&](uli k) {
    append_lu(s.text, *i);
    s.text.push_back(c);
    if (with_paths) {
      s.text += *vyi;
      s.text.push_back(c);
    }
    s.text += s.vecs[k];
    s.text.push_back(c);
    append_lu(s.text, k);
  };
  auto push_common = [&](uli k) {
    vpath_id->push_back(static_cast<double>(*i));
    if (with_paths) vpath_name->push_back(*vyi);
    vpath_channel->push_back(s.vecs[k]);
    vpath_chpos->push_back(static_cast<double>(k));
  };

  s.text.clear();
  if (*vci > 0) {
    const double convs = static_cast<double>(*vci);
    const double value = with_value ? *vvi : 0.0;
    // The linear shares need the distinct channels of the whole journey, so
    // they are counted first and every row is then written in one go.
    const double U = static_cast<double>(count_distinct(s));
    for (uli k = 0; k < lvec; ++k) {
      const bool first = k == 0, last = k == lvec - 1;
      const double m = static_cast<double>(s.count[s.slot[k]]);
      if (to_file) {
        prefix(k);
        s.text.push_back(c);
        if (first) append_lu(s.text, *vci); else s.text += "0.000000";
        if (with_value) { s.text.push_back(c); append_f(s.text, first ? value : 0.0); }
        s.text.push_back(c);
        if (last) append_lu(s.text, *vci); else s.text += "0.000000";
        if (with_value) { s.text.push_back(c); append_f(s.text, last ? value : 0.0); }
        s.text.push_back(c);
        append_f(s.text, convs / U / m);
        if (with_value) { s.text.push_back(c); append_f(s.text, value / U / m); }
        s.text.push_back('\n');
      } else {
        push_common(k);
        vpath_attr_convs_first->push_back(first ? convs : 0.0);
        vpath_attr_convs_last->push_back(last ? convs : 0.0);
        vpath_attr_convs_linear->push_back(convs / U / m);
        if (with_value) {
          vpath_attr_value_first->push_back(first ? value : 0.0);
          vpath_attr_value_last->push_back(last ? value : 0.0);
          vpath_attr_value_linear->push_back(value / U / m);
        }
      }
    }
    if (to_file) ofile_output->write(s.text.data(), static_cast<std::streamsize>(s.text.size()));
  } else if (*flg_write_nulls == 1) {
    for (uli k = 0; k < lvec; ++k) {
      if (to_file) {
        prefix(k);
        for (int q = with_value ? 6 : 3; q > 0; --q) {
          s.text.push_back(c);
          s.text.push_back('0');
        }
        s.text.push_back('\n');
      } else {
        push_common(k);
        vpath_attr_convs_first->push_back(0.0);
        vpath_attr_convs_last->push_back(0.0);
        vpath_attr_convs_linear->push_back(0.0);
        if (with_value) {
          vpath_attr_value_first->push_back(0.0);
          vpath_attr_value_last->push_back(0.0);
          vpath_attr_value_linear->push_back(0.0);
        }
      }
    }
    if (to_file) ofile_output->write(s.text.data(), static_cast<std::streamsize>(s.text.size()));
  }
}

void heuristic_models_cpp(int* flg_file, std::string* file, std::string* var_path,
                          std::string* var_conv, std::string* var_value,
                          std::vector<std::string>* vy, std::vector<uli>* vc,
                          std::vector<double>* vv, std::string* row_sep, std::string* cha_sep,
                          int* flg_write_nulls, int* flg_write_paths, std::string* file_output,
                          int* verbose,
                          std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                          std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                          std::vector<double>* vpath_attr_convs_first,
                          std::vector<double>* vpath_attr_value_first,
                          std::vector<double>* vpath_attr_convs_last,
                          std::vector<double>* vpath_attr_value_last,
                          std::vector<double>* vpath_attr_convs_linear,
                          std::vector<double>* vpath_attr_value_linear) {
  if (*verbose == 1) printA("**heuristic models estimation**");
  first_char(*cha_sep, "cha_sep");

  JourneySource src;
  src.flg_file = *flg_file != 0 ? 1 : 0;
  src.file = *file;
  src.var_path = *var_path;
  src.var_conv = *var_conv;
  src.row_sep = *row_sep;
  src.vy = vy;
  src.vc = vc;
  src.vv = vv;
  src.cha_sep = (*cha_sep)[0];
  int flg_value;
  if (src.flg_file) {
    src.var_value = *var_value;
    flg_value = var_value->empty() ? 0 : 1;
  } else {
    flg_value = vv->empty() ? 0 : 1;
  }
  // The input is opened (and its header checked) before the result file is
  // created, so a bad input never truncates an existing result file.
  JourneyReader reader(src);

  int flg_file_output = file_output->empty() ? 0 : 1;
  std::unique_ptr<ResultFile> out;
  if (flg_file_output) {
    first_char(*row_sep, "row_sep");
    out = std::make_unique<ResultFile>(*file_output, src.flg_file ? *file : std::string());
    std::vector<std::string> header{"path_id"};
    if (*flg_write_paths == 1) header.push_back("path_name");
    header.insert(header.end(), {"channel", "channel_position", "first_touch_conversions"});
    if (flg_value) header.push_back("first_touch_value");
    header.push_back("last_touch_conversions");
    if (flg_value) header.push_back("last_touch_value");
    header.push_back("linear_touch_conversions");
    if (flg_value) header.push_back("linear_touch_value");
    std::string line;
    for (size_t k = 0; k < header.size(); ++k) {
      if (k) line += *row_sep;
      line += header[k];
    }
    line.push_back('\n');
    out->write(line);
  }

  uli nread = 0;
  while (reader.next()) {
    uli i = reader.index();
    uli ci = reader.conv();
    double vi = reader.value();
    heuristic_models_line_cpp(&i, &reader.path(), &ci, &vi, cha_sep, &flg_value, flg_write_nulls,
                              flg_write_paths, vpath_id, vpath_name, vpath_channel, vpath_chpos,
                              vpath_attr_convs_first, vpath_attr_value_first,
                              vpath_attr_convs_last, vpath_attr_value_last,
                              vpath_attr_convs_linear, vpath_attr_value_linear,
                              out ? &out->stream() : nullptr,
                              &flg_file_output, row_sep);
    nread = i + 1;
    if (i != 0 && i % kProgressEvery == 0) {
      if (*verbose == 1) printA("Attribution, number of paths elaborated: " + thousandSeparator(i));
      check_interrupt();
    }
  }
  if (*verbose == 1) printA("Attribution, number of paths elaborated: " + thousandSeparator(nread));
  if (out) out->commit();
}
