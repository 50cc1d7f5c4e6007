// Hostile input: reserved channel names, NUL bytes, number fields read in
// full, non-finite values, count overflow, result files written in full or
// not at all. Crash inputs found by the fuzzers (fuzz/) are replayed here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "compare/compare.h"
#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "logistic/logistic.h"
#include "markov/markov.h"

namespace {

struct TempDir {
  std::string name;
  TempDir() {
    char buf[] = "/tmp/touchlane_hostileXXXXXX";
    name = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + name + "'").c_str()); }
  std::string file(const std::string& base, const std::string& text) const {
    std::string f = name + "/" + base;
    std::ofstream(f, std::ios::binary) << text;
    return f;
  }
  size_t entries() const {   // files in the directory, temporary ones included
    std::string cmd = "ls -A '" + name + "' | wc -l";
    FILE* p = popen(cmd.c_str(), "r");
    size_t n = 0;
    if (fscanf(p, "%zu", &n) != 1) n = 0;
    pclose(p);
    return n;
  }
};

std::string slurp(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

template <class F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::string read_error(JourneySource s) {
  return error_of([&] {
    JourneyReader r(s);
    while (r.next()) {
    }
  });
}

JourneySource file_src(const std::string& f, const std::string& value = "") {
  JourneySource s = file_source(f, "path", "conv", value, "", ";");
  s.cha_sep = '>';
  return s;
}

std::vector<uli> counts_of(const std::string& f) {
  JourneyReader r(file_src(f));
  std::vector<uli> out;
  while (r.next()) out.push_back(r.conv());
  return out;
}

TEST(Hostile, ReservedChannelNamesAreRejectedWithChannelAndRow) {
  for (const char* name : {"(start)", "(conversion)", "(null)", "(constant)", "(unknown)"}) {
    std::vector<std::string> vy{"a > b", std::string("a > ") + name + " "};
    std::vector<uli> vc{1, 1};
    JourneySource s = vector_source(&vy, &vc, nullptr, nullptr);
    s.cha_sep = '>';
    const std::string e = read_error(s);
    EXPECT_NE(e.find(std::string("channel '") + name + "'"), std::string::npos) << e;
    EXPECT_NE(e.find("row 2"), std::string::npos) << e;
  }
  // Look-alikes are ordinary channels.
  std::vector<std::string> vy{"(start) x > ( null) > (Null)"};
  std::vector<uli> vc{1};
  JourneySource s = vector_source(&vy, &vc, nullptr, nullptr);
  s.cha_sep = '>';
  EXPECT_EQ(read_error(s), "");
}

TEST(Hostile, ModelsThatEncodeThemselvesRejectReservedNames) {
  // The logistic fit wrote before its touch-count buffer for "(constant)".
  std::vector<std::string> vy{"(constant)>a", "b"}, vchannels;
  std::vector<uli> vc{1, 1}, vn{1, 1};
  std::string sep = ">";
  std::map<std::string, uli> mp;
  std::vector<double> vindex, vcoeff;
  double mean = 0;
  EXPECT_NE(error_of([&] {
              logistic_fit_cpp(&vy, &vc, &vn, &sep, &mp, &vchannels, &vindex, &mean, &vcoeff);
            }).find("channel '(constant)'"),
            std::string::npos);
  std::vector<std::string> paths{"a>b", "b>(null)"};
  uli n = 0, max_touches = 0;
  EXPECT_NE(error_of([&] {
              encoding_channels_cpp(&paths, ">", &mp, &vchannels, &n, &max_touches);
            }).find("row 2"),
            std::string::npos);
}

TEST(Hostile, NulBytesInPathsAreRejected) {
  std::vector<std::string> vy{"a", std::string("a\0b", 3)};
  std::vector<uli> vc{1, 1};
  EXPECT_NE(read_error(vector_source(&vy, &vc, nullptr, nullptr)).find("NUL byte"),
            std::string::npos);
  TempDir d;
  const std::string f = d.file("j.csv", std::string("path;conv\na;1\nb\0c;1\n", 20));
  const std::string e = read_error(file_src(f));
  EXPECT_NE(e.find("NUL byte"), std::string::npos) << e;
  EXPECT_NE(e.find("line 3, column 1"), std::string::npos) << e;
}

TEST(Hostile, CountFieldsAreNumbersInFull) {
  TempDir d;
  struct Case { const char* field; uli want; const char* error; };
  const Case cases[] = {
      {"1e+05", 100000, nullptr},   {"100000", 100000, nullptr}, {" 7 ", 7, nullptr},
      {"2.9", 2, nullptr},          {"+3", 3, nullptr},          {"18446744073709551615", ~0ul, nullptr},
      {"7abc", 0, "stoul"},         {"1e5x", 0, "stoul"},        {"0x10", 0, "stoul"},
      {"inf", 0, "stoul"},          {"nan", 0, "stoul"},         {" ;x", 0, "stoul"},
      {"1e30", 0, "too large"},     {"18446744073709551616", 0, "too large"},
      {"-1", 0, "negative conversion count"},
  };
  for (const Case& c : cases) {
    const std::string f = d.file("c.csv", std::string("path;conv\na;") + c.field + "\n");
    if (!c.error) {
      EXPECT_EQ(counts_of(f), std::vector<uli>{c.want}) << c.field;
      continue;
    }
    const std::string e = read_error(file_src(f));
    EXPECT_NE(e.find(c.error), std::string::npos) << c.field << ": " << e;
    if (std::string(c.error) != "negative conversion count")
      EXPECT_NE(e.find("line 2, column 2 of '" + f + "'"), std::string::npos) << e;
  }
}

TEST(Hostile, ValuesMustBeFiniteNumbers) {
  TempDir d;
  for (const char* field : {"7abc", "nan", "inf", "1e400", "NA", " ;"}) {
    const std::string f = d.file("v.csv", std::string("path;conv;v\na;1;") + field + "\n");
    const std::string e = read_error(file_src(f, "v"));
    EXPECT_NE(e.find("stod"), std::string::npos) << field << ": " << e;
    EXPECT_NE(e.find("column 3"), std::string::npos) << e;
  }
  std::vector<std::string> vy{"a", "b"};
  std::vector<uli> vc{1, 1};
  for (double bad : {NAN, INFINITY, -INFINITY}) {
    std::vector<double> vv{1.0, bad};
    const std::string e = read_error(vector_source(&vy, &vc, &vv, nullptr));
    EXPECT_NE(e.find("value in row 2 is not a finite number"), std::string::npos) << e;
  }
}

struct Built {
  Fx S;
  uli nch = 0, max_npassi = 0, nsim = 0;
  ChannelMap ch, sim;
  std::vector<std::string> vch, vsim;
  StateInverse inv;
  double svc = 0, svv = 0;
};

void build(Built* b, std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn,
           uli order) {
  std::vector<double> vv;
  std::string sep = ">";
  int verbose = 0;
  build_simulation_matrix_from_vec_cpp(&vy, &vc, &vn, &vv, &sep, &order, &b->S, &b->nch, &b->ch,
                                       &b->vch, &b->max_npassi, &b->sim, &b->inv, &b->vsim,
                                       &b->nsim, &b->svc, &b->svv, &verbose);
}

TEST(Hostile, CountOverflowInTheChainBuilderNamesTheRow) {
  const uli two63 = 1ul << 63;
  struct Case { std::vector<uli> vc, vn; const char* row; };
  const Case cases[] = {
      {{two63, 1}, {0, two63}, "row 2"},          // the total out of the start passes 2^64
      {{~0ul, 0}, {1, 0}, "row 1"},               // conversions + nulls of one row
      {{two63, two63}, {0, 0}, "row 2"},          // the same edge twice
  };
  for (const Case& c : cases) {
    Built b;
    const std::string e = error_of([&] { build(&b, {"a>b", "a>c"}, c.vc, c.vn, 1); });
    EXPECT_NE(e.find(std::string("counts overflow at ") + c.row), std::string::npos) << e;
  }
  Built ok;
  build(&ok, {"a>b", "a>c"}, {two63 - 1, 1}, {0, two63 - 1}, 1);   // exactly 2^64 - 1 out of a
  EXPECT_EQ(ok.S.lrS[3], ~0ul);
}

TEST(Hostile, StoreGrowsWithTheStatesSeenNotWithTheOrder) {
  std::vector<std::string> vy;
  for (int i = 0; i < 20; ++i) {
    std::string p;
    for (int k = 0; k < 50; ++k) p += "c" + std::to_string(i * 50 + k) + ">";
    vy.push_back(p);
  }
  Built b;
  build(&b, vy, std::vector<uli>(20, 1), {}, 100);
  // 1,000 channels at order 100 once reserved 10 million states.
  EXPECT_LE(b.S.capacity(), 4 * b.nsim + 64);
}

TEST(Hostile, ResultFileIsAllOrNothing) {
  TempDir d;
  const std::string out = d.file("out.csv", "earlier result\n");
  {
    ResultFile r(out);
    r.write(std::string(3 << 20, 'x'));   // more than the stream buffer
  }   // no commit: an error or an interrupt
  EXPECT_EQ(slurp(out), "earlier result\n");
  EXPECT_EQ(d.entries(), 1u);
  {
    ResultFile r(out);
    r.write("new\n");
    r.commit();
  }
  EXPECT_EQ(slurp(out), "new\n");
  EXPECT_EQ(d.entries(), 1u);
  EXPECT_NE(error_of([&] { ResultFile r(d.name); }).find("is a directory"), std::string::npos);
  EXPECT_NE(error_of([&] { ResultFile r("/dev/full"); r.write("x"); r.commit(); }).find("failed"),
            std::string::npos);
}

TEST(Hostile, ResultFileRefusesTheInputFile) {
  TempDir d;
  const std::string in = d.file("in.csv", "path;conv\na>b;1\n");
  const std::string link = d.name + "/link.csv";
  ASSERT_EQ(::link(in.c_str(), link.c_str()), 0);
  for (const std::string& out : {in, d.name + "/./in.csv", link}) {
    EXPECT_NE(error_of([&] { ResultFile r(out, in); }).find("is the input file"),
              std::string::npos)
        << out;
  }
  EXPECT_EQ(slurp(in), "path;conv\na>b;1\n");
}

TEST(Hostile, HeuristicWriterKeepsTheEarlierResultOnAFailure) {
  TempDir d;
  const std::string out = d.file("out.csv", "earlier result\n");
  // Enough rows to flush the stream buffer before the bad row.
  std::vector<std::string> vy(40000, "a > b > c");
  std::vector<uli> vc(vy.size(), 1);
  std::vector<double> vv(vy.size(), 1.0);
  vv.back() = NAN;
  std::vector<double> id, chpos, cf, vf, cl, vl, cn, vn;
  std::vector<std::string> name, channel;
  int flg_file = 0, verbose = 0, nulls = 0, paths = 1;
  std::string file, vp = "path", vcn = "conv", vvn = "", rs = ";", cs = ">", fo = out;
  const std::string e = error_of([&] {
    heuristic_models_cpp(&flg_file, &file, &vp, &vcn, &vvn, &vy, &vc, &vv, &rs, &cs, &nulls,
                         &paths, &fo, &verbose, &id, &name, &channel, &chpos, &cf, &vf, &cl, &vl,
                         &cn, &vn);
  });
  EXPECT_NE(e.find("row 40000"), std::string::npos) << e;
  EXPECT_EQ(slurp(out), "earlier result\n");
  EXPECT_EQ(d.entries(), 1u);
  // The input file as result file is refused before anything is written.
  const std::string in = d.file("in.csv", "path;conv\na>b;1\n");
  flg_file = 1;
  file = in;
  fo = d.name + "//in.csv";
  EXPECT_NE(error_of([&] {
              heuristic_models_cpp(&flg_file, &file, &vp, &vcn, &vvn, &vy, &vc, &vv, &rs, &cs,
                                   &nulls, &paths, &fo, &verbose, &id, &name, &channel, &chpos,
                                   &cf, &vf, &cl, &vl, &cn, &vn);
            }).find("is the input file"),
            std::string::npos);
  EXPECT_EQ(slurp(in), "path;conv\na>b;1\n");
}

}  // namespace
