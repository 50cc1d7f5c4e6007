// The fixed-signature entries of the heuristic models: arguments gathered
// into a journey source and settings, results handed back by pointer.
#include "heuristic/heuristic.h"

namespace {
JourneySource arguments_source(int flg_file, const std::string& file, const std::string& var_path,
                               const std::string& var_conv, const std::string& var_value,
                               const std::string& row_sep, const std::vector<std::string>* vy,
                               const std::vector<uli>* vc, const std::vector<double>* vv) {
  JourneySource src = input_source(flg_file, file, var_path, var_conv, var_value, row_sep, vy, vc, vv);
  src.field_sep = row_sep;
  return src;
}
}  // namespace

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
  HeuristicResult r = heuristic_run(
      arguments_source(*flg_file, *file, *var_path, *var_conv, *var_value, *row_sep, vy, vc, vv),
      HeuristicSettings{*cha_sep, *flg_write_nulls, *flg_write_paths, *file_output, *verbose});
  *vpath_id = std::move(r.vpath_id);
  *vpath_name = std::move(r.vpath_name);
  *vpath_channel = std::move(r.vpath_channel);
  *vpath_chpos = std::move(r.vpath_chpos);
  *vpath_attr_convs_first = std::move(r.vpath_attr_convs_first);
  *vpath_attr_value_first = std::move(r.vpath_attr_value_first);
  *vpath_attr_convs_last = std::move(r.vpath_attr_convs_last);
  *vpath_attr_value_last = std::move(r.vpath_attr_value_last);
  *vpath_attr_convs_linear = std::move(r.vpath_attr_convs_linear);
  *vpath_attr_value_linear = std::move(r.vpath_attr_value_linear);
}

void rule_models_cpp(int* flg_file, std::string* file, std::string* var_path,
                     std::string* var_conv, std::string* var_value, std::vector<std::string>* vy,
                     std::vector<uli>* vc, std::vector<double>* vv, std::string* row_sep,
                     std::string* cha_sep, double* first_share, double* last_share,
                     std::vector<std::string>* direct_channels, int* verbose,
                     std::vector<std::string>* vchannels, std::vector<double>* vposition_convs,
                     std::vector<double>* vposition_value, std::vector<double>* vlnd_convs,
                     std::vector<double>* vlnd_value) {
  RuleResult r = rule_run(
      arguments_source(*flg_file, *file, *var_path, *var_conv, *var_value, *row_sep, vy, vc, vv),
      RuleSettings{*cha_sep, *first_share, *last_share, *direct_channels, *verbose});
  *vchannels = std::move(r.vchannels);
  *vposition_convs = std::move(r.vposition_convs);
  *vposition_value = std::move(r.vposition_value);
  *vlnd_convs = std::move(r.vlnd_convs);
  *vlnd_value = std::move(r.vlnd_value);
}

void time_decay_cpp(const std::vector<std::string>* vpath, const std::vector<std::string>* vdays,
                    const std::vector<uli>* vconv, const std::vector<double>* vvalue,
                    char channel_sep, double half_life, std::vector<std::string>* vchannels,
                    std::vector<double>* vattr_conv, std::vector<double>* vattr_value) {
  TimeDecayResult r = time_decay_run(TimeDecayInput{*vpath, *vdays, *vconv, *vvalue},
                                     TimeDecaySettings{std::string(1, channel_sep), half_life});
  *vchannels = std::move(r.vchannels);
  *vattr_conv = std::move(r.vattr_conv);
  *vattr_value = std::move(r.vattr_value);
}
