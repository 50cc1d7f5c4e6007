// The fixed-signature entry of the next-best-action prediction, a
// forwarder of nba_predict_run.
#include "nba/nba.h"

void next_best_action_cpp(std::string* new_path, std::string* sep,
                          std::vector<std::string>* v_index_from, std::vector<uli>* v_index_to,
                          std::vector<double>* v_index_value, std::vector<std::string>* vchannels,
                          std::string* best_action, double* best_index,
                          std::vector<double>* v_indices) {
  NbaPrediction p =
      nba_predict_run({0, *vchannels, *v_index_from, *v_index_to, *v_index_value}, *new_path,
                      {*sep});
  *best_action = std::move(p.best_action);
  *best_index = p.best_index;
  *v_indices = std::move(p.v_indices);
}
