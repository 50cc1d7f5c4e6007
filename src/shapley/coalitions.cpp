#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "journeys/journeys.h"
#include "shapley/shapley.h"

double log_factorial(uli n) {
  double r = 0;
  for (uli x = n; x > 1; --x) r += std::log(static_cast<double>(x));
  return r;
}

std::vector<std::vector<uli>> all_subsets(std::vector<uli> set) {
  std::vector<std::vector<uli>> subsets(1);
  for (uli e : set) {
    const size_t n = subsets.size();
    for (size_t k = 0; k < n; ++k) {
      std::vector<uli> with = subsets[k];
      with.push_back(e);
      subsets.push_back(std::move(with));
    }
  }
  return subsets;
}

namespace {

// Per-journey scratch, reused so a journey costs no allocation once warm.
struct Scratch {
  std::vector<std::string> names;
  std::string key;
};

Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

// Adds one journey: its coalition key, and its counts under that key.
void add_journey(const std::string& path, uli conv, uli nulls, double value, char sep,
                 bool flg_value, int type_worth, CoalitionTable* table) {
  Scratch& s = scratch();
  channels_normalised(path, sep, &s.names);
  std::sort(s.names.begin(), s.names.end());
  s.names.erase(std::unique(s.names.begin(), s.names.end()), s.names.end());
  s.key.clear();
  for (const std::string& name : s.names) {
    auto it = table->mp_channels.find(name);
    if (it == table->mp_channels.end()) {
      it = table->mp_channels.emplace(name, table->vchannels.size()).first;
      table->vchannels.push_back(name);
    }
    if (!s.key.empty()) s.key.push_back(' ');
    append_lu(s.key, it->second);
  }
  auto ins = table->convs.emplace(s.key, 0.0);
  if (ins.second) table->vcoalition.push_back(s.key);
  ins.first->second += static_cast<double>(conv);
  if (flg_value) table->value[s.key] += value;
  if (type_worth != 0) {
    table->nulls[s.key] += static_cast<double>(nulls);
    table->svc += static_cast<double>(conv);
    table->svn += static_cast<double>(nulls);
  }
}

}  // namespace

void count_coalitions(const JourneySource& src, const std::string& cha_sep, int type_worth,
                      CoalitionTable* table, std::vector<uli>* row_coalition) {
  JourneySource checked = src;
  checked.cha_sep = cha_sep.empty() ? 0 : cha_sep[0];
  const bool flg_value =
      src.flg_file ? !src.var_value.empty() : (src.vv != nullptr && !src.vv->empty());
  JourneyReader reader(checked);
  std::unordered_map<std::string, uli> position;   // key -> place in vcoalition
  if (row_coalition != nullptr) row_coalition->clear();
  while (reader.next()) {
    add_journey(reader.path(), reader.conv(), reader.nulls(), reader.value(),
                first_char(cha_sep, "cha_sep"), flg_value, type_worth, table);
    if (row_coalition != nullptr)
      row_coalition->push_back(position.emplace(scratch().key, position.size()).first->second);
    if (reader.index() % 1000000 == 999999) check_interrupt();
  }
}
