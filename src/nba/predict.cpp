#include <algorithm>
#include <cctype>
#include <limits>
#include <map>
#include <stdexcept>

#include "journeys/journeys.h"
#include "nba/nba.h"

namespace {

typedef std::map<std::string, std::map<uli, double>> RateTable;   // history -> channel -> rate

void check_table(const std::vector<std::string>& v_index_from, const std::vector<uli>& v_index_to,
                 const std::vector<double>& v_index_value, size_t nch) {
  if (nch == 0) throw std::invalid_argument("vchannels is empty: there is no channel to suggest");
  const size_t nrow = v_index_from.size();
  if (v_index_to.size() != nrow || v_index_value.size() != nrow)
    throw std::invalid_argument("the table columns path_from, channel_to and conversion_rate have " +
                                std::to_string(nrow) + ", " + std::to_string(v_index_to.size()) +
                                " and " + std::to_string(v_index_value.size()) +
                                " rows; they must be equal");
  for (size_t r = 0; r < nrow; ++r)
    if (v_index_to[r] >= nch)
      throw std::invalid_argument("channel_to " + std::to_string(v_index_to[r]) + " in row " +
                                  std::to_string(r + 1) + " is not a channel index (0 to " +
                                  std::to_string(nch - 1) + ")");
}

// The journey as blank-separated channel indices (a name listed twice
// takes its first index), dropping channels the table does not know.
std::string encode_known(const std::string& new_path, const std::string& sep,
                         const std::vector<std::string>& vchannels) {
  std::vector<std::string> pieces;
  channels_normalised(new_path, first_char(sep, "sep"), &pieces);
  std::map<std::string, size_t> first_index;
  for (size_t j = vchannels.size(); j-- > 0;) first_index[vchannels[j]] = j;
  std::string enc;
  for (const auto& p : pieces) {
    auto it = first_index.find(p);
    if (it == first_index.end()) continue;
    if (!enc.empty()) enc.push_back(' ');
    enc += std::to_string(it->second);
  }
  return enc;
}

// Keeps the best channel over every history scored (ties to the later
// one) and each channel's best rate; a channel a history does not list
// rates 0 there.
struct Scores {
  const RateTable& table;
  size_t nch;
  double best_index = -std::numeric_limits<double>::infinity();
  size_t ibest_action = 0;
  std::vector<double> v_indices;

  Scores(const RateTable& t, size_t n)
      : table(t), nch(n), v_indices(n, -std::numeric_limits<double>::infinity()) {}

  void row(RateTable::const_iterator it) {
    for (size_t i = 0; i < nch; ++i) {
      double rate = 0.0;
      if (it != table.end()) {
        auto cell = it->second.find(i);
        if (cell != it->second.end()) rate = cell->second;
      }
      if (rate >= best_index) {
        best_index = rate;
        ibest_action = i;
      }
      if (rate >= v_indices[i]) v_indices[i] = rate;
    }
  }
  void history(const std::string& h) { row(table.find(h)); }
};

// Scores every proper suffix of the encoded journey (n blanks), longest
// first. The suffix that drops k channels has n - k blanks and cannot
// equal a key with fewer blanks. Such suffixes all score as an unknown
// history, and scoring it again right away changes nothing, so one stands
// for all of them: a long journey costs no more than the table's longest
// key.
void score_suffixes(const std::string& enc, size_t n, Scores* sc) {
  size_t max_blanks = 0;
  for (const auto& key : sc->table)
    max_blanks = std::max(max_blanks, static_cast<size_t>(std::count(key.first.begin(), key.first.end(), ' ')));
  size_t k = 1;
  if (n - 1 > max_blanks) {
    sc->row(sc->table.end());
    k = n - max_blanks;
  }
  std::vector<sli> idx = split_string(enc, n + 1);
  for (; k <= n; ++k) sc->history(collapse_vec_to_str(std::vector<sli>(idx.begin() + k, idx.end())));
}

}  // namespace

void NbaPredictSettings::validate() const { first_char(sep, "sep"); }

NbaPrediction nba_predict_run(const NbaTable& t, const std::string& new_path,
                              const NbaPredictSettings& settings) {
  const size_t nch = t.vchannels.size();
  check_table(t.v_index_from, t.v_index_to, t.v_index_value, nch);
  settings.validate();
  const std::string enc = encode_known(new_path, settings.sep, t.vchannels);
  RateTable table;
  for (size_t r = 0; r < t.v_index_from.size(); ++r)
    table[t.v_index_from[r]][t.v_index_to[r]] = t.v_index_value[r];

  Scores sc(table, nch);
  sc.history(enc);
  size_t n = 0;
  for (char c : enc) n += std::isspace(static_cast<unsigned char>(c)) ? 1 : 0;
  if (n > 0) score_suffixes(enc, n, &sc);
  NbaPrediction p;
  p.best_index = sc.best_index;
  p.v_indices = std::move(sc.v_indices);
  p.best_action = t.vchannels[sc.ibest_action];
  return p;
}
