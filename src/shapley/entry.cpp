// The fixed-signature entry of the Shapley model: its arguments gathered
// into a journey source and settings for shapley_run.
#include <stdexcept>

#include "common/common.h"
#include "shapley/shapley.h"

void shapley_cpp(const int* flg_file, const std::string* file, const std::string* var_path,
                 const std::string* var_conv, const std::string* var_value,
                 const std::string* var_null, const std::vector<std::string>* vy,
                 const std::vector<uli>* vc, const std::vector<double>* vv,
                 const std::vector<uli>* vn, const std::string* row_sep,
                 const std::string* cha_sep, const int* flg_simplified, const int* type_worth,
                 const int* flg_write_nulls, const int* flg_write_paths,
                 const std::string* file_output,
                 std::vector<std::string>* vchannels, std::vector<double>* vindex,
                 std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                 std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                 std::vector<double>* vpath_attr_convs, std::vector<double>* vpath_attr_value,
                 std::vector<double>* vattr_convs_loc, std::vector<double>* vattr_convs_glob,
                 std::vector<double>* vattr_value_glob) {
  ShapleySettings settings;
  settings.cha_sep = *cha_sep;
  settings.flg_simplified = *flg_simplified;
  settings.type_worth = *type_worth;
  settings.flg_write_nulls = *flg_write_nulls;
  settings.flg_write_paths = *flg_write_paths;
  settings.file_output = *file_output;
  settings.validate();
  const bool from_file = *flg_file != 0;
  if (from_file) ResultFile::check_not_input(*file_output, *file);
  const bool flg_value = !var_value->empty(), flg_null = !var_null->empty();
  static const std::vector<double> no_values;
  static const std::vector<uli> no_nulls;
  JourneySource src;
  if (from_file) {
    src = file_source(*file, *var_path, *var_conv, *var_value, *var_null, *row_sep);
  } else {
    if (flg_value && vv->size() != vy->size())
      throw std::invalid_argument("var_value is given but the journeys have " +
                                  std::to_string(vv->size()) + " values for " +
                                  std::to_string(vy->size()) + " paths");
    if (flg_null && vn->size() != vy->size())
      throw std::invalid_argument("var_null is given but the journeys have " +
                                  std::to_string(vn->size()) + " null counts for " +
                                  std::to_string(vy->size()) + " paths");
    src = vector_source(vy, vc, flg_value ? vv : &no_values, flg_null ? vn : &no_nulls);
    src.var_value = *var_value;
    src.var_null = *var_null;
    src.field_sep = *row_sep;
  }
  ShapleyResult r = shapley_run(src, settings);
  *vchannels = std::move(r.vchannels);
  *vindex = std::move(r.vindex);
  *vpath_id = std::move(r.rows.vpath_id);
  *vpath_name = std::move(r.rows.vpath_name);
  *vpath_channel = std::move(r.rows.vpath_channel);
  *vpath_chpos = std::move(r.rows.vpath_chpos);
  *vpath_attr_convs = std::move(r.rows.vpath_attr_convs);
  *vpath_attr_value = std::move(r.rows.vpath_attr_value);
  *vattr_convs_loc = std::move(r.vattr_convs_loc);
  *vattr_convs_glob = std::move(r.vattr_convs_glob);
  *vattr_value_glob = std::move(r.vattr_value_glob);
}
