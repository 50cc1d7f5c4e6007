// The model's fixed-signature entry points, forwarders of markov_run: their
// arguments gathered into a journey source and settings, its result handed
// back through the output pointers.
#include "markov/markov.h"

namespace {

// The column names decide whether values and nulls count, for vectors too.
JourneySource gathered_source(const int* flg_file, const std::string* file,
                              const std::string* var_path, const std::string* var_conv,
                              const std::string* var_value, const std::string* var_null,
                              const std::string* row_sep, const std::vector<std::string>* vy,
                              const std::vector<uli>* vc, const std::vector<double>* vv,
                              const std::vector<uli>* vn) {
  JourneySource src = file_source(*file, *var_path, *var_conv, *var_value, *var_null, *row_sep);
  src.flg_file = *flg_file;
  src.vy = vy;
  src.vc = vc;
  src.vv = vv;
  src.vn = vn;
  return src;
}

MarkovSettings gathered_settings(const MarkovMethod& method, int type, uli order,
                                 uli nsim_start, uli max_step, uli ncore, uli nfold, uli seed,
                                 double conv_par, double rate_step_sim, int verbose,
                                 int flg_out_tran_mtx, int flg_out_attr, int flg_write_nulls,
                                 int flg_write_paths, const std::string& file_output) {
  MarkovSettings set;
  set.type = type;
  set.order = order;
  set.nsim_start = nsim_start;
  set.max_step = max_step;
  set.ncore = ncore;
  set.nfold = nfold;
  set.seed = seed;
  set.conv_par = conv_par;
  set.rate_step_sim = rate_step_sim;
  set.verbose = verbose;
  set.flg_out_tran_mtx = flg_out_tran_mtx;
  set.flg_out_attr = flg_out_attr;
  set.flg_write_nulls = flg_write_nulls;
  set.flg_write_paths = flg_write_paths;
  set.file_output = file_output;
  set.method = method;
  return set;
}

// The outputs of both entries, filled from one run.
struct Outputs {
  uli* nsim_start;
  int flg_out_tran_mtx;
  std::vector<std::string>* vchannels;
  std::vector<double>* vindex;
  std::vector<double>* vpath_id;
  std::vector<std::string>* vpath_name;
  std::vector<std::string>* vpath_channel;
  std::vector<double>* vpath_chpos;
  std::vector<double>* vpath_attr_convs;
  std::vector<double>* vpath_attr_value;
  std::vector<double>* vattr_convs_loc;
  std::vector<double>* vattr_convs_glob;
  std::vector<double>* vattr_value_glob;
  std::vector<std::string>* vchannel_from_mtx;
  std::vector<std::string>* vchannel_to_mtx;
  std::vector<double>* vtran_prob_mtx;
  double* s_nconv;
  double* s_nnull;
  std::vector<double>* vindex_raw;

  void take(MarkovResult&& r) const {
    *vchannels = std::move(r.vchannels);
    *vindex = std::move(r.vindex);
    *vindex_raw = std::move(r.vindex_raw);
    *vpath_id = std::move(r.vpath_id);
    *vpath_name = std::move(r.vpath_name);
    *vpath_channel = std::move(r.vpath_channel);
    *vpath_chpos = std::move(r.vpath_chpos);
    *vpath_attr_convs = std::move(r.vpath_attr_convs);
    *vpath_attr_value = std::move(r.vpath_attr_value);
    *vattr_convs_loc = std::move(r.vattr_convs_loc);
    *vattr_convs_glob = std::move(r.vattr_convs_glob);
    *vattr_value_glob = std::move(r.vattr_value_glob);
    *vchannel_from_mtx = std::move(r.vchannel_from_mtx);
    *vchannel_to_mtx = std::move(r.vchannel_to_mtx);
    *vtran_prob_mtx = std::move(r.vtran_prob_mtx);
    *nsim_start = r.nsim_start;
    // Only a run that estimates the counts reports them.
    if (flg_out_tran_mtx <= 1) {
      *s_nconv = r.s_nconv;
      *s_nnull = r.s_nnull;
    }
  }
};

}  // namespace

void markov_model_method_cpp(const MarkovMethod* method, int* flg_file, std::string* file,
                             std::string* var_path, std::string* var_conv, std::string* var_value,
                             std::string* var_null, std::vector<std::string>* vy,
                             std::vector<uli>* vc, std::vector<double>* vv, std::vector<uli>* vn,
                             std::string* row_sep, std::string* cha_sep, int* type, uli* order,
                             uli* nsim_start, uli* max_step, uli* ncore, uli* nfold, uli* seed,
                             double* conv_par, double* rate_step_sim, int* verbose,
                             int* flg_out_tran_mtx, std::string* file_output,
                             int* flg_write_nulls, int* flg_write_paths,
                             std::vector<std::string>* vchannels, std::vector<double>* vindex,
                             int* flg_out_attr, std::vector<double>* vpath_id,
                             std::vector<std::string>* vpath_name,
                             std::vector<std::string>* vpath_channel,
                             std::vector<double>* vpath_chpos,
                             std::vector<double>* vpath_attr_convs,
                             std::vector<double>* vpath_attr_value,
                             std::vector<double>* vattr_convs_loc,
                             std::vector<double>* vattr_convs_glob,
                             std::vector<double>* vattr_value_glob,
                             std::vector<std::string>* vchannel_from_mtx,
                             std::vector<std::string>* vchannel_to_mtx,
                             std::vector<double>* vtran_prob_mtx, double* s_nconv,
                             double* s_nnull, std::vector<double>* vindex_raw) {
  const Outputs out{nsim_start, *flg_out_tran_mtx, vchannels, vindex, vpath_id, vpath_name,
                    vpath_channel, vpath_chpos, vpath_attr_convs, vpath_attr_value,
                    vattr_convs_loc, vattr_convs_glob, vattr_value_glob, vchannel_from_mtx,
                    vchannel_to_mtx, vtran_prob_mtx, s_nconv, s_nnull, vindex_raw};
  out.take(markov_run(gathered_source(flg_file, file, var_path, var_conv, var_value, var_null,
                                      row_sep, vy, vc, vv, vn),
                      *cha_sep,
                      gathered_settings(*method, *type, *order, *nsim_start, *max_step, *ncore,
                                        *nfold, *seed, *conv_par, *rate_step_sim, *verbose,
                                        *flg_out_tran_mtx, *flg_out_attr, *flg_write_nulls,
                                        *flg_write_paths, *file_output)));
}

void markov_model_cpp(int* flg_file, std::string* file, std::string* var_path,
                      std::string* var_conv, std::string* var_value, std::string* var_null,
                      std::vector<std::string>* vy, std::vector<uli>* vc,
                      std::vector<double>* vv, std::vector<uli>* vn, std::string* row_sep,
                      std::string* cha_sep, int* type, uli* order, uli* nsim_start,
                      uli* max_step, uli* ncore, uli* nfold, uli* seed, double* conv_par,
                      double* rate_step_sim, int* verbose, int* flg_out_tran_mtx,
                      std::string* file_output, int* flg_write_nulls, int* flg_write_paths,
                      std::vector<std::string>* vchannels, std::vector<double>* vindex,
                      int* flg_out_attr,
                      std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                      std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                      std::vector<double>* vpath_attr_convs,
                      std::vector<double>* vpath_attr_value,
                      std::vector<double>* vattr_convs_loc,
                      std::vector<double>* vattr_convs_glob,
                      std::vector<double>* vattr_value_glob,
                      std::vector<std::string>* vchannel_from_mtx,
                      std::vector<std::string>* vchannel_to_mtx,
                      std::vector<double>* vtran_prob_mtx, double* s_nconv, double* s_nnull,
                      std::vector<double>* vindex_raw) {
  // The simulation, as this entry has always estimated the counts.
  const Outputs out{nsim_start, *flg_out_tran_mtx, vchannels, vindex, vpath_id, vpath_name,
                    vpath_channel, vpath_chpos, vpath_attr_convs, vpath_attr_value,
                    vattr_convs_loc, vattr_convs_glob, vattr_value_glob, vchannel_from_mtx,
                    vchannel_to_mtx, vtran_prob_mtx, s_nconv, s_nnull, vindex_raw};
  out.take(markov_run(gathered_source(flg_file, file, var_path, var_conv, var_value, var_null,
                                      row_sep, vy, vc, vv, vn),
                      *cha_sep,
                      gathered_settings(MarkovMethod(), *type, *order, *nsim_start, *max_step, *ncore,
                                        *nfold, *seed, *conv_par, *rate_step_sim, *verbose,
                                        *flg_out_tran_mtx, *flg_out_attr, *flg_write_nulls,
                                        *flg_write_paths, *file_output)));
}

void markov_simulation(const Fx* S, const std::vector<sli>* state_channels, uli* order,
                       uli* nchannels, uli* max_npassi, uli* max_step, uli* nsim_start,
                       uli* ncore, uli* nfold, uli* seed, double* conv_par,
                       double* rate_step_sim, int* verbose, int* flg_null, double* svc,
                       std::vector<double>* Tc, std::vector<double>* Nc, double* s_nconv,
                       double* s_nnull) {
  if (*nsim_start == 0) *nsim_start = kDefaultSimulations;
  SimulationOutcome r = markov_simulate(
      *S, *state_channels, *order, *nchannels, *max_npassi, *flg_null != 0, *svc,
      {*nsim_start, *max_step, *ncore, *nfold, *seed, *conv_par, *rate_step_sim, *verbose});
  *nsim_start = r.nsim_start;
  *Tc = std::move(r.Tc);
  *Nc = std::move(r.Nc);
  *s_nconv = r.s_nconv;
  *s_nnull = r.s_nnull;
}
