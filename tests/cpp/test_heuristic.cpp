// First, last and linear touch per touch point; position-based and last
// non-direct totals per channel; their result file and errors.
#include <gtest/gtest.h>

#include "heuristic/heuristic.h"
#include "helpers.h"

namespace {

using namespace tl_test;

struct Out { std::vector<double> id, chpos, cf, vf, cl, vl, cn, vn; std::vector<std::string> name, channel; };

Out heuristic(Journeys j, int nulls = 0, int paths = 0, std::string file_output = "",
              std::string file = "", std::string value_column = "value") {
  JourneySource src = file.empty() ? vector_source(&j.vy, &j.vc, &j.vv, nullptr)
                                   : file_source(file, "path", "conv", value_column, "", ";");
  src.field_sep = ";";
  HeuristicResult r = heuristic_run(src, {">", nulls, paths, file_output, 0});
  return Out{r.vpath_id, r.vpath_chpos, r.vpath_attr_convs_first, r.vpath_attr_value_first,
             r.vpath_attr_convs_last, r.vpath_attr_value_last, r.vpath_attr_convs_linear,
             r.vpath_attr_value_linear, r.vpath_name, r.vpath_channel};
}

TEST(Heuristic, WorkedJourneys) {
  struct Case { std::string path; uli conv; std::vector<std::string> channel; std::vector<double> cf, cl, cn; };
  const std::vector<Case> cases = {
      {"A > B > A", 1, {"A", "B", "A"}, {1, 0, 0}, {0, 0, 1}, {0.25, 0.5, 0.25}},   // by distinct channel
      {" A>A  ", 1, {"A", "A"}, {1, 0}, {0, 1}, {0.5, 0.5}},
      {"q > r", 0, {"q", "r"}, {0, 0}, {0, 0}, {0, 0}},   // kept only with null rows
  };
  for (const Case& c : cases) {
    const Out o = heuristic({{"z", c.path}, {1, c.conv}, {}, {}}, 1, 1);
    ASSERT_EQ(o.channel.size(), 1 + c.channel.size()) << c.path;
    EXPECT_EQ(std::vector<std::string>(o.channel.begin() + 1, o.channel.end()), c.channel);
    EXPECT_EQ(std::vector<double>(o.cf.begin() + 1, o.cf.end()), c.cf) << c.path;
    EXPECT_EQ(std::vector<double>(o.cl.begin() + 1, o.cl.end()), c.cl) << c.path;
    EXPECT_EQ(std::vector<double>(o.cn.begin() + 1, o.cn.end()), c.cn) << c.path;
    EXPECT_EQ(o.id.back(), 1.0);
    EXPECT_EQ(o.name.back(), c.path);
    EXPECT_TRUE(o.vf.empty() && o.vl.empty() && o.vn.empty());   // no values given
  }
}

// Linear touch is path attribution with equal weights; first and last
// touch give the journey's conversions and value to its end points.
TEST(Heuristic, RandomJourneysAgainstPathAttributionByHand) {
  const Journeys j = random_journeys(7, 500, 5, 6);
  const TouchRows e = attribute_by_hand(j, {}, 1.0, false);
  const Out o = heuristic(j);
  EXPECT_EQ(o.id, e.id);   // null journeys skipped, the others keep their index
  EXPECT_TRUE(o.name.empty());
  EXPECT_EQ(o.channel, e.channel);
  expect_close(o.cn, e.convs, 1e-9);
  expect_close(o.vn, e.value, 1e-9);
  for (size_t k = 0; k < o.id.size(); ++k) {
    const size_t r = static_cast<size_t>(o.id[k]);
    const bool first = e.chpos[k] == 0, last = k + 1 == o.id.size() || e.chpos[k + 1] == 0;
    EXPECT_EQ(o.cf[k], first ? j.vc[r] : 0.0);
    EXPECT_EQ(o.vf[k], first ? j.vv[r] : 0.0);
    EXPECT_EQ(o.cl[k], last ? j.vc[r] : 0.0);
    EXPECT_EQ(o.vl[k], last ? j.vv[r] : 0.0);
  }
}

TEST(Heuristic, ResultFile) {
  TempFile out, in("path;conv;value\nA > B;2;7.5\nC;1;1\nD > E;0;0\n");
  const Out o = heuristic({}, 1, 1, out.name, in.name);
  EXPECT_TRUE(o.id.empty());
  EXPECT_EQ(read_file(out.name),
            "path_id;path_name;channel;channel_position;first_touch_conversions;first_touch_value;"
            "last_touch_conversions;last_touch_value;linear_touch_conversions;linear_touch_value\n"
            "0;A > B;A;0;2;7.500000;0.000000;0.000000;1.000000;3.750000\n"
            "0;A > B;B;1;0.000000;0.000000;2;7.500000;1.000000;3.750000\n"
            "1;C;C;0;1;1.000000;1;1.000000;1.000000;1.000000\n"
            "2;D > E;D;0;0;0;0;0;0;0\n"
            "2;D > E;E;1;0;0;0;0;0;0\n");
  // Null rows off: the non-converting journey writes nothing.
  heuristic({}, 0, 0, out.name, in.name);
  EXPECT_EQ(read_file(out.name),
            "path_id;channel;channel_position;first_touch_conversions;first_touch_value;"
            "last_touch_conversions;last_touch_value;linear_touch_conversions;linear_touch_value\n"
            "0;A;0;2;7.500000;0.000000;0.000000;1.000000;3.750000\n"
            "0;B;1;0.000000;0.000000;2;7.500000;1.000000;3.750000\n"
            "1;C;0;1;1.000000;1;1.000000;1.000000;1.000000\n");
}

// A result file is written in full or not at all: an error after many rows
// were flushed leaves the earlier file; the input is never the output.
TEST(Heuristic, ResultFileInFullOrNotAtAll) {
  TempFile out("earlier result\n"), in("path;conv;value\na>b;1;1\n");
  Journeys j{std::vector<std::string>(40000, "a > b > c"), std::vector<uli>(40000, 1), {},
             std::vector<double>(40000, 1.0)};
  j.vv.back() = NAN;
  EXPECT_HAS(error_of([&] { heuristic(j, 0, 1, out.name); }), "row 40000");
  EXPECT_EQ(read_file(out.name), "earlier result\n");
  const std::string dir = in.name.substr(0, in.name.rfind('/'));
  const std::string same = dir + "/." + in.name.substr(in.name.rfind('/'));
  EXPECT_HAS(error_of([&] { heuristic({}, 0, 0, same, in.name); }), "is the input file");
  EXPECT_EQ(read_file(in.name), "path;conv;value\na>b;1;1\n");
  EXPECT_HAS(error_of([&] { heuristic(j, 0, 0, dir); }), "is a directory");
  EXPECT_EQ(error_of([&] { heuristic({{"a"}, {1}, {}, {}}, 0, 0, "/dev/full"); }),
            "writing result file '/dev/full' failed");
}

struct Rules { std::map<std::string, double> pos, lnd, pos_value, lnd_value; };

Rules rules(Journeys j, double f, double l, std::vector<std::string> direct = {"direct"}) {
  JourneySource src = vector_source(&j.vy, &j.vc, &j.vv, nullptr);
  const RuleResult out = rule_run(src, {">", f, l, direct, 0});
  Rules r;
  for (size_t k = 0; k < out.vchannels.size(); ++k) {
    r.pos[out.vchannels[k]] = out.vposition_convs[k];
    r.lnd[out.vchannels[k]] = out.vlnd_convs[k];
    if (!out.vposition_value.empty()) r.pos_value[out.vchannels[k]] = out.vposition_value[k];
    if (!out.vlnd_value.empty()) r.lnd_value[out.vchannels[k]] = out.vlnd_value[k];
  }
  return r;
}

TEST(RuleModels, WorkedJourneys) {
  struct Case { std::string path; double f, l; std::map<std::string, double> pos; };
  const std::vector<Case> cases = {
      {"a > b", 0.3, 0.5, {{"a", 3.75}, {"b", 6.25}}},
      {"a > b", 0, 0, {{"a", 5}, {"b", 5}}},
      {"a > b > c > d", 0.4, 0.4, {{"a", 4}, {"b", 1}, {"c", 1}, {"d", 4}}},
      {"a >  b > a", 0.4, 0.4, {{"a", 8}, {"b", 2}}},
      {"direct > a > direct > direct", 0.2, 0.2, {{"direct", 7}, {"a", 3}}},
  };
  for (const Case& c : cases) {
    Rules r = rules({{c.path, "e"}, {10, 0}, {}, {100, 7}}, c.f, c.l);
    EXPECT_EQ(r.pos.at("e"), 0) << "a journey without conversions attributes nothing";
    EXPECT_EQ(r.lnd.at("e"), 0);
    r.pos.erase("e");
    for (auto& kv : c.pos) {
      EXPECT_NEAR(r.pos.at(kv.first), kv.second, 1e-12) << c.path << " " << kv.first;
      EXPECT_NEAR(r.pos_value.at(kv.first), 10 * kv.second, 1e-12) << c.path;
    }
    EXPECT_EQ(r.pos.size(), c.pos.size()) << c.path;
  }
  for (auto c : {std::tuple{0.7, 0.4, "0.700000 and 0.400000"}, {-0.1, 0.4, "-0.100000 and 0.400000"},
                 {0.4, NAN, "0.400000 and nan"}})
    EXPECT_EQ(error_of([&] { rules({{"a"}, {1}, {}, {}}, std::get<0>(c), std::get<1>(c)); }),
              std::string("position_shares: first and last shares must be at least 0 and sum to at most 1, not ") +
                  std::get<2>(c));
  EXPECT_NO_THROW(rules({{"a"}, {1}, {}, {}}, 0.7, 0.3));   // exactly 1
}

// Last non-direct: conversions and value go to the last touch whose channel
// is not direct; a journey of direct touches only credits its last touch.
// Direct names are read with the blanks rule of every channel name.
TEST(RuleModels, LastNonDirectCreditsConversionsAndValue) {
  struct Case { std::string path; std::vector<std::string> direct; std::map<std::string, double> lnd; };
  const std::vector<Case> cases = {
      {"a > direct", {"direct"}, {{"a", 10}, {"direct", 0}}},
      {"a > direct > b > direct", {"direct"}, {{"a", 0}, {"direct", 0}, {"b", 10}}},
      {"direct > direct", {"direct"}, {{"direct", 10}}},
      {"direct > organic", {"direct", "organic"}, {{"direct", 0}, {"organic", 10}}},
      {"a > paid search > brand", {" paid   search ", "brand"}, {{"a", 10}, {"paid search", 0}, {"brand", 0}}},
      {"a > b", {" b"}, {{"a", 10}, {"b", 0}}},
      {"a >  direct ", {"direct  "}, {{"a", 10}, {"direct", 0}}},
  };
  for (const Case& c : cases) {
    Rules r = rules({{c.path}, {10}, {}, {70}}, 0.4, 0.4, c.direct);
    EXPECT_EQ(r.lnd, c.lnd) << c.path;
    for (auto& kv : c.lnd) EXPECT_EQ(r.lnd_value.at(kv.first), 7 * kv.second) << c.path << " " << kv.first;
  }
}

// With null rows each row has the header's number of fields, with and
// without values and path names.
TEST(Heuristic, ResultFileRowsHaveTheHeadersFieldCount) {
  for (const char* value : {"value", ""})
    for (int paths : {0, 1}) {
      const std::string input = *value ? "path;conv;value\nA > B;2;7.5\nD > E > D;0;0\n"
                                       : "path;conv\nA > B;2\nD > E > D;0\n";
      TempFile out, in(input);
      heuristic({}, 1, paths, out.name, in.name, value);
      std::istringstream text(read_file(out.name));
      std::string line;
      std::vector<size_t> fields;
      while (std::getline(text, line)) fields.push_back(std::count(line.begin(), line.end(), ';') + 1);
      ASSERT_EQ(fields.size(), 6u) << input;
      for (size_t k = 1; k < fields.size(); ++k) EXPECT_EQ(fields[k], fields[0]) << input << paths << " row " << k;
    }
}

TimeDecayResult decay(std::vector<std::string> paths, std::vector<std::string> days,
                      std::vector<uli> conv = {1}, std::vector<double> value = {},
                      double half_life = 7, std::string sep = ">") {
  return time_decay_run({std::move(paths), std::move(days), std::move(conv), std::move(value)},
                        {std::move(sep), half_life});
}

TEST(TimeDecay, HandWorkedJourneys) {
  const TimeDecayResult r = decay({"a>b>a", "b", "c>a", "d>b", "e>d"},
                                  {"14>7>0", "3", "2000>2000", "8>1", "0>8000"},
                                  {7, 0, 2, 0, 1}, {14, 0, 1, 6, 4});
  // a>b>a: weights 1/4, 1/2, 1 over 7/4, so a 5/7 and b 2/7 of 7; c>a halves
  // (far from the conversion alike); d>b has value without conversions and
  // shares it 1 : 2; e>d: d weighs 2^(-8000/7), nothing next to e's 1.
  EXPECT_EQ(r.vchannels, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  expect_close(r.vattr_conv, {5 + 1, 2, 1, 0, 1}, 1e-12);
  expect_close(r.vattr_value, {10 + 0.5, 4 + 4, 0.5, 2, 4}, 1e-12);
}

TEST(TimeDecay, Errors) {
  expect_errors({
      {"row 1 has conversions but no channels", [] { decay({""}, {""}); }},
      {"row 1: days \"3abc\" is not a number of days >= 0", [] { decay({"a>b"}, {"1>3abc"}); }},
      {"row 1: days \"0x10\" is not a number of days >= 0", [] { decay({"a>b"}, {"0x10>1"}); }},
      {"row 1: days \"1e400\" is not a number of days >= 0", [] { decay({"a>b"}, {"1>1e400"}); }},
      {"row 1: the path has 2 channels but days lists 1", [] { decay({"a>b"}, {"1"}); }},
      {"half_life must be a positive number of days", [] { decay({"a>b"}, {"7>x"}, {1}, {}, 0); }},
      {"channel_sep must not be empty", [] { decay({"a>b"}, {"7>x"}, {1}, {}, 7, ""); }},
  });
}

}  // namespace
