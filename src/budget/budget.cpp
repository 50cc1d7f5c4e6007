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
}  // namespace

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

void markov_budget_allocation_cpp(std::vector<std::string>* vattr_channels,
                                  std::vector<double>* vattr_conversions,
                                  std::vector<double>* vattr_value,
                                  std::vector<std::string>* vcost_channels,
                                  std::vector<double>* vcost_value,
                                  std::vector<std::string>* vindex_channels,
                                  std::vector<double>* vindex_value, double* total_budget_new,
                                  double* perc_reall, double* min_perc_budget,
                                  std::vector<std::string>* vchannels_new,
                                  std::vector<double>* vbudget_new) {
  check_lengths(vattr_channels->size(), "vattr_channels", vattr_conversions->size(),
                "vattr_conversions");
  if (!vattr_value->empty())
    check_lengths(vattr_channels->size(), "vattr_channels", vattr_value->size(), "vattr_value");
  check_lengths(vcost_channels->size(), "vcost_channels", vcost_value->size(), "vcost_value");

  std::vector<double> vattr_conversions_unq, vattr_value_unq;
  std::map<std::string, uli> mp_vattr_channels_int;
  std::map<uli, std::string> mp_vattr_channels_inv;
  sum_groupby_channel(vattr_channels, vattr_conversions, vattr_value, &vattr_conversions_unq,
                      &vattr_value_unq, &mp_vattr_channels_int, &mp_vattr_channels_inv);
  const uli nchannels = vattr_conversions_unq.size();

  std::vector<double> vcost_value_unq, no_value;
  std::map<std::string, uli> mp_vcost_channels_int;
  std::map<uli, std::string> mp_vcost_channels_inv;
  std::vector<double> vcost_unused;
  sum_groupby_channel(vcost_channels, vcost_value, &no_value, &vcost_value_unq, &vcost_unused,
                      &mp_vcost_channels_int, &mp_vcost_channels_inv);
  const bool flg_cost = !vcost_value->empty();
  std::vector<uli> vcost_pos;
  if (flg_cost) vcost_pos = cost_positions(mp_vattr_channels_inv, mp_vcost_channels_int,
                                           mp_vattr_channels_int);

  std::vector<double> vroi(nchannels, 0.0);
  if (!vattr_value->empty() && flg_cost) {
    // Ten conversions' worth added to value and cost pulls small channels
    // towards a return of 1.
    for (uli k = 0; k < nchannels; ++k) {
      const double attr_unit_value = vattr_value_unq[k] / vattr_conversions_unq[k];
      vroi[k] = (vattr_value_unq[k] + 10 * attr_unit_value) /
                (vcost_value_unq[vcost_pos[k]] + 10 * attr_unit_value);
    }
  } else {
    if (vindex_value->size() != vindex_channels->size() + 1)
      throw std::invalid_argument(
          "vindex_value must hold one entry per vindex_channels entry plus the mean index: " +
          std::to_string(vindex_value->size()) + " entries for " +
          std::to_string(vindex_channels->size()) + " channels");
    std::vector<double> vindex(*vindex_value);
    unhide_index(&vindex);
    vindex.pop_back();
    std::vector<double> vindex_unq, vindex_unused, no_second;
    std::map<std::string, uli> mp_index_int;
    std::map<uli, std::string> mp_index_inv;
    sum_groupby_channel(vindex_channels, &vindex, &no_second, &vindex_unq, &vindex_unused,
                        &mp_index_int, &mp_index_inv);
    for (uli k = 0; k < nchannels; ++k) {
      const std::string& c = mp_vattr_channels_inv[k];
      auto it = mp_index_int.find(c);
      if (it == mp_index_int.end())
        throw std::invalid_argument("attributed channel '" + c + "' has no entry in vindex_channels");
      vroi[k] = vindex_unq[it->second];
    }
    if (!flg_cost) {
      // Without costs the current budget is taken to follow the conversions.
      vcost_value_unq = vattr_conversions_unq;
      vcost_pos.resize(nchannels);
      for (uli k = 0; k < nchannels; ++k) vcost_pos[k] = k;
    }
  }

  double sum_vcost_value_unq = 0;
  for (uli k = 0; k < nchannels; ++k) sum_vcost_value_unq += vcost_value_unq[vcost_pos[k]];
  double sum_vroi = 0;
  for (double r : vroi) sum_vroi += r;

  const double base = 1 - *min_perc_budget - *perc_reall;
  vbudget_new->assign(nchannels, 0.0);
  vchannels_new->assign(nchannels, std::string());
  for (uli k = 0; k < nchannels; ++k) {
    (*vbudget_new)[k] = base * vcost_value_unq[vcost_pos[k]] / sum_vcost_value_unq * *total_budget_new +
                        *min_perc_budget / nchannels * *total_budget_new +
                        vroi[k] / sum_vroi * *perc_reall * *total_budget_new;
    (*vchannels_new)[k] = mp_vattr_channels_inv[k];
  }
}
