#include <algorithm>
#include <cctype>
#include <limits>
#include <map>
#include <stdexcept>

#include "journeys/journeys.h"
#include "nba/nba.h"

void next_best_action_cpp(std::string* new_path, std::string* sep,
                          std::vector<std::string>* v_index_from, std::vector<uli>* v_index_to,
                          std::vector<double>* v_index_value, std::vector<std::string>* vchannels,
                          std::string* best_action, double* best_index,
                          std::vector<double>* v_indices) {
  const size_t nch = vchannels->size();
  if (nch == 0) throw std::invalid_argument("vchannels is empty: there is no channel to suggest");
  const size_t nrow = v_index_from->size();
  if (v_index_to->size() != nrow || v_index_value->size() != nrow)
    throw std::invalid_argument("the table columns path_from, channel_to and conversion_rate have " +
                                std::to_string(nrow) + ", " + std::to_string(v_index_to->size()) +
                                " and " + std::to_string(v_index_value->size()) +
                                " rows; they must be equal");
  for (size_t r = 0; r < nrow; ++r)
    if ((*v_index_to)[r] >= nch)
      throw std::invalid_argument("channel_to " + std::to_string((*v_index_to)[r]) + " in row " +
                                  std::to_string(r + 1) + " is not a channel index (0 to " +
                                  std::to_string(nch - 1) + ")");

  // Encode the journey, dropping channels the table does not know.
  std::vector<std::string> pieces;
  channels_normalised(*new_path, first_char(*sep, "sep"), &pieces);
  std::map<std::string, size_t> first_index;
  for (size_t j = nch; j-- > 0;) first_index[(*vchannels)[j]] = j;
  std::string new_path_enc;
  for (const auto& p : pieces) {
    auto it = first_index.find(p);
    if (it == first_index.end()) continue;
    if (!new_path_enc.empty()) new_path_enc.push_back(' ');
    new_path_enc += std::to_string(it->second);
  }

  std::map<std::string, std::map<uli, double>> mp_index;
  for (size_t r = 0; r < nrow; ++r) mp_index[(*v_index_from)[r]][(*v_index_to)[r]] = (*v_index_value)[r];

  *best_index = -std::numeric_limits<double>::infinity();
  v_indices->assign(nch, -std::numeric_limits<double>::infinity());
  size_t ibest_action = 0;
  auto score_row = [&](std::map<std::string, std::map<uli, double>>::const_iterator row) {
    for (size_t i = 0; i < nch; ++i) {
      double rate = 0.0;
      if (row != mp_index.end()) {
        auto cell = row->second.find(i);
        if (cell != row->second.end()) rate = cell->second;
      }
      if (rate >= *best_index) {
        *best_index = rate;
        ibest_action = i;
      }
      if (rate >= (*v_indices)[i]) (*v_indices)[i] = rate;
    }
  };
  auto score = [&](const std::string& history) { score_row(mp_index.find(history)); };
  score(new_path_enc);

  size_t n = 0;
  for (char c : new_path_enc) n += std::isspace(static_cast<unsigned char>(c)) ? 1 : 0;
  if (n > 0) {
    // The suffix that drops k channels has n - k blanks and cannot equal a
    // key with fewer blanks. Such suffixes all score as an unknown history,
    // and scoring it again right away changes nothing, so one stands for
    // all of them: a long journey costs no more than the table's longest key.
    size_t max_blanks = 0;
    for (const auto& key : mp_index)
      max_blanks = std::max(max_blanks, static_cast<size_t>(std::count(key.first.begin(), key.first.end(), ' ')));
    size_t k = 1;
    if (n - 1 > max_blanks) {
      score_row(mp_index.end());
      k = n - max_blanks;
    }
    std::vector<sli> enc = split_string(new_path_enc, n + 1);
    for (; k <= n; ++k) score(collapse_vec_to_str(std::vector<sli>(enc.begin() + k, enc.end())));
  }
  *best_action = (*vchannels)[ibest_action];
}
