#include <stdexcept>

#include "budget/budget.h"

namespace {
void check_lengths(size_t n1, const char* name1, size_t n2, const char* name2) {
  if (n1 != n2)
    throw std::invalid_argument(std::string(name1) + " has " + std::to_string(n1) +
                                " entries but " + name2 + " has " + std::to_string(n2));
}

// Position of each attributed channel among the cost channels; both sets
// must be the same, otherwise budgets would land on the wrong channel.
std::vector<uli> cost_positions(const std::map<uli, std::string>& attr_inv,
                                const std::map<std::string, uli>& cost_int,
                                const std::map<std::string, uli>& attr_int) {
  std::vector<uli> pos;
  pos.reserve(attr_inv.size());
  for (const auto& kv : attr_inv) {
    auto it = cost_int.find(kv.second);
    if (it == cost_int.end())
      throw std::invalid_argument("attributed channel '" + kv.second +
                                  "' has no row in vcost_channels");
    pos.push_back(it->second);
  }
  for (const auto& kv : cost_int)
    if (!attr_int.count(kv.first))
      throw std::invalid_argument("cost channel '" + kv.first +
                                  "' has no row in vattr_channels");
  return pos;
}

// Per distinct channel, in order of first appearance: the sums of
// vattr_conversions and (when it is not empty) of vattr_value, the map
// name -> position and its inverse. The outputs start empty.
void sum_groupby_channel(std::vector<std::string>* vattr_channels,
                         std::vector<double>* vattr_conversions, std::vector<double>* vattr_value,
                         std::vector<double>* vattr_conversions_unq,
                         std::vector<double>* vattr_value_unq,
                         std::map<std::string, uli>* mp_channels_int,
                         std::map<uli, std::string>* mp_channels_inv) {
  const size_t n = vattr_channels->size();
  check_lengths(n, "the channel column", vattr_conversions->size(), "its first number column");
  const bool flg_value = !vattr_value->empty();
  if (flg_value) check_lengths(n, "the channel column", vattr_value->size(), "its second number column");
  for (size_t k = 0; k < n; ++k) {
    const std::string& c = (*vattr_channels)[k];
    auto ins = mp_channels_int->emplace(c, mp_channels_int->size());
    const uli z = ins.first->second;
    if (ins.second) {
      (*mp_channels_inv)[z] = c;
      vattr_conversions_unq->push_back(0);
      if (flg_value) vattr_value_unq->push_back(0);
    }
    (*vattr_conversions_unq)[z] += (*vattr_conversions)[k];
    if (flg_value) (*vattr_value_unq)[z] += (*vattr_value)[k];
  }
}

// One table summed by channel name, channels numbered in order of first
// appearance.
struct ChannelTotals {
  std::vector<double> first, second;
  std::map<std::string, uli> at;
  std::map<uli, std::string> name;
};

ChannelTotals totals_by_channel(std::vector<std::string>* channels, std::vector<double>* first,
                                std::vector<double>* second) {
  ChannelTotals t;
  sum_groupby_channel(channels, first, second, &t.first, &t.second, &t.at, &t.name);
  return t;
}

// Return on spend per channel: attributed value over cost. Ten
// conversions' worth added to value and cost pulls small channels towards
// a return of 1.
std::vector<double> roi_from_value(const ChannelTotals& attr, const std::vector<double>& cost,
                                   const std::vector<uli>& vcost_pos) {
  std::vector<double> vroi(attr.first.size(), 0.0);
  for (uli k = 0; k < vroi.size(); ++k) {
    const double attr_unit_value = attr.second[k] / attr.first[k];
    vroi[k] = (attr.second[k] + 10 * attr_unit_value) / (cost[vcost_pos[k]] + 10 * attr_unit_value);
  }
  return vroi;
}

// Return per channel from the model's (masked) index, summed by channel.
std::vector<double> roi_from_index(const ChannelTotals& attr,
                                   std::vector<std::string>* vindex_channels,
                                   const std::vector<double>& vindex_value) {
  if (vindex_value.size() != vindex_channels->size() + 1)
    throw std::invalid_argument(
        "vindex_value must hold one entry per vindex_channels entry plus the mean index: " +
        std::to_string(vindex_value.size()) + " entries for " +
        std::to_string(vindex_channels->size()) + " channels");
  std::vector<double> vindex(vindex_value);
  unhide_index(&vindex);
  vindex.pop_back();
  std::vector<double> no_second;
  const ChannelTotals index = totals_by_channel(vindex_channels, &vindex, &no_second);
  std::vector<double> vroi(attr.first.size(), 0.0);
  for (uli k = 0; k < vroi.size(); ++k) {
    const std::string& c = attr.name.at(k);
    auto it = index.at.find(c);
    if (it == index.at.end())
      throw std::invalid_argument("attributed channel '" + c + "' has no entry in vindex_channels");
    vroi[k] = index.first[it->second];
  }
  return vroi;
}

}  // namespace

void BudgetSettings::validate() const {
  if (!(total_budget_new >= 0))
    throw std::invalid_argument("total_budget must be a number of at least 0");
  if (!(perc_reall >= 0 && perc_reall <= 1))
    throw std::invalid_argument("reallocate must be a number from 0 to 1");
  if (!(min_perc_budget >= 0 && min_perc_budget <= 1 - perc_reall))
    throw std::invalid_argument("min_share must be a number from 0 to 1 - reallocate");
}

BudgetResult budget_run(BudgetInput in, const BudgetSettings& settings) {
  settings.validate();
  std::vector<std::string>* vattr_channels = &in.attr_channels;
  std::vector<double>* vattr_conversions = &in.attr_conversions;
  std::vector<double>* vattr_value = &in.attr_value;
  std::vector<std::string>* vcost_channels = &in.cost_channels;
  std::vector<double>* vcost_value = &in.cost_value;
  std::vector<std::string>* vindex_channels = &in.index_channels;
  const std::vector<double>* vindex_value = &in.index_value;
  const double* total_budget_new = &settings.total_budget_new;
  const double* perc_reall = &settings.perc_reall;
  const double* min_perc_budget = &settings.min_perc_budget;
  BudgetResult r;
  std::vector<std::string>* vchannels_new = &r.channels;
  std::vector<double>* vbudget_new = &r.budget;
  check_lengths(vattr_channels->size(), "vattr_channels", vattr_conversions->size(),
                "vattr_conversions");
  if (!vattr_value->empty())
    check_lengths(vattr_channels->size(), "vattr_channels", vattr_value->size(), "vattr_value");
  check_lengths(vcost_channels->size(), "vcost_channels", vcost_value->size(), "vcost_value");
  const ChannelTotals attr = totals_by_channel(vattr_channels, vattr_conversions, vattr_value);
  const uli nchannels = attr.first.size();
  std::vector<double> no_value;
  ChannelTotals cost = totals_by_channel(vcost_channels, vcost_value, &no_value);
  const bool flg_cost = !vcost_value->empty();
  std::vector<uli> vcost_pos;
  if (flg_cost) vcost_pos = cost_positions(attr.name, cost.at, attr.at);

  std::vector<double> vroi;
  if (!vattr_value->empty() && flg_cost) {
    vroi = roi_from_value(attr, cost.first, vcost_pos);
  } else {
    vroi = roi_from_index(attr, vindex_channels, *vindex_value);
    if (!flg_cost) {
      // Without costs the current budget is taken to follow the conversions.
      cost.first = attr.first;
      vcost_pos.resize(nchannels);
      for (uli k = 0; k < nchannels; ++k) vcost_pos[k] = k;
    }
  }

  // The budget is split three ways: what is kept in proportion to today's
  // costs, an equal minimum per channel, and what is reallocated by return.
  double sum_cost = 0;
  for (uli k = 0; k < nchannels; ++k) sum_cost += cost.first[vcost_pos[k]];
  double sum_vroi = 0;
  for (double r : vroi) sum_vroi += r;
  const double base = 1 - *min_perc_budget - *perc_reall;
  vbudget_new->assign(nchannels, 0.0);
  vchannels_new->assign(nchannels, std::string());
  for (uli k = 0; k < nchannels; ++k) {
    (*vbudget_new)[k] = base * cost.first[vcost_pos[k]] / sum_cost * *total_budget_new +
                        *min_perc_budget / nchannels * *total_budget_new +
                        vroi[k] / sum_vroi * *perc_reall * *total_budget_new;
    (*vchannels_new)[k] = attr.name.at(k);
  }
  return r;
}
