// markov_run: the model for callers inside the library.
#include "markov/markov.h"

MarkovResult markov_run(const JourneySource& src, const std::string& cha_sep,
                        const MarkovSettings& settings) {
  MarkovSettings set = settings;
  MarkovResult r;
  int flg_file = src.flg_file;
  std::string file = src.file, var_path = src.var_path, var_conv = src.var_conv,
              var_value = src.var_value, var_null = src.var_null, row_sep = src.row_sep,
              sep = cha_sep;
  std::vector<std::string> vy = src.vy ? *src.vy : std::vector<std::string>();
  std::vector<uli> vc = src.vc ? *src.vc : std::vector<uli>();
  std::vector<double> vv = src.vv ? *src.vv : std::vector<double>();
  std::vector<uli> vn = src.vn ? *src.vn : std::vector<uli>();
  markov_model_method_cpp(&set.method, &flg_file, &file, &var_path, &var_conv, &var_value,
                          &var_null, &vy, &vc, &vv, &vn, &row_sep, &sep, &set.type, &set.order,
                          &set.nsim_start, &set.max_step, &set.ncore, &set.nfold, &set.seed,
                          &set.conv_par, &set.rate_step_sim, &set.verbose, &set.flg_out_tran_mtx,
                          &set.file_output, &set.flg_write_nulls, &set.flg_write_paths,
                          &r.vchannels, &r.vindex, &set.flg_out_attr, &r.vpath_id, &r.vpath_name,
                          &r.vpath_channel, &r.vpath_chpos, &r.vpath_attr_convs,
                          &r.vpath_attr_value, &r.vattr_convs_loc, &r.vattr_convs_glob,
                          &r.vattr_value_glob, &r.vchannel_from_mtx, &r.vchannel_to_mtx,
                          &r.vtran_prob_mtx, &r.s_nconv, &r.s_nnull, &r.vindex_raw);
  return r;
}
