#include <string_view>

#include "compare/compare.h"
#include "journeys/journeys.h"

void encoding_channels_cpp(std::vector<std::string>* vy, std::string sep,
                           std::map<std::string, uli>* mp_channels,
                           std::vector<std::string>* vchannels, uli* nchannels,
                           uli* max_touches) {
  const char c = first_char(sep, "sep");
  mp_channels->clear();
  vchannels->clear();
  *nchannels = 0;
  *max_touches = 0;
  auto enter = [&](const std::string& name) {
    auto it = mp_channels->emplace(name, *nchannels);
    if (it.second) {
      vchannels->push_back(name);
      ++*nchannels;
    }
    return it.first->second;
  };
  enter("(start)");

  std::vector<std::string_view> pieces;
  std::string encoded, name;
  uli row = 0;
  for (std::string& path : *vy) {
    check_path(path, c, row++);
    channels_markov(path, c, &pieces);
    encoded.clear();
    for (size_t k = 0; k < pieces.size(); ++k) {
      name.assign(pieces[k]);
      if (k > 0) encoded.push_back(' ');
      append_lu(encoded, enter(name));
    }
    if (pieces.size() > *max_touches) *max_touches = pieces.size();
    path.swap(encoded);
  }
  enter("(conversion)");
  enter("(null)");
}
