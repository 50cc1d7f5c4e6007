#include <memory>
#include <stdexcept>

#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "journeys/touchpoints.h"

namespace {

// The value columns of in-memory rows: first, last and linear touch.
struct HeuristicColumns {
  std::vector<double>* convs[3];
  std::vector<double>* value[3];
};

// What one journey's rows carry besides the journey itself.
struct LineSettings {
  char cha_sep;
  bool with_value;
  bool write_nulls;
};

// Rows of a converting journey: everything to the first touch, everything
// to the last, and the linear share. The linear shares need the distinct
// channels of the whole journey, so they are counted first and every row is
// then written in one go.
void converting_rows(TouchpointScratch& s, uli conv, double value, bool with_value,
                     RowSink& sink, const HeuristicColumns& cols) {
  const uli lvec = s.vecs.size();
  const double convs = static_cast<double>(conv);
  const double val = with_value ? value : 0.0;
  const double U = static_cast<double>(group_touchpoints(&s, false));
  for (uli k = 0; k < lvec; ++k) {
    const bool first = k == 0, last = k == lvec - 1;
    const double m = static_cast<double>(s.count[s.slot[k]]);
    const double share[3] = {first ? convs : 0.0, last ? convs : 0.0, convs / U / m};
    const double vshare[3] = {first ? val : 0.0, last ? val : 0.0, val / U / m};
    sink.key(k, s.vecs[k]);
    if (!sink.to_file()) {
      for (int r = 0; r < 3; ++r) {
        cols.convs[r]->push_back(share[r]);
        if (with_value) cols.value[r]->push_back(vshare[r]);
      }
      continue;
    }
    // A whole count where it is all the journey's, "%f" where it is a share.
    if (first) sink.field_count(conv); else sink.field_text("0.000000");
    if (with_value) sink.field(vshare[0]);
    if (last) sink.field_count(conv); else sink.field_text("0.000000");
    if (with_value) sink.field(vshare[1]);
    sink.field(share[2]);
    if (with_value) sink.field(vshare[2]);
    sink.end_row();
  }
}

// Rows of a journey without conversions: zeros ("0" in the file).
void null_rows(const TouchpointScratch& s, bool with_value, RowSink& sink,
               const HeuristicColumns& cols) {
  for (uli k = 0; k < s.vecs.size(); ++k) {
    sink.key(k, s.vecs[k]);
    if (sink.to_file()) {
      for (int q = with_value ? 6 : 3; q > 0; --q) sink.field_text("0");
      sink.end_row();
      continue;
    }
    for (int r = 0; r < 3; ++r) {
      cols.convs[r]->push_back(0.0);
      if (with_value) cols.value[r]->push_back(0.0);
    }
  }
}

void heuristic_line(uli i, const std::string& path, uli conv, double value,
                    const LineSettings& ls, RowSink& sink, const HeuristicColumns& cols) {
  if (conv == 0 && !ls.write_nulls) return;   // emits nothing
  TouchpointScratch& s = touchpoint_scratch();
  channels_normalised(path, ls.cha_sep, &s.vecs);
  if (s.vecs.empty()) return;
  sink.start_journey(i, path);
  if (conv > 0) converting_rows(s, conv, value, ls.with_value, sink, cols);
  else null_rows(s, ls.with_value, sink, cols);
  sink.end_journey();
}

std::vector<std::string> header(bool with_paths, bool with_value) {
  std::vector<std::string> h{"path_id"};
  if (with_paths) h.push_back("path_name");
  h.insert(h.end(), {"channel", "channel_position", "first_touch_conversions"});
  if (with_value) h.push_back("first_touch_value");
  h.push_back("last_touch_conversions");
  if (with_value) h.push_back("last_touch_value");
  h.push_back("linear_touch_conversions");
  if (with_value) h.push_back("linear_touch_value");
  return h;
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
  if (*vci == 0 && *flg_write_nulls != 1) return;
  const LineSettings ls{first_char(*cha_sep, "cha_sep"), *flg_value == 1, *flg_write_nulls == 1};
  const bool to_file = *flg_file_output == 1;
  if (to_file && row_sep->empty()) {
    // A journey without touch points writes nothing, so it needs no separator.
    channels_normalised(*vyi, ls.cha_sep, &touchpoint_scratch().vecs);
    if (!touchpoint_scratch().vecs.empty()) first_char(*row_sep, "row_sep");
    return;
  }
  RowSink sink(to_file ? ofile_output : nullptr, to_file ? (*row_sep)[0] : ',',
               *flg_write_paths == 1, RowKeys{vpath_id, vpath_name, vpath_channel, vpath_chpos},
               &touchpoint_scratch().text);
  const HeuristicColumns cols{
      {vpath_attr_convs_first, vpath_attr_convs_last, vpath_attr_convs_linear},
      {vpath_attr_value_first, vpath_attr_value_last, vpath_attr_value_linear}};
  heuristic_line(*i, *vyi, *vci, ls.with_value ? *vvi : 0.0, ls, sink, cols);
}

void HeuristicSettings::validate() const { first_char(cha_sep, "cha_sep"); }

HeuristicResult heuristic_run(const JourneySource& source, const HeuristicSettings& settings) {
  if (settings.verbose == 1) printA("**heuristic models estimation**");
  settings.validate();
  JourneySource src = source;
  src.cha_sep = settings.cha_sep[0];
  src.var_null.clear();
  // The input is opened (and its header checked) before the result file is
  // created, so a bad input never truncates an existing result file.
  JourneyReader reader(src);
  const LineSettings ls{src.cha_sep, reader.flg_value(), settings.flg_write_nulls == 1};
  const bool with_paths = settings.flg_write_paths == 1;
  std::unique_ptr<ResultFile> out = open_touchpoint_file(
      settings.file_output, reader.input_file(), src.field_sep, header(with_paths, ls.with_value));
  HeuristicResult r;
  RowSink sink(out ? &out->stream() : nullptr, out ? src.field_sep[0] : ',', with_paths,
               RowKeys{&r.vpath_id, &r.vpath_name, &r.vpath_channel, &r.vpath_chpos},
               &touchpoint_scratch().text);
  const HeuristicColumns cols{
      {&r.vpath_attr_convs_first, &r.vpath_attr_convs_last, &r.vpath_attr_convs_linear},
      {&r.vpath_attr_value_first, &r.vpath_attr_value_last, &r.vpath_attr_value_linear}};
  const uli nread = for_each_journey(reader, settings.verbose == 1, [&] {
    heuristic_line(reader.index(), reader.path(), reader.conv(), reader.value(), ls, sink, cols);
  });
  if (settings.verbose == 1) print_paths_elaborated(nread);
  if (out) out->commit();
  return r;
}
