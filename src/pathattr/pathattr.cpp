#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "journeys/journeys.h"
#include "pathattr/pathattr.h"

namespace {

constexpr uli kInterruptEvery = 1000000;

// Per-journey scratch, reused so a journey costs no allocation once warm.
struct Scratch {
  std::vector<std::string> vecs;     // trimmed channel of each touch point
  std::vector<char> known;           // channel is in the dictionary
  std::vector<uli> ichannel;         // its dictionary index when known
  std::vector<uli> slot;             // distinct channel of each touch point
  std::vector<uli> count;            // occurrences per distinct channel
  std::vector<double> weight;        // weight per distinct channel
  std::unordered_map<uli, uli> by_index;
  std::unordered_map<std::string_view, uli> by_name;
  std::string text;                  // file rows of the journey
};

Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

uli checked_index(const std::string& channel, uli idx, const std::vector<double>* vindex,
                  const std::vector<double>* vattr_convs_loc) {
  if (idx >= vindex->size() || idx >= vattr_convs_loc->size())
    throw std::invalid_argument("channel '" + channel + "' has dictionary index " +
                                std::to_string(idx) + " but vindex has " +
                                std::to_string(vindex->size()) + " and vattr_convs_loc " +
                                std::to_string(vattr_convs_loc->size()) + " entries");
  return idx;
}

// A distinct channel is a dictionary index for known channels and the
// trimmed name for the others. Short journeys scan, long ones hash.
uli new_slot(Scratch& s, double w) {
  s.count.push_back(0);
  s.weight.push_back(w);
  return s.count.size() - 1;
}

void group_channels(Scratch& s, const std::vector<double>* vindex, double mean_index) {
  const size_t n = s.vecs.size();
  s.slot.resize(n);
  s.count.clear();
  s.weight.clear();
  if (n <= 48) {
    for (size_t k = 0; k < n; ++k) {
      size_t j = 0;
      for (; j < k; ++j) {
        if (s.known[j] != s.known[k]) continue;
        if (s.known[k] ? s.ichannel[j] == s.ichannel[k] : s.vecs[j] == s.vecs[k]) break;
      }
      uli id = (j < k) ? s.slot[j]
                       : new_slot(s, s.known[k] ? (*vindex)[s.ichannel[k]] : mean_index);
      s.slot[k] = id;
      ++s.count[id];
    }
    return;
  }
  s.by_index.clear();
  s.by_name.clear();
  for (size_t k = 0; k < n; ++k) {
    const uli next = s.count.size();
    uli id = s.known[k] ? s.by_index.emplace(s.ichannel[k], next).first->second
                        : s.by_name.emplace(std::string_view(s.vecs[k]), next).first->second;
    if (id == next) new_slot(s, s.known[k] ? (*vindex)[s.ichannel[k]] : mean_index);
    s.slot[k] = id;
    ++s.count[id];
  }
}

// The result file with its header line; null when there is none.
std::unique_ptr<ResultFile> open_result(const std::string& file_output, const std::string& input,
                                        const std::string& row_sep, int flg_write_paths,
                                        bool with_value) {
  if (file_output.empty()) return nullptr;
  first_char(row_sep, "row_sep");
  auto out = std::make_unique<ResultFile>(file_output, input);
  std::string line = "path_id";
  if (flg_write_paths == 1) line += row_sep + "path_name";
  line += row_sep + "channel" + row_sep + "channel_position" + row_sep + "total_conversions";
  if (with_value) line += row_sep + "total_conversion_value";
  line.push_back('\n');
  out->write(line);
  return out;
}

void check_dictionary(const std::map<std::string, uli>* mp_channels,
                      const std::vector<double>* vindex,
                      const std::vector<double>* vattr_convs_loc) {
  for (const auto& kv : *mp_channels) checked_index(kv.first, kv.second, vindex, vattr_convs_loc);
}

// Runs every journey of the reader through attribution_line.
void attribute_all(JourneyReader& reader, int flg_value, const std::string* file_output,
                   const std::map<std::string, uli>* mp_channels, const std::string* cha_sep,
                   const int* flg_write_nulls, const int* flg_write_paths,
                   const std::string* row_sep, const std::vector<double>* vindex,
                   const double* mean_index,
                   std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                   std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                   std::vector<double>* vpath_attr_convs, std::vector<double>* vpath_attr_value,
                   std::vector<double>* vattr_convs_loc) {
  first_char(*cha_sep, "cha_sep");
  check_dictionary(mp_channels, vindex, vattr_convs_loc);
  std::unique_ptr<ResultFile> out =
      open_result(*file_output, reader.input_file(), *row_sep, *flg_write_paths, flg_value == 1);
  const int flg_file_output = out ? 1 : 0;
  while (reader.next()) {
    const uli i = reader.index();
    const uli ci = reader.conv();
    const double vi = reader.value();
    attribution_line(&i, &reader.path(), &ci, &vi, mp_channels, &flg_value, cha_sep,
                     flg_write_nulls, flg_write_paths, vindex, mean_index, vpath_id, vpath_name,
                     vpath_channel, vpath_chpos, vpath_attr_convs, vpath_attr_value,
                     out ? &out->stream() : nullptr,
                     &flg_file_output, row_sep, vattr_convs_loc);
    if (i != 0 && i % kInterruptEvery == 0) check_interrupt();
  }
  if (out) out->commit();
}

}  // namespace

void attribution_line(const uli* i, const std::string* vyi, const uli* vci, const double* vvi,
                      const std::map<std::string, uli>* mp_channels, const int* flg_value,
                      const std::string* cha_sep, const int* flg_write_nulls,
                      const int* flg_write_paths, const std::vector<double>* vindex,
                      const double* mean_index,
                      std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                      std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                      std::vector<double>* vpath_attr_convs, std::vector<double>* vpath_attr_value,
                      std::ostream* ofile_output, const int* flg_file_output,
                      const std::string* row_sep, std::vector<double>* vattr_convs_loc) {
  Scratch& s = scratch();
  channels_normalised(*vyi, first_char(*cha_sep, "cha_sep"), &s.vecs);
  const uli lvec = s.vecs.size();
  if (lvec == 0) return;
  const bool converting = *vci > 0;
  if (!converting && *flg_write_nulls != 1) return;
  const bool to_file = *flg_file_output == 1;
  const bool with_value = *flg_value == 1;
  const bool with_paths = *flg_write_paths == 1;
  const char c = to_file ? first_char(*row_sep, "row_sep") : ',';

  auto emit = [&](uli k, double attr_convs, double attr_value) {
    if (to_file) {
      append_lu(s.text, *i);
      s.text.push_back(c);
      if (with_paths) {
        s.text += *vyi;
        s.text.push_back(c);
      }
      s.text += s.vecs[k];
      s.text.push_back(c);
      append_lu(s.text, k);
      s.text.push_back(c);
      if (converting) append_f(s.text, attr_convs); else s.text.push_back('0');
      if (with_value) {
        s.text.push_back(c);
        if (converting) append_f(s.text, attr_value); else s.text.push_back('0');
      }
      s.text.push_back('\n');
    } else {
      vpath_id->push_back(static_cast<double>(*i));
      if (with_paths) vpath_name->push_back(*vyi);
      vpath_channel->push_back(s.vecs[k]);
      vpath_chpos->push_back(static_cast<double>(k));
      vpath_attr_convs->push_back(attr_convs);
      if (with_value) vpath_attr_value->push_back(attr_value);
    }
  };

  s.text.clear();
  if (converting) {
    s.known.resize(lvec);
    s.ichannel.resize(lvec);
    for (uli k = 0; k < lvec; ++k) {
      auto it = mp_channels->find(s.vecs[k]);
      s.known[k] = it != mp_channels->end();
      s.ichannel[k] = s.known[k] ? checked_index(it->first, it->second, vindex, vattr_convs_loc) : 0;
    }
    group_channels(s, vindex, *mean_index);
    // Summed in order of first occurrence.
    double tot_index = 0;
    for (double w : s.weight) tot_index += w;
    const double convs = static_cast<double>(*vci);
    const double value = with_value ? *vvi : 0.0;
    for (uli k = 0; k < lvec; ++k) {
      const double w = s.weight[s.slot[k]];
      const double m = static_cast<double>(s.count[s.slot[k]]);
      const double attr_convs = convs * w / tot_index / m;
      const double attr_value = with_value ? value * w / tot_index / m : 0.0;
      if (s.known[k]) (*vattr_convs_loc)[s.ichannel[k]] += attr_convs;
      emit(k, attr_convs, attr_value);
    }
  } else {
    for (uli k = 0; k < lvec; ++k) emit(k, 0.0, 0.0);
  }
  if (to_file) ofile_output->write(s.text.data(), static_cast<std::streamsize>(s.text.size()));
}

void attribution_from_vec(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                          const std::vector<double>* vv,
                          const std::map<std::string, uli>* mp_channels,
                          const std::string* cha_sep, const int* flg_write_nulls,
                          const int* flg_write_paths, const std::string* file_output,
                          const std::string* row_sep, const std::vector<double>* vindex,
                          const double* mean_index,
                          std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                          std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                          std::vector<double>* vpath_attr_convs,
                          std::vector<double>* vpath_attr_value,
                          std::vector<double>* vattr_convs_loc) {
  JourneySource src;
  src.flg_file = 0;
  src.vy = vy;
  src.vc = vc;
  src.vv = vv;
  src.cha_sep = cha_sep->empty() ? 0 : (*cha_sep)[0];
  JourneyReader reader(src);
  const int flg_value = vv->empty() ? 0 : 1;
  attribute_all(reader, flg_value, file_output, mp_channels, cha_sep, flg_write_nulls,
                flg_write_paths, row_sep, vindex, mean_index, vpath_id, vpath_name, vpath_channel,
                vpath_chpos, vpath_attr_convs, vpath_attr_value, vattr_convs_loc);
}

void attribution_from_file(const std::string* file, const std::string* var_path,
                           const std::string* var_conv, const std::string* var_value,
                           const std::string* row_sep, const std::string* cha_sep,
                           const int* flg_write_nulls, const int* flg_write_paths,
                           const std::string* file_output,
                           const std::map<std::string, uli>* mp_channels,
                           const std::vector<double>* vindex, const double* mean_index,
                           std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                           std::vector<std::string>* vpath_channel,
                           std::vector<double>* vpath_chpos,
                           std::vector<double>* vpath_attr_convs,
                           std::vector<double>* vpath_attr_value,
                           std::vector<double>* vattr_convs_loc) {
  JourneySource src = file_source(*file, *var_path, *var_conv, *var_value, "", *row_sep);
  src.cha_sep = cha_sep->empty() ? 0 : (*cha_sep)[0];
  // Opened (header checked) before the result file is created.
  JourneyReader reader(src);
  const int flg_value = var_value->empty() ? 0 : 1;
  attribute_all(reader, flg_value, file_output, mp_channels, cha_sep, flg_write_nulls,
                flg_write_paths, row_sep, vindex, mean_index, vpath_id, vpath_name, vpath_channel,
                vpath_chpos, vpath_attr_convs, vpath_attr_value, vattr_convs_loc);
}

void TouchpointRows::clear() {
  vpath_id.clear();
  vpath_name.clear();
  vpath_channel.clear();
  vpath_chpos.clear();
  vpath_attr_convs.clear();
  vpath_attr_value.clear();
}

void attribute_journeys(const JourneySource& src, const PathSettings& settings,
                        const ChannelMap& mp_channels, const std::vector<double>& vindex,
                        double mean_index, TouchpointRows* rows,
                        std::vector<double>* vattr_convs_loc) {
  if (src.flg_file == 1) {
    attribution_from_file(&src.file, &src.var_path, &src.var_conv, &src.var_value, &src.row_sep,
                          &settings.cha_sep, &settings.flg_write_nulls, &settings.flg_write_paths,
                          &settings.file_output, &mp_channels, &vindex, &mean_index,
                          &rows->vpath_id, &rows->vpath_name, &rows->vpath_channel,
                          &rows->vpath_chpos, &rows->vpath_attr_convs, &rows->vpath_attr_value,
                          vattr_convs_loc);
    return;
  }
  static const std::vector<double> none;
  attribution_from_vec(src.vy, src.vc, src.vv ? src.vv : &none, &mp_channels, &settings.cha_sep,
                       &settings.flg_write_nulls, &settings.flg_write_paths,
                       &settings.file_output, &src.row_sep, &vindex, &mean_index,
                       &rows->vpath_id, &rows->vpath_name, &rows->vpath_channel,
                       &rows->vpath_chpos, &rows->vpath_attr_convs, &rows->vpath_attr_value,
                       vattr_convs_loc);
}
