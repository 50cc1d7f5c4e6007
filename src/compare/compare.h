// Synthetic journeys and the comparison of attribution models on them.
#ifndef TOUCHLANE_COMPARE_COMPARE_H
#define TOUCHLANE_COMPARE_COMPARE_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"

// ---- first-order encoding ------------------------------------------------
// Rewrites every journey of vy as its channel indices joined by one blank
// ("(start)" = 0, channels 1, 2, ... by first appearance, then
// "(conversion)" and "(null)"). Channel names are cut at the first
// character of sep and trimmed of blanks; empty pieces are skipped. The
// dictionary and max_touches (most touch points of one journey) are reset
// first. Throws std::invalid_argument when sep is empty.
void encoding_channels_cpp(std::vector<std::string>* vy, std::string sep,
                           std::map<std::string, uli>* mp_channels,
                           std::vector<std::string>* vchannels, uli* nchannels,
                           uli* max_touches);

#endif
