#include <cmath>
#include <stdexcept>

#include "frame/frame.h"
#include "pathattr/pathattr.h"

namespace {

// A column of the parameter table, named with the argument that asked for it.
SEXP params_column(SEXP Dparams, const std::string& name, const char* arg) {
  Rcpp::List params(Dparams);
  SEXP names = Rf_getAttrib(params, R_NamesSymbol);
  if (names != R_NilValue) {
    Rcpp::CharacterVector nm(names);
    // Like list lookup by name, the first match is taken.
    for (R_xlen_t j = 0; j < nm.size(); ++j)
      if (nm[j] != NA_STRING && name == Rcpp::as<std::string>(nm[j])) return params[j];
  }
  throw std::invalid_argument("column '" + name + "' (" + arg + ") not found in Dparams");
}

}  // namespace

extern "C" SEXP new_paths_attribution_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p,
                                        SEXP var_path_p, SEXP var_conv_p, SEXP var_value_p,
                                        SEXP Dparams_p, SEXP var_channel_p, SEXP var_param_p,
                                        SEXP row_sep_p, SEXP cha_sep_p, SEXP flg_write_nulls_p,
                                        SEXP flg_write_paths_p, SEXP file_output_p,
                                        SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_value = as_str(var_value_p);
  std::string var_channel = as_str(var_channel_p);
  std::string var_param = as_str(var_param_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  int flg_write_nulls = as_flag(flg_write_nulls_p);
  int flg_write_paths = as_flag(flg_write_paths_p);
  std::string file_output = as_str(file_output_p);
  int verbose = as_flag(verbose_p);
  (void)verbose;   // accepted; nothing is printed
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, var_value, "", &vy, &vc, &vv, &vn);

  std::vector<std::string> vchannels = as_strings(params_column(Dparams_p, var_channel, "var_channel"));
  std::vector<double> vindex = as_reals(params_column(Dparams_p, var_param, "var_param"));
  if (vindex.empty())
    throw std::invalid_argument("Dparams has no rows: its last row must carry the weight of unknown channels");
  if (vchannels.size() != vindex.size())
    throw std::invalid_argument("Dparams: column '" + var_channel + "' has " +
                                std::to_string(vchannels.size()) + " rows, column '" + var_param +
                                "' " + std::to_string(vindex.size()));
  for (size_t j = 0; j < vindex.size(); ++j)
    if (std::isnan(vindex[j]))
      throw std::invalid_argument("Dparams: column '" + var_param + "' (var_param): row " +
                                  std::to_string(j + 1) + " is NA");
  unhide_index(&vindex);
  double mean_index = vindex.back();
  vindex.pop_back();
  const uli nchannels = vindex.size();
  std::map<std::string, uli> mp_channels;
  for (uli j = 0; j < nchannels; ++j) mp_channels[vchannels[j]] = j;
  std::vector<double> vattr_convs_loc(nchannels, 0.0);

  std::vector<double> vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value;
  std::vector<std::string> vpath_name, vpath_channel;
  if (flg_file != 0)
    attribution_from_file(&file, &var_path, &var_conv, &var_value, &row_sep, &cha_sep,
                          &flg_write_nulls, &flg_write_paths, &file_output, &mp_channels, &vindex,
                          &mean_index, &vpath_id, &vpath_name, &vpath_channel, &vpath_chpos,
                          &vpath_attr_convs, &vpath_attr_value, &vattr_convs_loc);
  else
    attribution_from_vec(&vy, &vc, &vv, &mp_channels, &cha_sep, &flg_write_nulls, &flg_write_paths,
                         &file_output, &row_sep, &vindex, &mean_index, &vpath_id, &vpath_name,
                         &vpath_channel, &vpath_chpos, &vpath_attr_convs, &vpath_attr_value,
                         &vattr_convs_loc);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = vchannels,
                            Rcpp::Named("vindex") = vindex,
                            Rcpp::Named("vpath_id") = vpath_id,
                            Rcpp::Named("vpath_name") = to_character(vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(vpath_channel),
                            Rcpp::Named("vpath_chpos") = vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = vattr_convs_loc); });
  END_RCPP
}
