#include <stdexcept>
#include <unordered_map>

#include "compare/compare.h"

void read_event_table(const std::vector<uli>* tab_paths_id_path,
                      const std::vector<std::string>* tab_paths_time_str,
                      const std::vector<std::string>* tab_paths_channel,
                      const std::string& channel_conv_name,
                      const std::map<std::string, uli>& mp_channels,
                      const std::vector<std::string>* tab_ctr_day_str,
                      const std::vector<std::vector<double>>* tab_ctr_ctr, EventTable* events) {
  const size_t nrows = tab_paths_id_path->size();
  if (tab_paths_time_str->size() != nrows || tab_paths_channel->size() != nrows)
    throw std::invalid_argument("the event table columns have different lengths (" +
                                std::to_string(nrows) + ", " +
                                std::to_string(tab_paths_time_str->size()) + ", " +
                                std::to_string(tab_paths_channel->size()) + ")");
  if (tab_ctr_ctr->size() != tab_ctr_day_str->size())
    throw std::invalid_argument("tab_ctr_ctr has " + std::to_string(tab_ctr_ctr->size()) +
                                " rows for " + std::to_string(tab_ctr_day_str->size()) + " days");
  const size_t nchannels = mp_channels.size();
  EventTable& ev = *events;
  ev = EventTable();

  std::map<std::string, size_t> mp_ctr;   // day -> row of the click-through table
  for (size_t k = 0; k < tab_ctr_day_str->size(); ++k) {
    if ((*tab_ctr_ctr)[k].size() < nchannels)
      throw std::invalid_argument("tab_ctr_ctr: row " + std::to_string(k + 1) + " has " +
                                  std::to_string((*tab_ctr_ctr)[k].size()) +
                                  " click-through rates for " + std::to_string(nchannels) +
                                  " channels");
    mp_ctr[(*tab_ctr_day_str)[k].substr(0, 10)] = k;
  }

  std::unordered_map<std::string, uli> day_pos;
  ev.seconds.resize(nrows);
  ev.day.resize(nrows);
  ev.channel.resize(nrows);
  for (size_t r = 0; r < nrows; ++r) {
    const std::string& stamp = (*tab_paths_time_str)[r];
    if (!parse_time_stamp(stamp, "%Y-%m-%d %T", &ev.seconds[r]))
      throw std::invalid_argument("tab_paths_time_str: row " + std::to_string(r + 1) + " (\"" +
                                  stamp + "\") is not a time stamp \"%Y-%m-%d %T\" after 1970");
    const std::string day = stamp.substr(0, 10);
    auto it = day_pos.emplace(day, ev.days.size());
    if (it.second) {
      auto c = mp_ctr.find(day);
      if (c == mp_ctr.end())
        throw std::invalid_argument("tab_ctr_day_str: no click-through rates for day " + day +
                                    " (row " + std::to_string(r + 1) + " of the event table)");
      ev.days.push_back(day);
      ev.ctr.push_back((*tab_ctr_ctr)[c->second]);
    }
    ev.day[r] = it.first->second;
    const std::string& ch = (*tab_paths_channel)[r];
    if (ch == channel_conv_name) {
      ev.channel[r] = gb::limsup;
    } else {
      auto c = mp_channels.find(ch);
      if (c == mp_channels.end())
        throw std::invalid_argument("tab_paths_channel: row " + std::to_string(r + 1) +
                                    " has the unknown channel \"" + ch + "\"");
      ev.channel[r] = c->second;
    }
    if (r == 0 || (*tab_paths_id_path)[r] > (*tab_paths_id_path)[r - 1]) {
      ev.tab_info_paths_id_path.push_back((*tab_paths_id_path)[r]);
      ev.tab_info_paths_id_from.push_back(r);
      ev.tab_info_paths_id_to.push_back(r);
    } else {
      ev.tab_info_paths_id_to.back() = r;
    }
  }
}
