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

// The weight set of the parameter table: one row per channel, then the
// weight of unknown channels in the last row, all masked by hide_index.
struct WeightTable {
  std::vector<std::string> vchannels;   // as given, the last row included
  std::vector<double> vindex;           // unmasked, without the last row
  double mean_index = 0;
  std::map<std::string, uli> mp_channels;
};

WeightTable read_weight_table(SEXP Dparams, const std::string& var_channel,
                              const std::string& var_param) {
  WeightTable t;
  t.vchannels = as_strings(params_column(Dparams, var_channel, "var_channel"));
  t.vindex = as_reals(params_column(Dparams, var_param, "var_param"));
  if (t.vindex.empty())
    throw std::invalid_argument("Dparams has no rows: its last row must carry the weight of unknown channels");
  if (t.vchannels.size() != t.vindex.size())
    throw std::invalid_argument("Dparams: column '" + var_channel + "' has " +
                                std::to_string(t.vchannels.size()) + " rows, column '" + var_param +
                                "' " + std::to_string(t.vindex.size()));
  for (size_t j = 0; j < t.vindex.size(); ++j)
    if (std::isnan(t.vindex[j]))
      throw std::invalid_argument("Dparams: column '" + var_param + "' (var_param): row " +
                                  std::to_string(j + 1) + " is NA");
  unhide_index(&t.vindex);
  t.mean_index = t.vindex.back();
  t.vindex.pop_back();
  // A channel named twice keeps its last row.
  for (uli j = 0; j < t.vindex.size(); ++j) t.mp_channels[t.vchannels[j]] = j;
  return t;
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
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, nullptr, row_sep_p);
  std::string var_channel = as_str(var_channel_p);
  std::string var_param = as_str(var_param_p);
  PathSettings settings;
  settings.cha_sep = as_str(cha_sep_p);
  settings.flg_write_nulls = as_int(flg_write_nulls_p);
  settings.flg_write_paths = as_int(flg_write_paths_p);
  settings.file_output = as_str(file_output_p);
  (void)as_int(verbose_p);   // accepted; nothing is printed
  in.load(Data_p);
  const WeightTable t = read_weight_table(Dparams_p, var_channel, var_param);

  std::vector<double> vattr_convs_loc(t.vindex.size(), 0.0);
  TouchpointRows rows;
  attribute_journeys(in.src, settings, t.mp_channels, t.vindex, t.mean_index, &rows, &vattr_convs_loc);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = t.vchannels,
                            Rcpp::Named("vindex") = t.vindex,
                            Rcpp::Named("vpath_id") = rows.vpath_id,
                            Rcpp::Named("vpath_name") = to_character(rows.vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(rows.vpath_channel),
                            Rcpp::Named("vpath_chpos") = rows.vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = rows.vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = rows.vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = vattr_convs_loc); });
  END_RCPP
}
