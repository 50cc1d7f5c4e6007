// Journeys from events without R: the file route (unordered and grouped by
// user) and the column route against the floor of reading and splitting the
// same file (bench/events_floor.cpp's loop), CPU seconds and peak memory.
//   build/plain/bench_events_core time [events] [users] [routes]   (default 1,000,000 / 100,000 / cfg:
//     c columns, f file, g grouped file)
//   build/plain/bench_events_core dump [events] [users]   every route and setting, as text
// `dump` prints whole journey tables for several generated event sets (ties,
// lookback, each transform, times, grouped files, ISO times): diff its output
// between two builds to show a change leaves results as they were.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "events/events.h"

namespace {

struct Gen {
  std::vector<int> user, ch;
  std::vector<double> t, conv, value, tie;
  std::vector<std::string> vchannels{"display", "paid search", "email", "social", "organic", "affiliate", "tv"};
};

// Users 0..nusers-1 drawn at random; times in `span_days` rounded to `step`
// seconds (a coarse step makes ties); 5 % conversions.
Gen generate(size_t n, int nusers, double span_days, double step, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> du(0, nusers - 1), dc(-1, 6), dtie(0, 3);
  std::uniform_real_distribution<double> dt(0, span_days * 86400), dv(1, 100);
  std::bernoulli_distribution dconv(0.05);
  Gen g;
  for (size_t i = 0; i < n; ++i) {
    g.user.push_back(du(rng));
    g.t.push_back(1.7e9 + std::round(dt(rng) / step) * step);
    g.ch.push_back(dc(rng));
    const bool c = dconv(rng);
    g.conv.push_back(c ? 1 : 0);
    g.value.push_back(c ? std::round(dv(rng) * 100) / 100 : 0);
    g.tie.push_back(dtie(rng));
  }
  return g;
}

std::string iso(double s) {
  const time_t tt = static_cast<time_t>(s);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  return b;
}

// id;user;ts;channel;conv;rev;tie, users named "u<id>"; grouped: each
// user's events together (users in order of id, events in input order).
void write_file(const Gen& g, const std::string& file, bool grouped, bool iso_time) {
  std::vector<size_t> ix(g.user.size());
  for (size_t i = 0; i < ix.size(); ++i) ix[i] = i;
  if (grouped)
    std::stable_sort(ix.begin(), ix.end(), [&](size_t a, size_t b) { return g.user[a] < g.user[b]; });
  std::FILE* f = std::fopen(file.c_str(), "w");
  std::fprintf(f, "id;user;ts;channel;conv;rev;tie\n");
  for (size_t i : ix) {
    const std::string ch = g.ch[i] < 0 ? "" : g.vchannels[g.ch[i]];
    const std::string ts = iso_time ? iso(g.t[i]) : std::to_string(static_cast<long long>(g.t[i]));
    if (g.conv[i] > 0)
      std::fprintf(f, "%zu;u%d;%s;%s;1;%.2f;%g\n", i + 1, g.user[i], ts.c_str(), ch.c_str(), g.value[i], g.tie[i]);
    else
      std::fprintf(f, "%zu;u%d;%s;%s;0;0;%g\n", i + 1, g.user[i], ts.c_str(), ch.c_str(), g.tie[i]);
  }
  std::fclose(f);
}

EventColumns columns(const Gen& g, bool tie) {
  EventColumns ev;
  ev.n = g.user.size();
  ev.nusers = 0;
  for (int u : g.user) ev.nusers = std::max<uli>(ev.nusers, u + 1);
  ev.user = g.user.data();
  ev.time = g.t.data();
  ev.channel = g.ch.data();
  ev.conv = g.conv.data();
  ev.value = g.value.data();
  ev.tie = tie ? g.tie.data() : nullptr;
  ev.vchannels = g.vchannels;
  return ev;
}

EventFile file_source(const std::string& file, bool grouped, bool tie) {
  return EventFile{file, "user", "ts", "channel", "conv", "rev", tie ? "tie" : "", ';', grouped ? 1 : 0};
}

double cpu_now() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + 1e-6 * (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
}

long rss_kb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(line.find(':') + 1));
  return 0;
}

void reset_peak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void print_table(const std::string& label, const JourneyTable& j) {
  std::cout << "## " << label << ": " << j.vpath.size() << " rows, untouched " << j.untouched << " in "
            << j.nuntouched_rows << " rows, value " << j.untouched_value << "\n";
  char v[64];
  for (size_t i = 0; i < j.vpath.size(); ++i) {
    std::snprintf(v, sizeof v, "%.17g", j.vvalue[i]);
    std::cout << j.vpath[i] << '|' << (j.vdays.empty() ? "" : j.vdays[i]) << '|' << j.vconv[i] << '|'
              << j.vnulls[i] << '|' << v << "\n";
  }
}

template <class F>
void dump_one(const std::string& label, F run) {
  JourneyTable j;
  try {
    run(&j);
  } catch (const std::exception& e) {
    std::cout << "## " << label << ": error " << e.what() << "\n";
    return;
  }
  print_table(label, j);
}

int dump(size_t n, int nusers) {
  const std::string dir = "/tmp/touchlane_events_dump_" + std::to_string(getpid());
  std::system(("mkdir -p " + dir).c_str());
  struct Set { double span, step; bool iso; };
  const Set sets[] = {{90, 1, false}, {20, 86400, false}, {10, 3600, true}};
  unsigned seed = 7;
  for (const Set& s : sets) {
    const Gen g = generate(n, nusers, s.span, s.step, seed++);
    const std::string flat = dir + "/flat.csv", grouped = dir + "/grouped.csv";
    write_file(g, flat, false, s.iso);
    write_file(g, grouped, true, s.iso);
    for (int tr = 0; tr < 4; ++tr)
      for (int times = 0; times < 2; ++times)
        for (double lb : {-1.0, 0.0, 3.5})
          for (uli lt : {0, 2})
            for (bool tie : {false, true}) {
              if (tr == 3 && times) continue;
              JourneyRules r;
              r.transform = static_cast<PathTransform>(tr);
              r.flg_times = times;
              r.lookback_days = lb;
              r.lookback_touches = lt;
              char lab[160];
              std::snprintf(lab, sizeof lab, "span %g step %g iso %d tr %d times %d lb %g lt %lu tie %d", s.span,
                            s.step, s.iso, tr, times, lb, static_cast<unsigned long>(lt), tie);
              if (!s.iso) {
                const EventColumns ev = columns(g, tie);
                dump_one(std::string(lab) + " columns", [&](JourneyTable* j) { journeys_from_events_cpp(&ev, &r, j); });
              }
              for (bool gr : {false, true}) {
                const EventFile src = file_source(gr ? grouped : flat, gr, tie);
                dump_one(std::string(lab) + (gr ? " grouped" : " file"),
                         [&](JourneyTable* j) { journeys_from_event_file_cpp(&src, &r, j); });
              }
            }
  }
  // Faulty files: the messages stay the same.
  const char* bad[] = {
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;0;0;0\n2;a;zz;y;0;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;1.5;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;1;abc;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;0;0;q\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x>y;0;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;0;0;0\n\n2;b;1;x;0;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;;x;0;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;-1;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;1;inf;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;18446744073709551615;0;0\n2;a;11;x;18446744073709551615;0;0\n",
      "id;user;ts;channel;conv;rev;tie\r\n1; a ;10;x; 1 ;2;0\r\n2;a;5; x;0;;\r\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;0;0;0\n2;b;10;x;1;0;0\n3;a;11;x;1;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;;10;x;0;0;0\n2;;12;y;1;3;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;1e3;x;0x10;0;0\n",
      "id;user;ts;channel;conv;rev;tie\n1;a;10;x;1e2;0;0\n2;a;10;x;+1;.5;-0\n",
      "user;ts\n",
  };
  int k = 0;
  for (const char* text : bad) {
    const std::string file = dir + "/bad.csv";
    std::ofstream(file) << text;
    for (bool gr : {false, true}) {
      const EventFile src = file_source(file, gr, true);
      JourneyRules r;
      dump_one("bad " + std::to_string(k) + (gr ? " grouped" : " file"),
               [&](JourneyTable* j) { journeys_from_event_file_cpp(&src, &r, j); });
    }
    ++k;
  }
  return 0;
}

double floor_cpu(const std::string& file) {
  const double c0 = cpu_now();
  std::ifstream in(file);
  std::string line;
  std::vector<size_t> cuts;
  unsigned long fields = 0;
  std::getline(in, line);
  while (std::getline(in, line)) {
    cuts.clear();
    for (size_t k = 0; k < line.size(); ++k)
      if (line[k] == ';') cuts.push_back(k);
    fields += cuts.size() + 1;
  }
  if (fields == 0) std::cerr << "empty file\n";
  return cpu_now() - c0;
}

int timing(size_t n, int nusers, const std::string& routes) {
  const Gen g = generate(n, nusers, 90, 1, 1);
  const std::string dir = "/tmp/touchlane_events_bench_" + std::to_string(getpid());
  std::system(("mkdir -p " + dir).c_str());
  const std::string flat = dir + "/flat.csv", grouped = dir + "/grouped.csv";
  write_file(g, flat, false, false);
  write_file(g, grouped, true, false);
  JourneyRules r;
  r.lookback_days = 30;
  const double fl = floor_cpu(flat);
  std::printf("%zu events, %d users; lookback 30 days, transform none\n", n, nusers);
  std::printf("%-26s %8s %8s %9s %12s %10s\n", "route", "cpu_s", "x_floor", "ns/event", "peak_B/event", "journeys");
  std::printf("%-26s %8.3f %8.1f %9.1f %12s %10s\n", "floor: read + split", fl, 1.0, 1e9 * fl / n, "", "");
  auto run = [&](const char* name, auto f) {
    reset_peak();
    const long base = rss_kb("VmRSS");
    JourneyTable j;
    const double c0 = cpu_now();
    f(&j);
    const double c = cpu_now() - c0;
    const double bytes = (rss_kb("VmHWM") - base) * 1024.0 / n;
    std::printf("%-26s %8.3f %8.1f %9.1f %12.1f %10zu\n", name, c, c / fl, 1e9 * c / n, bytes, j.vpath.size());
  };
  const EventColumns ev = columns(g, false);
  if (routes.find('c') != std::string::npos) run("columns", [&](JourneyTable* j) { journeys_from_events_cpp(&ev, &r, j); });
  const EventFile fsrc = file_source(flat, false, false), gsrc = file_source(grouped, true, false);
  if (routes.find('f') != std::string::npos) run("file", [&](JourneyTable* j) { journeys_from_event_file_cpp(&fsrc, &r, j); });
  if (routes.find('g') != std::string::npos) run("file grouped by user", [&](JourneyTable* j) { journeys_from_event_file_cpp(&gsrc, &r, j); });
  if (!std::getenv("TOUCHLANE_KEEP_FILES")) {
    std::remove(flat.c_str());
    std::remove(grouped.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "time";
  const size_t n = argc > 2 ? std::stoul(argv[2]) : (mode == "dump" ? 20000 : 1000000);
  const int nusers = argc > 3 ? std::stoi(argv[3]) : static_cast<int>(n / 10 > 0 ? n / 10 : 1);
  return mode == "dump" ? dump(n, nusers) : timing(n, nusers, argc > 4 ? argv[4] : "cfg");
}
