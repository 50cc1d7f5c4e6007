// Hostile input: reserved channel names, NUL bytes, number fields read in
// full, non-finite values, count overflow, result files written in full or
// not at all. Inputs that crashed a fuzzer (fuzz/) are replayed here.
#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <cmath>
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
    std::ofstream(name + "/" + base, std::ios::binary) << text;
    return name + "/" + base;
  }
  int entries() const {   // temporary files included
    int n = 0;
    DIR* d = opendir(name.c_str());
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
  }
};

std::string slurp(const std::string& f) {
  std::stringstream ss;
  ss << std::ifstream(f, std::ios::binary).rdbuf();
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

// Reads every row; the error, or "" and the conversion counts in *counts.
std::string read_error(JourneySource s, std::vector<uli>* counts = nullptr) {
  s.cha_sep = '>';
  return error_of([&] {
    JourneyReader r(s);
    while (r.next())
      if (counts) counts->push_back(r.conv());
  });
}

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

TEST(Hostile, ReservedChannelNamesAreAnErrorNamingChannelAndRow) {
  std::vector<uli> vc{1, 1}, vn{1, 1};
  for (const char* name : {"(start)", "(conversion)", "(null)", "(constant)", "(unknown)"}) {
    std::vector<std::string> vy{"a > (Null)>( null)", std::string("a > ") + name + " "};
    const std::string e = read_error(vector_source(&vy, &vc, nullptr, nullptr));
    EXPECT_HAS(e, "path in row 2: channel '" + std::string(name) + "'");
    // Models that encode vectors themselves: the logistic fit once wrote
    // before its touch counts for "(constant)", the comparison failed in at().
    std::string sep = ">";
    std::map<std::string, uli> mp;
    std::vector<std::string> vch;
    std::vector<double> vindex, vcoeff;
    double mean = 0;
    uli n = 0, touches = 0;
    EXPECT_HAS(error_of([&] { logistic_fit_cpp(&vy, &vc, &vn, &sep, &mp, &vch, &vindex, &mean, &vcoeff); }),
               "row 2: channel");
    EXPECT_HAS(error_of([&] { encoding_channels_cpp(&vy, sep, &mp, &vch, &n, &touches); }), "row 2: channel");
  }
}

TEST(Hostile, NulBytesInPathsAreRejected) {
  std::vector<std::string> vy{"a", std::string("a\0b", 3)};
  std::vector<uli> vc{1, 1};
  EXPECT_HAS(read_error(vector_source(&vy, &vc, nullptr, nullptr)), "row 2: it contains a NUL byte");
  TempDir d;
  const std::string f = d.file("j.csv", std::string("path;conv\na;1\nb\0c;1\n", 20));
  EXPECT_HAS(read_error(file_source(f, "path", "conv", "", "", ";")), "line 3, column 1 of '" + f + "': it contains a NUL");
}

TEST(Hostile, NumberFieldsAreReadInFull) {
  TempDir d;
  struct Case { const char* field; uli want; const char* error; };
  const Case counts[] = {
      {"1e+05", 100000, nullptr}, {" 7 ", 7, nullptr},   {"2.9", 2, nullptr},    {"+3", 3, nullptr},
      {"18446744073709551615", ~0ul, nullptr},           {"7abc", 0, "stoul"},   {"1e5x", 0, "stoul"},
      {"0x10", 0, "stoul"},       {"inf", 0, "stoul"},    {"nan", 0, "stoul"},    {" ;x", 0, "stoul"},
      {"1e30", 0, "too large"},   {"18446744073709551616", 0, "too large"},
  };
  for (const Case& c : counts) {
    const std::string f = d.file("c.csv", std::string("path;conv\na;") + c.field + "\n");
    std::vector<uli> got;
    const std::string e = read_error(file_source(f, "path", "conv", "", "", ";"), &got);
    if (c.error) {
      EXPECT_HAS(e, c.error);
      EXPECT_HAS(e, "line 2, column 2 of '" + f + "'");
    } else {
      EXPECT_EQ(got, std::vector<uli>{c.want}) << c.field << ": " << e;
    }
  }
  for (const char* field : {"7abc", "nan", "inf", "1e400", "NA", " ;"}) {
    const std::string f = d.file("v.csv", std::string("path;conv;v\na;1;") + field + "\n");
    const std::string e = read_error(file_source(f, "path", "conv", "v", "", ";"));
    EXPECT_HAS(e, "stod: value");
    EXPECT_HAS(e, "line 2, column 3");
  }
  std::vector<std::string> vy{"a", "b"};
  std::vector<uli> vc{1, 1};
  for (double bad : {NAN, INFINITY, -INFINITY}) {
    std::vector<double> vv{1.0, bad};
    EXPECT_HAS(read_error(vector_source(&vy, &vc, &vv, nullptr)), "value in row 2 is not a finite number");
  }
}

TEST(Hostile, TimeStampsThatCannotReachTheSecondsAreRejected) {
  uli sec = 0;   // the date library converted unset seconds for these (found by fuzz_events)
  for (const char* t : {"2021-03-04 10:11:+5", "2021-03-04 10:11: 5", "2021-03-04 1x:11:12", "2021-03-04 10:11:"})
    EXPECT_FALSE(parse_time_stamp(t, "%Y-%m-%d %T", &sec)) << t;
  ASSERT_TRUE(parse_time_stamp("+2021-3-4\t1:2:3x", "%Y-%m-%d %T", &sec));
  EXPECT_EQ(sec, 1614819723u);
}

struct Built : SimulationMatrix {
  Built(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn, uli order) {
    build_simulation_matrix(vector_source(&vy, &vc, nullptr, &vn), ">", order, 0, this);
  }
};

TEST(Hostile, CountOverflowInTheChainBuilderNamesTheRow) {
  const uli two63 = 1ul << 63;
  struct Case { std::vector<uli> vc, vn; const char* row; };
  const Case cases[] = {
      {{two63, 1}, {0, two63}, "row 2"},   // the total out of the start passes 2^64
      {{~0ul, 0}, {1, 0}, "row 1"},        // conversions + nulls of one row
      {{two63, two63}, {0, 0}, "row 2"},   // the same edge twice
  };
  for (const Case& c : cases)
    EXPECT_HAS(error_of([&] { Built b({"a>b", "a>b"}, c.vc, c.vn, 1); }), std::string("counts overflow at ") + c.row);
  Built ok({"a>b", "a>c"}, {two63 - 1, 1}, {0, two63 - 1}, 1);   // exactly 2^64 - 1 out of a
  EXPECT_EQ(ok.S.lrS[3], ~0ul);
}

TEST(Hostile, StoreGrowsWithTheStatesSeenNotWithTheOrder) {
  std::vector<std::string> vy(20);
  for (int i = 0; i < 1000; ++i) vy[i / 50] += "c" + std::to_string(i) + ">";
  Built b(vy, std::vector<uli>(20, 1), {}, 100);
  EXPECT_LE(b.S.capacity(), 4 * b.nchannels_sim + 64);   // once 10 million states for 1,000 channels
}

TEST(Hostile, ResultFilesAreWrittenInFullOrNotAtAll) {
  TempDir d;
  const std::string out = d.file("out.csv", "earlier result\n");
  {
    ResultFile r(out);
    r.write(std::string(3 << 20, 'x'));   // past the stream buffer, then no commit
  }
  EXPECT_EQ(slurp(out), "earlier result\n");
  EXPECT_EQ(d.entries(), 1);
  EXPECT_HAS(error_of([&] { ResultFile r(d.name); }), "is a directory");
  EXPECT_HAS(error_of([&] { ResultFile r("/dev/full"); r.write("x"); r.commit(); }), "failed");
  const std::string in = d.file("in.csv", "path;conv\na>b;1\n"), link = d.name + "/link.csv";
  ASSERT_EQ(::link(in.c_str(), link.c_str()), 0);
  for (const std::string& o : {in, d.name + "/./in.csv", link})
    EXPECT_HAS(error_of([&] { ResultFile r(o, in); }), "is the input file");

  // The heuristic writer: an error after rows were flushed (its stream once
  // outlived its buffer), and the input file named as result file.
  std::vector<std::string> vy(40000, "a > b > c"), name, channel;
  std::vector<uli> vc(vy.size(), 1);
  std::vector<double> vv(vy.size(), 1.0), id, chpos, cf, vf, cl, vl, cn, vn;
  vv.back() = NAN;
  int flg_file = 0, verbose = 0, nulls = 0, paths = 1;
  std::string file, vp = "path", vcn = "conv", vvn = "", rs = ";", cs = ">", fo = out;
  auto run = [&] {
    heuristic_models_cpp(&flg_file, &file, &vp, &vcn, &vvn, &vy, &vc, &vv, &rs, &cs, &nulls, &paths, &fo,
                         &verbose, &id, &name, &channel, &chpos, &cf, &vf, &cl, &vl, &cn, &vn);
  };
  EXPECT_HAS(error_of(run), "row 40000");
  EXPECT_EQ(slurp(out), "earlier result\n");
  flg_file = 1;
  file = in;
  fo = d.name + "//in.csv";
  EXPECT_HAS(error_of(run), "is the input file");
  EXPECT_EQ(slurp(in), "path;conv\na>b;1\n");
  EXPECT_EQ(d.entries(), 3);
}

}  // namespace
