#include <algorithm>
#include <cmath>

#include "journeys/journeys.h"
#include "shapley/shapley.h"

namespace {

struct Scratch {
  std::vector<std::string> names;
  std::string key;
};

Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

}  // namespace

double log_factorial(uli n) {
  double r = 0;
  for (uli x = n; x > 1; --x) r += std::log(static_cast<double>(x));
  return r;
}

std::vector<std::vector<uli>> getAllSubsets(std::vector<uli> set) {
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

void coalition_line(const std::string* vyi, const uli* vci, const uli* vni, const double* vvi,
                    const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                    std::map<std::string, double>* mp_coa_convs,
                    std::map<std::string, double>* mp_coa_value,
                    std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                    std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                    const int* flg_value, const int* type_worth, double* svc, double* svn) {
  Scratch& s = scratch();
  channels_normalised(*vyi, first_char(*cha_sep, "cha_sep"), &s.names);
  std::sort(s.names.begin(), s.names.end());
  s.names.erase(std::unique(s.names.begin(), s.names.end()), s.names.end());
  s.key.clear();
  for (const std::string& name : s.names) {
    auto it = mp_channels->find(name);
    if (it == mp_channels->end()) {
      it = mp_channels->emplace(name, *nchannels).first;
      vchannels->push_back(name);
      ++*nchannels;
    }
    if (!s.key.empty()) s.key.push_back(' ');
    append_lu(s.key, it->second);
  }
  auto ins = mp_coa_convs->emplace(s.key, 0.0);
  if (ins.second) vcoalition->push_back(s.key);
  ins.first->second += static_cast<double>(*vci);
  if (*flg_value == 1) (*mp_coa_value)[s.key] += *vvi;
  if (*type_worth != 0) {
    (*mp_coa_nulls)[s.key] += static_cast<double>(*vni);
    *svc += static_cast<double>(*vci);
    *svn += static_cast<double>(*vni);
  }
}

namespace {

void coalitions_from(JourneyReader& reader, int flg_value, const std::string* cha_sep,
                     std::map<std::string, uli>* mp_channels,
                     std::map<std::string, double>* mp_coa_convs,
                     std::map<std::string, double>* mp_coa_value,
                     std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                     std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                     const int* type_worth, double* svc, double* svn) {
  *svc = 0;
  *svn = 0;
  while (reader.next()) {
    const uli ci = reader.conv(), ni = reader.nulls();
    const double vi = reader.value();
    coalition_line(&reader.path(), &ci, &ni, &vi, cha_sep, mp_channels, mp_coa_convs,
                   mp_coa_value, mp_coa_nulls, nchannels, vchannels, vcoalition, &flg_value,
                   type_worth, svc, svn);
    if (reader.index() % 1000000 == 999999) check_interrupt();
  }
}

}  // namespace

void coalition_from_vec(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                        const std::vector<uli>* vn, const std::vector<double>* vv,
                        const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                        std::map<std::string, double>* mp_coa_convs,
                        std::map<std::string, double>* mp_coa_value,
                        std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                        std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                        const int* type_worth, double* svc, double* svn) {
  JourneySource src;
  src.vy = vy;
  src.vc = vc;
  src.vv = vv;
  src.vn = vn;
  src.cha_sep = cha_sep->empty() ? 0 : (*cha_sep)[0];
  JourneyReader reader(src);
  coalitions_from(reader, vv->empty() ? 0 : 1, cha_sep, mp_channels, mp_coa_convs, mp_coa_value,
                  mp_coa_nulls, nchannels, vchannels, vcoalition, type_worth, svc, svn);
}

void coalition_from_file(const std::string* file, const std::string* var_path,
                         const std::string* var_conv, const std::string* var_value,
                         const std::string* var_null, const std::string* row_sep,
                         const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                         std::map<std::string, double>* mp_coa_convs,
                         std::map<std::string, double>* mp_coa_value,
                         std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                         std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                         const int* type_worth, double* svc, double* svn) {
  JourneySource src = file_source(*file, *var_path, *var_conv, *var_value, *var_null, *row_sep);
  src.cha_sep = cha_sep->empty() ? 0 : (*cha_sep)[0];
  JourneyReader reader(src);
  coalitions_from(reader, var_value->empty() ? 0 : 1, cha_sep, mp_channels, mp_coa_convs,
                  mp_coa_value, mp_coa_nulls, nchannels, vchannels, vcoalition, type_worth, svc,
                  svn);
}
