#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <tuple>

#include "events/events.h"
#include "helpers.h"

namespace {

struct Ev {
  int user;
  double t, tie;
  int ch;   // -1: none
  double conv, value;
};

typedef std::map<std::pair<std::string, std::string>, std::tuple<uli, uli, double>> Table;
typedef std::vector<std::string> strs;

// From the definition, one journey at a time: a full sort of (user, time,
// tie, row); each conversion takes the touches since the previous one.
Table oracle(const std::vector<Ev>& ev, const strs& names, const JourneyRules& r, JourneyTable* lost) {
  std::vector<size_t> ix(ev.size());
  for (size_t i = 0; i < ix.size(); ++i) ix[i] = i;
  std::sort(ix.begin(), ix.end(), [&](size_t a, size_t b) {
    return std::make_tuple(ev[a].user, ev[a].t, ev[a].tie, a) < std::make_tuple(ev[b].user, ev[b].t, ev[b].tie, b);
  });
  Table out;
  auto emit = [&](const std::vector<size_t>& tt, double end, uli conv, double value) {
    std::vector<size_t> keep;
    for (size_t k = 0; k < tt.size(); ++k)
      if ((r.lookback_days < 0 || end - ev[tt[k]].t <= r.lookback_days * 86400) &&
          (r.lookback_touches == 0 || tt.size() - k <= r.lookback_touches))
        keep.push_back(tt[k]);
    if (keep.empty()) {
      if (conv > 0) lost->untouched += conv, lost->nuntouched_rows += 1, lost->untouched_value += value;
      return;
    }
    std::string ps, ds;
    for (size_t k = 0; k < keep.size(); ++k) {
      const int ch = ev[keep[k]].ch;
      int before = 0, total = 0;
      for (size_t m = 0; m < keep.size(); ++m)
        if (ev[keep[m]].ch == ch) ++total, before += m < k;
      const bool last_of_run = k + 1 == keep.size() || ev[keep[k + 1]].ch != ch;
      const std::string day = std::to_string(static_cast<long>(std::floor((end - ev[keep[k]].t) / 86400)));
      if (r.transform == PathTransform::none || (r.transform == PathTransform::collapse && last_of_run) ||
          (r.transform == PathTransform::first && before == 0)) {
        ps += (ps.empty() ? "" : ">") + names[ch];
        if (r.flg_times) ds += (ds.empty() ? "" : ">") + day;
      } else if (r.transform == PathTransform::frequency && before == 0) {
        ps += (ps.empty() ? "" : ">") + names[ch] + "(" + std::to_string(total) + ")";
      }
    }
    auto& row = out[{ps, ds}];
    std::get<0>(row) += conv;
    std::get<1>(row) += conv == 0;
    std::get<2>(row) += value;
  };
  std::vector<size_t> tt;
  for (size_t k = 0; k < ix.size(); ++k) {
    const Ev& e = ev[ix[k]];
    if (e.ch >= 0) tt.push_back(ix[k]);
    if (e.conv > 0) emit(tt, e.t, static_cast<uli>(e.conv), e.value), tt.clear();
    if (k + 1 == ix.size() || ev[ix[k + 1]].user != e.user) {
      if (!tt.empty()) emit(tt, ev[tt.back()].t, 0, 0);
      tt.clear();
    }
  }
  return out;
}

Table as_table(const JourneyTable& j) {
  Table t;
  for (size_t i = 0; i < j.vpath.size(); ++i)
    t[{j.vpath[i], j.vdays.empty() ? "" : j.vdays[i]}] = std::make_tuple(j.vconv[i], j.vnulls[i], j.vvalue[i]);
  return t;
}

JourneyTable from_columns(const std::vector<Ev>& ev, int nusers, const strs& names, const JourneyRules& r) {
  std::vector<int> u, ch;
  std::vector<double> t, c, v, tie;
  for (const Ev& e : ev)
    u.push_back(e.user), ch.push_back(e.ch), t.push_back(e.t), c.push_back(e.conv), v.push_back(e.value),
        tie.push_back(e.tie);
  EventColumns cols{ev.size(), static_cast<uli>(nusers), u.data(), t.data(), ch.data(), c.data(), v.data(),
                    tie.data(), names};
  JourneyTable j;
  journeys_from_events_cpp(&cols, &r, &j);
  return j;
}

// Times written as epoch seconds or as ISO text with 'T' or a blank; with
// long_ids, every other user gets an id longer than a machine word.
JourneyTable from_file(const std::vector<Ev>& ev, const strs& names, const JourneyRules& r, bool grouped,
                       bool long_ids = false) {
  std::string text = "user;time;channel;conv;value;tie\n";
  for (size_t i = 0; i < ev.size(); ++i) {
    const Ev& e = ev[i];
    const long s = static_cast<long>(e.t);
    char iso[40];
    std::snprintf(iso, sizeof iso, "2024-02-%02ld%c%02ld:00:00", 1 + s / 86400, i % 2 ? 'T' : ' ', s % 86400 / 3600);
    text += (long_ids && e.user % 2 ? "customer-" : "u") + std::to_string(e.user) + ";" + (i % 3 ? std::string(iso) : std::to_string(s + 1706745600L)) +
            ";" + (e.ch < 0 ? "" : names[e.ch]) + ";" + std::to_string(int(e.conv)) + ";" +
            std::to_string(e.value) + ";" + std::to_string(int(e.tie)) + "\n";
  }
  tl_test::TempFile f(text);
  EventFile src{f.name, "user", "time", "channel", "conv", "value", "tie", ';', grouped ? 1 : 0};
  JourneyTable j;
  journeys_from_event_file_cpp(&src, &r, &j);
  return j;
}

TEST(Events, MatchTheOracleFromColumnsAndFiles) {
  std::mt19937 g(7);
  const strs names = {"a", "b", "c", "dd"};
  const PathTransform kinds[] = {PathTransform::none, PathTransform::collapse, PathTransform::first,
                                 PathTransform::frequency};
  // The last two: thousands of users, so unordered files are grouped
  // through several bins of user ids and the id table grows many times.
  for (int rep = 0; rep < 14; ++rep) {
    const bool many = rep >= 12;
    const int nusers = many ? 5000 : 30 + rep * 10, nch = 1 + rep % 4;
    std::vector<Ev> ev;
    for (int i = 0; i < (many ? 6 : 40) * nusers; ++i) {
      const int conv = g() % 10 < 2 ? 1 + g() % 2 : 0;
      const int ch = conv > 0 && g() % 10 < 5 ? -1 : static_cast<int>(g() % nch);
      ev.push_back({int(g() % nusers), double(g() % 31) * 43200.0, double(g() % 3), ch, double(conv), conv * 2.5});
    }
    JourneyRules r;
    r.transform = kinds[rep % 4], r.lookback_days = rep % 3 == 0 ? -1 : rep % 3 == 1 ? 0 : 3.5;   // 0: the conversion's own time only
    r.lookback_touches = rep % 5, r.flg_times = r.transform == PathTransform::frequency ? 0 : rep % 2;
    JourneyTable lost;
    const Table want = oracle(ev, names, r, &lost);
    const JourneyTable cols = from_columns(ev, nusers, names, r);
    EXPECT_EQ(as_table(cols), want) << "rep " << rep;
    EXPECT_EQ(std::make_tuple(cols.untouched, cols.nuntouched_rows, cols.untouched_value),
              std::make_tuple(lost.untouched, lost.nuntouched_rows, lost.untouched_value));
    EXPECT_EQ(as_table(from_file(ev, names, r, false, many)), want) << "file, rep " << rep;
    std::stable_sort(ev.begin(), ev.end(), [](const Ev& a, const Ev& b) { return a.user < b.user; });
    EXPECT_EQ(as_table(from_file(ev, names, r, true, many)), want) << "grouped file, rep " << rep;
  }
}

TEST(Events, TimeStamps) {
  const std::vector<std::pair<std::string, double>> good = {
      {"1970-01-02", 86400}, {"2024-02-29T12:30:15.5Z", 1709209815.5},
      {"2024-02-29 12:30:15+0100", 1709206215}, {"2024-02-29T12:30:15+01:00", 1709206215},
      {"2024-02-29T12:30:15.5+01:00", 1709206215.5}, {"2024-02-29T12:30:15-02:30", 1709218815},
      {"2024-02-29T12:30+01:00", 1709206200}, {"-5.25", -5.25}, {"+7", 7}, {"1e3", 1000}};
  for (const auto& c : good) EXPECT_EQ(parse_event_time(c.first), c.second) << c.first;
  for (const char* bad : {"2023-02-29", "2024-01-01 25:00:00", "12x", "", "2024-01-01junk",
                          "2024-01-01 12:00:00.", "0x10", " 5", "+-5", "inf", "2024-02-29T12:30:15+1",
                          "2024-02-29T12:30:15+01:0", "2024-02-29+01:00", "2024-02-29T12:30:15+24:00",
                          "2021-03-04 10:11:+5"})
    EXPECT_THROW(parse_event_time(bad), std::invalid_argument) << bad;
}

TEST(Events, ErrorTable) {
  const Ev plain{0, 0, 0, 0, 0, 0};
  tl_test::expect_errors({
      {"channel \"a>b\" contains the channel separator \">\"", [&] { from_columns({plain}, 1, {"a>b"}, {}); }},
      {"column user: row 2 is missing", [&] { from_columns({plain, {1, 0, 0, 0, 0, 0}}, 1, {"a"}, {}); }},
      {"column user: row 1 is missing", [&] { from_columns({{-1, 0, 0, 0, 0, 0}}, 1, {"a"}, {}); }},
      {"column conversion: conversions in row 1 must be a whole number >= 0",
       [&] { from_columns({{0, 0, 0, 0, 1.5, 0}}, 1, {"a"}, {}); }},
      {"transform must be one of \"none\", \"collapse\", \"first\", \"frequency\", not \"last\"",
       [] { path_transform("last"); }},
  });
  const std::string msg = tl_test::error_of([&] { from_file({plain, {1, 0, 0, 0, 0, 0}, plain}, {"a"}, {}, true); });
  EXPECT_NE(msg.find("\" is not grouped by user: user \"u0\" appears again on line 4"), std::string::npos) << msg;
}

// Totals that pass 2^64 - 1 are refused, naming the row whose conversion
// tips them over: per path and for conversions without a touch.
TEST(Events, CountsThatOverflowNameTheRow) {
  const double big = 1e19;
  const std::string overflow = "counts overflow at row ";
  struct Case { std::vector<Ev> ev; std::string row; };
  const std::vector<Case> cases = {
      {{{0, 0, 0, 0, big, 0}, {1, 0, 0, 0, 0, 0}, {1, 1, 0, -1, big, 0}}, "3"},   // path "a" twice
      {{{0, 5, 0, -1, big, 0}, {1, 0, 0, -1, big, 0}}, "2"},                      // untouched twice
  };
  for (const Case& c : cases)
    EXPECT_HAS(tl_test::error_of([&] { from_columns(c.ev, 2, {"a"}, {}); }), overflow + c.row + ":");
  // Files, grouped or not, count rows from the line after the header.
  const std::string text = "user;time;channel;conv\nu1;1;a;0\nu1;2;;10000000000000000000\n"
                           "u2;1;a;10000000000000000000\n";
  // Grouped, a user's fault comes before that of a later line; otherwise
  // lines are all read before journeys are made.
  const std::string later = "u3;1;a;0\nu3;never;a;0\n";
  struct FileCase { std::string text; int grouped; std::string error; };
  const std::vector<FileCase> file_cases = {
      {text, 0, overflow + "3:"},
      {text, 1, overflow + "3:"},
      {text + later, 1, overflow + "3:"},
      {text + later, 0, "\"never\""},
  };
  const JourneyRules rules;
  for (const FileCase& c : file_cases) {
    tl_test::TempFile f(c.text);
    EventFile src{f.name, "user", "time", "channel", "conv", "", "", ';', c.grouped};
    JourneyTable j;
    EXPECT_HAS(tl_test::error_of([&] { journeys_from_event_file_cpp(&src, &rules, &j); }), c.error);
  }
  // User ids are checked against nusers, but only the ids in use cost memory.
  const JourneyTable j = from_columns({{0, 0, 0, 0, 1, 0}}, std::numeric_limits<int>::max(), {"a"}, {});
  EXPECT_EQ(j.vconv, std::vector<uli>{1});
}

// Header lines: a byte-order mark is not part of the first name, a name
// given twice takes its last copy (as journey files do), quoted names get a
// message saying how to write the file.
TEST(Events, FileHeadersAndFields) {
  struct Case { std::string text, want; };
  const std::string head = "user;time;channel;conv\n";
  const JourneyRules rules;
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBFuser;time;channel;conv\nu;1;a;0\nu;2;b;1\n", "a>b 1"},
      {"user;time;channel;conv;channel\nu;1;x;0;a\nu;2;x;1;b\n", "a>b 1"},
      {head + "u;2024-01-02T10:00:00+02:00;a;0\nu;2024-01-02T09:00:00Z;b;0\nu;2024-01-02T09:30:00Z;;1\n",
       "a>b 1"},
      {"\"user\";\"time\";\"channel\";\"conv\"\n\"u\";1;\"a\";1\n",
       "column \"user\" (user) not found in the header of \"F\"; the header has quoted fields, and quoting is "
       "not supported: write the file without quotes, as write.table(x, file, sep = \";\", quote = FALSE, "
       "row.names = FALSE) does"},
  };
  for (const Case& c : cases) {
    tl_test::TempFile f(c.text);
    EventFile src{f.name, "user", "time", "channel", "conv", "", "", ';', 0};
    JourneyTable j;
    std::string got = tl_test::error_of([&] { journeys_from_event_file_cpp(&src, &rules, &j); });
    for (size_t k = 0; got.empty() && k < j.vpath.size(); ++k) got += j.vpath[k] + " " + std::to_string(j.vconv[k]);
    std::string want = c.want;
    if (want.find("\"F\"") != std::string::npos) want.replace(want.find("\"F\""), 3, "\"" + f.name + "\"");
    EXPECT_EQ(got, want) << c.text;
  }
}

}  // namespace
