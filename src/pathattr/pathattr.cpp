#include <memory>
#include <stdexcept>

#include "journeys/journeys.h"
#include "journeys/touchpoints.h"
#include "pathattr/pathattr.h"

namespace {

// The weight set of a run and the per-channel totals it fills.
struct Weights {
  const ChannelMap& mp_channels;
  const std::vector<double>& vindex;
  double mean_index;
  std::vector<double>* vattr_convs_loc;
};

uli checked_index(const std::string& channel, uli idx, const Weights& w) {
  if (idx >= w.vindex.size() || idx >= w.vattr_convs_loc->size())
    throw std::invalid_argument("channel '" + channel + "' has dictionary index " +
                                std::to_string(idx) + " but vindex has " +
                                std::to_string(w.vindex.size()) + " and vattr_convs_loc " +
                                std::to_string(w.vattr_convs_loc->size()) + " entries");
  return idx;
}

void check_dictionary(const Weights& w) {
  for (const auto& kv : w.mp_channels) checked_index(kv.first, kv.second, w);
}

// What one journey's rows carry besides the weights.
struct LineSettings {
  char cha_sep;
  bool with_value;
  bool write_nulls;
};

// One row: the shares of a converting journey, zeros ("0") otherwise.
void emit(RowSink& sink, TouchpointRows* rows, const std::string& channel, uli k,
          bool converting, bool with_value, double attr_convs, double attr_value) {
  sink.key(k, channel);
  if (sink.to_file()) {
    if (converting) sink.field(attr_convs); else sink.field_text("0");
    if (with_value) {
      if (converting) sink.field(attr_value); else sink.field_text("0");
    }
    sink.end_row();
    return;
  }
  rows->vpath_attr_convs.push_back(attr_convs);
  if (with_value) rows->vpath_attr_value.push_back(attr_value);
}

// Each distinct channel weighs its dictionary weight, or mean_index when
// it is not in the dictionary; returns the journey's total weight, summed
// in order of first occurrence.
double weigh_channels(TouchpointScratch& s, const Weights& w) {
  const uli lvec = s.vecs.size();
  s.known.resize(lvec);
  s.ichannel.resize(lvec);
  for (uli k = 0; k < lvec; ++k) {
    auto it = w.mp_channels.find(s.vecs[k]);
    s.known[k] = it != w.mp_channels.end();
    s.ichannel[k] = s.known[k] ? checked_index(it->first, it->second, w) : 0;
  }
  const uli nslots = group_touchpoints(&s, true);
  s.weight.resize(nslots);
  double tot_index = 0;
  for (uli id = 0; id < nslots; ++id) {
    const uli k = s.first[id];
    s.weight[id] = s.known[k] ? w.vindex[s.ichannel[k]] : w.mean_index;
    tot_index += s.weight[id];
  }
  return tot_index;
}

// A converting journey's conversions (and value) split over its distinct
// channels by weight, each channel's share divided equally among its
// occurrences; a journey without conversions gets zero rows only when
// null rows are asked for.
void attribute_line(uli i, const std::string& path, uli conv, double value,
                    const LineSettings& ls, const Weights& w, RowSink& sink,
                    TouchpointRows* rows) {
  TouchpointScratch& s = touchpoint_scratch();
  channels_normalised(path, ls.cha_sep, &s.vecs);
  const uli lvec = s.vecs.size();
  if (lvec == 0) return;
  const bool converting = conv > 0;
  if (!converting && !ls.write_nulls) return;
  sink.start_journey(i, path);
  if (!converting) {
    for (uli k = 0; k < lvec; ++k) emit(sink, rows, s.vecs[k], k, false, ls.with_value, 0.0, 0.0);
    sink.end_journey();
    return;
  }
  const double tot_index = weigh_channels(s, w);
  const double convs = static_cast<double>(conv);
  const double val = ls.with_value ? value : 0.0;
  for (uli k = 0; k < lvec; ++k) {
    const double wk = s.weight[s.slot[k]];
    const double m = static_cast<double>(s.count[s.slot[k]]);
    const double attr_convs = convs * wk / tot_index / m;
    const double attr_value = ls.with_value ? val * wk / tot_index / m : 0.0;
    if (s.known[k]) (*w.vattr_convs_loc)[s.ichannel[k]] += attr_convs;
    emit(sink, rows, s.vecs[k], k, true, ls.with_value, attr_convs, attr_value);
  }
  sink.end_journey();
}

std::vector<std::string> header(bool with_paths, bool with_value) {
  std::vector<std::string> h{"path_id"};
  if (with_paths) h.push_back("path_name");
  h.insert(h.end(), {"channel", "channel_position", "total_conversions"});
  if (with_value) h.push_back("total_conversion_value");
  return h;
}

// The source as the attribution reads it: the attribution's channel
// separator (for the reader's channel-name checks too), and no null column.
JourneySource attribution_source(const JourneySource& src, const std::string& cha_sep) {
  JourneySource in = src;
  in.flg_file = src.flg_file == 1 ? 1 : 0;
  in.cha_sep = cha_sep.empty() ? 0 : cha_sep[0];
  in.var_null.clear();
  in.vn = nullptr;
  return in;
}

}  // namespace

void TouchpointRows::clear() {
  vpath_id.clear();
  vpath_name.clear();
  vpath_channel.clear();
  vpath_chpos.clear();
  vpath_attr_convs.clear();
  vpath_attr_value.clear();
}

void TouchpointRows::append_to(std::vector<double>* id, std::vector<std::string>* name,
                               std::vector<std::string>* channel, std::vector<double>* chpos,
                               std::vector<double>* attr_convs,
                               std::vector<double>* attr_value) {
  auto move_into = [](auto& from, auto* to) {
    if (to->empty()) {
      to->swap(from);
    } else {
      to->insert(to->end(), std::make_move_iterator(from.begin()),
                 std::make_move_iterator(from.end()));
    }
    from.clear();
  };
  move_into(vpath_id, id);
  move_into(vpath_name, name);
  move_into(vpath_channel, channel);
  move_into(vpath_chpos, chpos);
  move_into(vpath_attr_convs, attr_convs);
  move_into(vpath_attr_value, attr_value);
}

void attribute_journeys(const JourneySource& src, const PathSettings& settings,
                        const ChannelMap& mp_channels, const std::vector<double>& vindex,
                        double mean_index, TouchpointRows* rows,
                        std::vector<double>* vattr_convs_loc) {
  const JourneySource in = attribution_source(src, settings.cha_sep);
  // Opened (header checked) before the result file is created.
  JourneyReader reader(in);
  const bool with_value = in.flg_file ? !in.var_value.empty() : (in.vv && !in.vv->empty());
  const LineSettings ls{first_char(settings.cha_sep, "cha_sep"), with_value,
                        settings.flg_write_nulls == 1};
  const Weights w{mp_channels, vindex, mean_index, vattr_convs_loc};
  check_dictionary(w);
  const bool with_paths = settings.flg_write_paths == 1;
  std::unique_ptr<ResultFile> out = open_touchpoint_file(
      settings.file_output, reader.input_file(), in.field_sep, header(with_paths, with_value));
  RowSink sink(out ? &out->stream() : nullptr, out ? in.field_sep[0] : ',', with_paths,
               RowKeys{&rows->vpath_id, &rows->vpath_name, &rows->vpath_channel,
                       &rows->vpath_chpos},
               &touchpoint_scratch().text);
  for_each_journey(reader, false, [&] {
    attribute_line(reader.index(), reader.path(), reader.conv(), reader.value(), ls, w, sink,
                   rows);
  });
  if (out) out->commit();
}
