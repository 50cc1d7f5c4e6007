#include <stdexcept>

#include "uam/uam.h"

void transpose_paths(uli* len_tab_paths, std::vector<std::string>* tab_paths_channel,
                     std::vector<uli>* tab_paths_id_path, std::string* channel_conv_name,
                     std::string* cha_sep, std::vector<std::string>* vchannels_mta,
                     uli* nchannels_mta, std::vector<std::string>* vpaths,
                     std::vector<uli>* vconv, std::vector<uli>* vnull,
                     std::map<std::string, uli>* mp_channels,
                     std::vector<std::vector<uli>>* Mpaths_ids) {
  const uli n = *len_tab_paths;
  if (tab_paths_channel->size() < n || tab_paths_id_path->size() < n)
    throw std::invalid_argument(
        "event table: " + std::to_string(n) + " rows expected, but the channel column has " +
        std::to_string(tab_paths_channel->size()) + " and the identifier column " +
        std::to_string(tab_paths_id_path->size()));
  *nchannels_mta = 0;
  std::map<std::string, uli> mp_paths;
  std::string path;
  bool is_conversion = false;
  uli npaths = 0;
  for (uli i = 0; i < n; ++i) {
    const std::string& channel = (*tab_paths_channel)[i];
    if (channel != *channel_conv_name) {
      is_conversion = false;
      auto ins = mp_channels->emplace(channel, *nchannels_mta);
      if (ins.second) {
        vchannels_mta->push_back(channel);
        ++*nchannels_mta;
      }
      // Tokens joined by the separator, none before the first one, also
      // when the journey opened with a conversion row.
      if (!path.empty()) path += *cha_sep;
      append_lu(path, ins.first->second + 1);
    } else {
      is_conversion = true;
    }
    // Only a rising identifier starts a new journey.
    const bool closes = i + 1 == n || (*tab_paths_id_path)[i + 1] > (*tab_paths_id_path)[i];
    if (closes) {
      auto ins = mp_paths.emplace(path, vpaths->size());
      if (ins.second) {
        vpaths->push_back(path);
        vconv->push_back(0);
        vnull->push_back(0);
        Mpaths_ids->emplace_back();
      }
      const uli pos = ins.first->second;
      ++(is_conversion ? (*vconv)[pos] : (*vnull)[pos]);
      (*Mpaths_ids)[pos].push_back(npaths++);
      path.clear();
    }
  }
}
