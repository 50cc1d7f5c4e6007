#include <stdexcept>

#include "logistic/logistic.h"
#include "journeys/journeys.h"
#include "pathattr/pathattr.h"

LogisticResult logistic_run(const JourneySource& source, const LogisticSettings& settings) {
  // The fit needs every journey at once; a file is read into memory first.
  std::vector<std::string> fy;
  std::vector<uli> fc, fn;
  std::vector<double> fv;
  JourneySource src = source;
  if (src.flg_file != 0) {
    JourneyReader reader(source);
    while (reader.next()) {
      fy.push_back(reader.path());
      fc.push_back(reader.conv());
      if (reader.flg_value()) fv.push_back(reader.value());
      if (reader.flg_null()) fn.push_back(reader.nulls());
    }
    src = vector_source(&fy, &fc, &fv, &fn);
    src.var_value = source.var_value;
    src.var_null = source.var_null;
    src.field_sep = source.field_sep;
  } else {
    JourneyReader lengths_checked(src);
  }
  static const std::vector<uli> no_nulls;
  const std::vector<uli>* vn = src.var_null.empty() || !src.vn ? &no_nulls : src.vn;
  LogisticResult r;
  ChannelMap mp_channels;
  double mean_index = 0.0;
  logistic_fit_info(src.vy, src.vc, vn, &settings.cha_sep, &mp_channels, &r.vchannels, &r.vindex,
                    &mean_index, &r.fit);

  r.vattr_convs_loc.assign(r.vchannels.size(), 0.0);
  PathSettings path;
  path.cha_sep = settings.cha_sep;
  path.flg_write_nulls = settings.flg_write_nulls;
  path.flg_write_paths = settings.flg_write_paths;
  path.file_output = settings.file_output;
  TouchpointRows rows;
  attribute_journeys(src, path, mp_channels, r.vindex, mean_index, &rows, &r.vattr_convs_loc);
  r.vpath_id = std::move(rows.vpath_id);
  r.vpath_name = std::move(rows.vpath_name);
  r.vpath_channel = std::move(rows.vpath_channel);
  r.vpath_chpos = std::move(rows.vpath_chpos);
  r.vpath_attr_convs = std::move(rows.vpath_attr_convs);
  r.vpath_attr_value = std::move(rows.vpath_attr_value);

  r.vindex.push_back(mean_index);
  hide_index(&r.vindex);
  return r;
}
