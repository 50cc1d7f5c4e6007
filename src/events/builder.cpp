#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "events/events.h"
#include "journeys/journeys.h"

namespace {

constexpr double kDay = 86400.0;

std::string row_text(uli row) { return fmt_lu(row + 1); }

// Journeys of one user at a time, added into one table keyed by path (and
// days): the only state that grows with the input is that table.
class Builder {
 public:
  // row: the event's 0-based row, counted from the user's first row as
  // handed to user() (it fits the padding, so an event stays 40 bytes).
  struct Event {
    double t, tie, value;
    uli conv;
    int ch;
    uint32_t row;
  };

  Builder(const JourneyRules& rules, const std::vector<std::string>* vchannels, JourneyTable* out)
      : r_(rules), ch_(vchannels), out_(out), mark_(vchannels->size(), 0) {
    lb_seconds_ = rules.lookback_days < 0 ? std::numeric_limits<double>::infinity()
                                          : rules.lookback_days * kDay;
  }

  // evs: one user's events in input order; sorted here by time, then tie
  // key, input order last (a stable sort). first_row is added to each
  // event's row where a message names it.
  void user(std::vector<Event>* evs, uli first_row = 0) {
    std::stable_sort(evs->begin(), evs->end(), [](const Event& a, const Event& b) {
      return a.t < b.t || (a.t == b.t && a.tie < b.tie);
    });
    touches_.clear();
    for (const Event& e : *evs) {
      if (e.ch >= 0) touches_.push_back({e.ch, e.t});
      if (e.conv > 0) {
        close(e.t, e.conv, e.value, first_row + e.row);
        touches_.clear();
      }
    }
    if (!touches_.empty()) close(touches_.back().t, 0, 0, 0);
  }

  void extend_channels() { mark_.resize(ch_->size(), 0); }

  // Rows sorted by path, then days.
  void finish() {
    std::vector<const std::pair<const std::string, Agg>*> rows;
    rows.reserve(table_.size());
    for (const auto& kv : table_) rows.push_back(&kv);
    std::sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    out_->vpath.reserve(rows.size());
    for (const auto* kv : rows) {
      const Agg& a = kv->second;
      out_->vpath.emplace_back(kv->first, 0, a.plen);
      if (r_.flg_times == 1) out_->vdays.emplace_back(kv->first, a.plen + 1);
      out_->vconv.push_back(a.conv);
      out_->vnulls.push_back(a.nulls);
      out_->vvalue.push_back(a.value);
    }
    table_.clear();
  }

 private:
  struct Touch {
    int ch;
    double t;
  };
  struct Agg {
    uli conv = 0, nulls = 0;
    double value = 0;
    size_t plen = 0;
  };

  void put_channel(int ch) {
    if (!path_.empty()) path_ += r_.channel_sep;
    path_ += (*ch_)[ch];
  }
  void put_day(double end, double t) {
    if (r_.flg_times != 1) return;
    if (!days_.empty()) days_ += r_.channel_sep;
    append_lu(days_, static_cast<uli>(std::floor((end - t) / kDay)));
  }

  void close(double end, uli conv, double value, uli row) {
    size_t n = touches_.size(), b = 0;
    while (b < n && end - touches_[b].t > lb_seconds_) ++b;
    if (r_.lookback_touches > 0 && n - b > r_.lookback_touches) b = n - r_.lookback_touches;
    if (b == n) {
      if (conv > 0) {
        out_->untouched = add_count(out_->untouched, conv, row);
        out_->nuntouched_rows += 1;
        out_->untouched_value += value;
      }
      return;
    }
    path_.clear();
    days_.clear();
    switch (r_.transform) {
      case PathTransform::none:
        for (size_t i = b; i < n; ++i) put_channel(touches_[i].ch), put_day(end, touches_[i].t);
        break;
      case PathTransform::collapse:
        for (size_t i = b; i < n; ++i)
          if (i + 1 == n || touches_[i + 1].ch != touches_[i].ch)
            put_channel(touches_[i].ch), put_day(end, touches_[i].t);
        break;
      case PathTransform::first:
        for (size_t i = b; i < n; ++i)
          if (!mark_[touches_[i].ch]++) put_channel(touches_[i].ch), put_day(end, touches_[i].t);
        for (size_t i = b; i < n; ++i) mark_[touches_[i].ch] = 0;
        break;
      case PathTransform::frequency:
        seen_.clear();
        for (size_t i = b; i < n; ++i)
          if (!mark_[touches_[i].ch]++) seen_.push_back(touches_[i].ch);
        for (int ch : seen_) {
          put_channel(ch);
          path_ += '(';
          append_lu(path_, mark_[ch]);
          path_ += ')';
          mark_[ch] = 0;
        }
        break;
    }
    const size_t plen = path_.size();
    if (r_.flg_times == 1) {
      path_ += '\0';
      path_ += days_;
    }
    auto it = table_.find(path_);
    if (it == table_.end()) it = table_.emplace(path_, Agg()).first;
    Agg& a = it->second;
    a.plen = plen;
    if (conv > 0) {
      a.conv = add_count(a.conv, conv, row);
      a.value += value;
    } else {
      a.nulls += 1;
    }
  }

  JourneyRules r_;
  const std::vector<std::string>* ch_;
  JourneyTable* out_;
  double lb_seconds_;
  std::vector<Touch> touches_;
  std::vector<uli> mark_;           // per channel: seen / count in the current journey
  std::vector<int> seen_;
  std::string path_, days_;
  std::unordered_map<std::string, Agg> table_;
};

using Event = Builder::Event;

void check_channel_name(const std::string& name, char sep) {
  if (name.find(sep) != std::string::npos)
    throw std::invalid_argument("channel \"" + name + "\" contains the channel separator \"" +
                                std::string(1, sep) + "\"");
}

// Counts as doubles from R or a file: whole, finite, not negative.
uli as_event_count(double x, const char* column, uli row) {
  if (!(x >= 0) || !std::isfinite(x) || x != std::floor(x) || x >= 1.8e19)
    throw std::invalid_argument(std::string("column ") + column + ": conversions in row " +
                                row_text(row) + " must be a whole number >= 0");
  return static_cast<uli>(x);
}

void check_finite(double x, const char* column, uli row) {
  if (!std::isfinite(x))
    throw std::invalid_argument(std::string("column ") + column + ": row " + row_text(row) +
                                " is missing or not finite");
}

// Events grouped per user by a stable counting sort on the user id, so
// each user's events keep their input order.
template <class Fetch>
void build_by_user(uli n, uli nusers, const uint32_t* user, Fetch fetch, Builder* b) {
  std::vector<uli> start(nusers + 1, 0);
  for (uli i = 0; i < n; ++i) ++start[user[i] + 1];
  for (uli u = 0; u < nusers; ++u) start[u + 1] += start[u];
  std::vector<uint32_t> order(n);
  {
    std::vector<uli> pos(start.begin(), start.end() - 1);
    for (uli i = 0; i < n; ++i) order[pos[user[i]]++] = static_cast<uint32_t>(i);
  }
  std::vector<Event> evs;
  for (uli u = 0; u < nusers; ++u) {
    if ((u & 0xFFFF) == 0) check_interrupt();
    evs.clear();
    for (uli k = start[u]; k < start[u + 1]; ++k) evs.push_back(fetch(order[k]));
    if (!evs.empty()) b->user(&evs);
  }
}

}  // namespace

PathTransform path_transform(const std::string& name) {
  if (name == "none") return PathTransform::none;
  if (name == "collapse") return PathTransform::collapse;
  if (name == "first") return PathTransform::first;
  if (name == "frequency") return PathTransform::frequency;
  throw std::invalid_argument("transform must be one of \"none\", \"collapse\", \"first\", \"frequency\", not \"" +
                              name + "\"");
}

void journeys_from_events_cpp(const EventColumns* ev, const JourneyRules* rules, JourneyTable* out) {
  const uli n = ev->n;
  if (n >= std::numeric_limits<uint32_t>::max())
    throw std::invalid_argument("events: at most 4,294,967,294 rows");
  for (const std::string& s : ev->vchannels) check_channel_name(s, rules->channel_sep);
  const int nch = static_cast<int>(ev->vchannels.size());
  std::vector<uint32_t> user(n);
  uli nusers = 0;   // ids in use: what the grouping allocates, whatever nusers claims
  for (uli i = 0; i < n; ++i) {
    const int u = ev->user[i];
    if (u < 0 || static_cast<uli>(u) >= ev->nusers)
      throw std::invalid_argument("column user: row " + row_text(i) + " is missing");
    user[i] = static_cast<uint32_t>(u);
    nusers = std::max<uli>(nusers, static_cast<uli>(u) + 1);
    check_finite(ev->time[i], "time", i);
    if (ev->channel[i] < -1 || ev->channel[i] >= nch)
      throw std::invalid_argument("column channel: row " + row_text(i) + " has no channel name");
    as_event_count(ev->conv[i], "conversion", i);
    if (ev->tie) check_finite(ev->tie[i], "order_by", i);
    if (ev->value && ev->conv[i] > 0) check_finite(ev->value[i], "value", i);
  }
  Builder b(*rules, &ev->vchannels, out);
  build_by_user(n, nusers, user.data(), [ev](uint32_t i) {
    return Event{ev->time[i], ev->tie ? ev->tie[i] : 0.0, ev->value ? ev->value[i] : 0.0,
                 static_cast<uli>(ev->conv[i]), ev->channel[i], i};
  }, &b);
  b.finish();
}

// ---- files -----------------------------------------------------------------
#include <fstream>
#include <unordered_set>

namespace {

// A name given twice takes its last copy, as in journey files.
size_t header_column(const std::vector<std::string_view>& header, const std::string& name,
                     const char* arg, const EventFile& src) {
  for (size_t k = header.size(); k-- > 0;)
    if (trim_blanks(header[k]) == name) return k;
  throw std::invalid_argument("column \"" + name + "\" (" + arg + ") not found in the header of \"" +
                              src.file + "\"" + quoting_hint(header, src.field_sep));
}

double field_number(std::string_view s, const char* column, uli line) {
  s = trim_blanks(s);
  if (s.empty()) return 0;
  const std::string text(s);
  char* end = nullptr;
  const double x = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size())
    throw std::invalid_argument(std::string("column ") + column + ": \"" + text + "\" on line " +
                                fmt_lu(line) + " is not a number");
  return x;
}

// Where the columns of an events file are, from its header line.
struct FileColumns {
  size_t user = 0, time = 0, channel = 0, conv = 0, value = 0, tie = 0;
  bool has_value = false, has_tie = false;
  size_t need = 0;   // fields a line must have
};

FileColumns read_header(std::ifstream& in, const EventFile& src) {
  std::string line;
  if (!std::getline(in, line)) throw std::invalid_argument("events file \"" + src.file + "\" has no header line");
  strip_header_line(&line);
  std::vector<std::string_view> f;
  split_views(line, src.field_sep, &f);
  FileColumns c;
  c.user = header_column(f, src.var_user, "user", src);
  c.time = header_column(f, src.var_time, "time", src);
  c.channel = header_column(f, src.var_channel, "channel", src);
  c.conv = header_column(f, src.var_conv, "conversion", src);
  c.has_value = !src.var_value.empty();
  c.has_tie = !src.var_tie.empty();
  c.value = c.has_value ? header_column(f, src.var_value, "value", src) : 0;
  c.tie = c.has_tie ? header_column(f, src.var_tie, "order_by", src) : 0;
  c.need = std::max({c.user, c.time, c.channel, c.conv, c.value, c.tie}) + 1;
  return c;
}

// Channel names of a file, numbered in order of first appearance.
struct FileChannels {
  std::vector<std::string> vchannels;
  std::unordered_map<std::string, int> ids;
  std::string key;
};

// The event on one line (fields f); a channel met for the first time is
// checked and registered.
Event parse_event(const std::vector<std::string_view>& f, const FileColumns& c, uli line_no,
                  char channel_sep, FileChannels* channels, Builder* b) {
  Event e;
  const std::string_view tt = trim_blanks(f[c.time]);
  if (tt.empty())
    throw std::invalid_argument("column time: line " + fmt_lu(line_no) + " has no time stamp");
  e.t = parse_event_time(std::string(tt));
  const double conv = field_number(f[c.conv], "conversion", line_no);
  e.conv = as_event_count(conv, "conversion", line_no - 2);   // rows count from the line after the header
  e.value = c.has_value && e.conv > 0 ? field_number(f[c.value], "value", line_no) : 0.0;
  e.tie = c.has_tie ? field_number(f[c.tie], "order_by", line_no) : 0.0;
  if (!std::isfinite(e.value) || !std::isfinite(e.tie))
    throw std::invalid_argument("line " + fmt_lu(line_no) + ": value and order_by must be finite");
  e.ch = -1;
  if (f[c.channel].empty()) return e;
  channels->key.assign(f[c.channel]);
  auto it = channels->ids.find(channels->key);
  if (it == channels->ids.end()) {
    check_channel_name(channels->key, channel_sep);
    it = channels->ids.emplace(channels->key, static_cast<int>(channels->vchannels.size())).first;
    channels->vchannels.push_back(channels->key);
    b->extend_channels();
  }
  e.ch = it->second;
  return e;
}

// Hands the events of a file to the builder one user at a time. Grouped:
// only the current user's events and the users already closed are kept;
// otherwise one compact record per event, grouped at the end.
class UserCollector {
 public:
  UserCollector(const EventFile& src, Builder* b) : src_(src), b_(b) {}

  void add(std::string_view u, Event e, uli line_no) {
    if (src_.flg_grouped == 1) {
      add_grouped(u, e, line_no);
      return;
    }
    // Events are numbered by 32-bit positions when grouped at the end.
    if (vevents_.size() >= std::numeric_limits<uint32_t>::max() - 1)
      throw std::invalid_argument("events file "" + src_.file + "": more than 4,294,967,294 events on line " +
                                  fmt_lu(line_no) +
                                  "; write each user's events together and use grouped = TRUE");
    key_.assign(u);
    auto it = mp_users_.find(key_);
    if (it == mp_users_.end()) {
      if (mp_users_.size() >= std::numeric_limits<uint32_t>::max() - 1)
        throw std::invalid_argument("events file: too many users");
      it = mp_users_.emplace(key_, static_cast<uint32_t>(mp_users_.size())).first;
    }
    vuser_.push_back(it->second);
    e.row = static_cast<uint32_t>(vevents_.size());
    vevents_.push_back(e);
  }

  void finish() {
    if (src_.flg_grouped == 1) {
      if (!cur_.empty()) b_->user(&cur_, cur_first_row_);
      return;
    }
    mp_users_.clear();
    build_by_user(vevents_.size(),
                  vuser_.empty() ? 0 : *std::max_element(vuser_.begin(), vuser_.end()) + 1,
                  vuser_.data(), [this](uint32_t i) { return vevents_[i]; }, b_);
  }

 private:
  void add_grouped(std::string_view u, Event e, uli line_no) {
    if (cur_.empty() || u != cur_user_) {
      if (!cur_.empty()) {
        b_->user(&cur_, cur_first_row_);
        closed_.insert(cur_user_);
        cur_.clear();
      }
      cur_user_.assign(u);
      if (closed_.count(cur_user_))
        throw std::invalid_argument("events file \"" + src_.file + "\" is not grouped by user: user \"" +
                                    cur_user_ + "\" appears again on line " + fmt_lu(line_no));
      cur_first_row_ = line_no - 2;   // rows count from the line after the header
    }
    e.row = static_cast<uint32_t>(cur_.size());
    cur_.push_back(e);
  }

  const EventFile& src_;
  Builder* b_;
  std::vector<Event> cur_;
  uli cur_first_row_ = 0;
  std::string cur_user_, key_;
  std::unordered_set<std::string> closed_;
  std::unordered_map<std::string, uint32_t> mp_users_;
  std::vector<uint32_t> vuser_;
  std::vector<Event> vevents_;
};

}  // namespace

void journeys_from_event_file_cpp(const EventFile* src, const JourneyRules* rules, JourneyTable* out) {
  std::ifstream in(src->file, std::ios::binary);
  if (!in) throw std::invalid_argument("cannot open events file \"" + src->file + "\"");
  const FileColumns cols = read_header(in, *src);
  FileChannels channels;
  Builder b(*rules, &channels.vchannels, out);
  UserCollector users(*src, &b);
  std::string line;
  std::vector<std::string_view> f;
  uli line_no = 1, empty_lines = 0;
  while (std::getline(in, line)) {
    ++line_no;
    if ((line_no & 0xFFFF) == 0) check_interrupt();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      ++empty_lines;
      continue;
    }
    if (empty_lines > 0)
      throw std::invalid_argument("events file \"" + src->file + "\": empty line before line " + fmt_lu(line_no));
    split_views(line, src->field_sep, &f);
    if (f.size() < cols.need)
      throw std::invalid_argument("events file \"" + src->file + "\": line " + fmt_lu(line_no) + " has " +
                                  fmt_lu(f.size()) + " fields, " + fmt_lu(cols.need) + " needed");
    const Event e = parse_event(f, cols, line_no, rules->channel_sep, &channels, &b);
    users.add(f[cols.user], e, line_no);
  }
  users.finish();
  b.finish();
}
