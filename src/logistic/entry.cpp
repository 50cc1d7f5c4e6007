// The fixed-signature entry of the logistic model, a forwarder of
// logistic_run.
#include "logistic/logistic.h"
#include "journeys/journeys.h"

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
  JourneySource src = vector_source(vy, vc, vv, vn);
  src.field_sep = *row_sep;
  LogisticResult r = logistic_run(src, {*cha_sep, *flg_write_nulls, *flg_write_paths, *file_output});
  *vindex = std::move(r.vindex);
  *vchannels = std::move(r.vchannels);
  *vpath_id = std::move(r.vpath_id);
  *vpath_name = std::move(r.vpath_name);
  *vpath_channel = std::move(r.vpath_channel);
  *vpath_chpos = std::move(r.vpath_chpos);
  *vpath_attr_convs = std::move(r.vpath_attr_convs);
  *vpath_attr_value = std::move(r.vpath_attr_value);
  *vattr_convs_loc = std::move(r.vattr_convs_loc);
}
