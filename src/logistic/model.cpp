#include <stdexcept>

#include "logistic/logistic.h"
#include "pathattr/pathattr.h"

void logistic_regression_cpp(std::vector<std::string>* vy, std::vector<uli>* vc,
                             std::vector<uli>* vn, std::vector<double>* vv, std::string* cha_sep,
                             std::string* row_sep, int* flg_write_nulls, int* flg_write_paths,
                             std::string* file_output,
                             std::vector<double>* vindex, std::vector<std::string>* vchannels,
                             std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                             std::vector<std::string>* vpath_channel,
                             std::vector<double>* vpath_chpos,
                             std::vector<double>* vpath_attr_convs,
                             std::vector<double>* vpath_attr_value,
                             std::vector<double>* vattr_convs_loc) {
  if (!vv->empty() && vv->size() != vy->size())
    throw std::invalid_argument("vv: " + std::to_string(vv->size()) + " values for " +
                                std::to_string(vy->size()) + " paths");
  std::map<std::string, uli> mp_channels;
  double mean_index = 0.0;
  logistic_fit_cpp(vy, vc, vn, cha_sep, &mp_channels, vchannels, vindex, &mean_index, nullptr);

  vattr_convs_loc->assign(vchannels->size(), 0.0);
  JourneySource src = vector_source(vy, vc, vv, nullptr);
  src.row_sep = *row_sep;
  PathSettings settings;
  settings.cha_sep = *cha_sep;
  settings.flg_write_nulls = *flg_write_nulls;
  settings.flg_write_paths = *flg_write_paths;
  settings.file_output = *file_output;
  TouchpointRows rows;
  attribute_journeys(src, settings, mp_channels, *vindex, mean_index, &rows, vattr_convs_loc);
  rows.append_to(vpath_id, vpath_name, vpath_channel, vpath_chpos, vpath_attr_convs,
                 vpath_attr_value);

  vindex->push_back(mean_index);
  hide_index(vindex);
}
