// Path attribution: worked journeys, random journeys against the rule
// worked out by hand, the result file and the errors.
#include <gtest/gtest.h>

#include "helpers.h"
#include "pathattr/pathattr.h"

namespace {

using namespace tl_test;

struct Attributed { TouchpointRows rows; std::vector<double> loc; };

Attributed attribute(const Journeys& j, const ChannelMap& dict, const std::vector<double>& w,
                     double mean, int nulls = 0, int paths = 0, const std::string& file_output = "",
                     const std::string& row_sep = ";", const std::string& cha_sep = ">") {
  Attributed a;
  a.loc.assign(w.size(), 0.0);
  JourneySource src = j.source();
  src.field_sep = row_sep;
  PathSettings s;
  s.cha_sep = cha_sep;
  s.flg_write_nulls = nulls;
  s.flg_write_paths = paths;
  s.file_output = file_output;
  attribute_journeys(src, s, dict, w, mean, &a.rows, &a.loc);
  return a;
}

TEST(PathAttr, WorkedJourneys) {
  struct Case {
    Journeys j;
    ChannelMap dict;
    std::vector<double> w;
    double mean;
    int nulls;
    std::vector<double> id, convs, loc;
  };
  const std::vector<Case> cases = {
      // Two names sharing an index are one channel of the journey.
      {{{"A > alias > B"}, {4}, {}, {}}, {{"A", 0}, {"alias", 0}, {"B", 1}}, {1, 1}, 1, 0, {0, 0, 0}, {1, 1, 2}, {2, 2}},
      // Non-converting journeys give zero rows only when asked; empty paths none.
      {{{"A > b", "A", ""}, {0, 2, 3}, {}, {}}, {{"A", 0}}, {1}, 1, 0, {1}, {2}, {2}},
      {{{"A > b", "A", ""}, {0, 2, 3}, {}, {}}, {{"A", 0}}, {1}, 1, 1, {0, 0, 1}, {0, 0, 2}, {2}},
  };
  for (const Case& c : cases) {
    const Attributed a = attribute(c.j, c.dict, c.w, c.mean, c.nulls);
    EXPECT_EQ(a.rows.vpath_id, c.id) << c.j.vy[0];
    expect_close(a.rows.vpath_attr_convs, c.convs);
    expect_close(a.loc, c.loc);
    EXPECT_TRUE(a.rows.vpath_name.empty() && a.rows.vpath_attr_value.empty());
  }
}

// Known channels (two weighing 0 in odd sets, so that some journeys give
// not-a-number), unknown u / v weighing the mean, blank variants and
// repeats sharing their channel's weight; a sixth do not convert.
TEST(PathAttr, RandomJourneysAsWorkedOutByHand) {
  const std::vector<std::string> names{"a", "b", "c", "d", "e", "paid search"};
  const std::vector<std::string> spelled{"a", " a", "b ", "c", "  d", "e", "paid  search",
                                         " paid search ", "u", "v ", "b"};
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(0.0, 5.0);
    ChannelMap dict;
    std::vector<double> w;
    std::map<std::string, double> by_name;
    for (size_t k = 0; k < names.size(); ++k) {
      dict[names[k]] = k;
      w.push_back(seed % 2 && (k == 3 || k == 4) ? 0.0 : u(g));
      by_name[names[k]] = w.back();
    }
    const double mean = u(g);
    Journeys j;
    for (int i = 0; i < 400; ++i) {
      std::string path;
      for (size_t k = 0, len = 1 + g() % 7; k < len; ++k)
        path += (k ? (g() % 2 ? " > " : ">") : "") + spelled[g() % spelled.size()];
      j.vy.push_back(path);
      j.vc.push_back(g() % 6 == 0 ? 0 : g() % 9);
      j.vv.push_back(u(g) * 10);
    }
    for (int nulls : {0, 1}) {
      const Attributed a = attribute(j, dict, w, mean, nulls);
      const TouchRows e = attribute_by_hand(j, by_name, mean, nulls == 1);
      EXPECT_EQ(a.rows.vpath_id, e.id);
      EXPECT_EQ(a.rows.vpath_chpos, e.chpos);
      EXPECT_EQ(a.rows.vpath_channel, e.channel);
      expect_close(a.rows.vpath_attr_convs, e.convs);
      expect_close(a.rows.vpath_attr_value, e.value);
      for (size_t k = 0; k < names.size(); ++k)
        expect_close({a.loc[k]}, {e.total.count(names[k]) ? e.total.at(names[k]) : 0.0});
    }
  }
}

TEST(PathAttr, ResultFileHasTheExactLayout) {
  const ChannelMap d{{"A", 0}, {"B", 1}};
  TempFile out;
  // The header joins by the whole separator, rows by its first character.
  Attributed a = attribute({{"A > B > A", " z", "B"}, {4, 0, 1}, {}, {8, 0, 0.5}}, d, {3, 1}, 1, 1, 1,
                           out.name, ";;");
  EXPECT_TRUE(a.rows.vpath_id.empty() && a.rows.vpath_attr_convs.empty() && a.rows.vpath_name.empty());
  EXPECT_EQ(a.loc, (std::vector<double>{3, 2}));
  EXPECT_EQ(read_file(out.name),
            "path_id;;path_name;;channel;;channel_position;;total_conversions;;"
            "total_conversion_value\n"
            "0;A > B > A;A;0;1.500000;3.000000\n"
            "0;A > B > A;B;1;1.000000;2.000000\n"
            "0;A > B > A;A;2;1.500000;3.000000\n"
            "1; z;z;0;0;0\n"
            "2;B;B;0;1.000000;0.500000\n");
}

TEST(PathAttr, ErrorsNameWhatIsWrong) {
  struct Case { Journeys j; ChannelMap dict; std::string cha_sep, output, message; };
  const std::vector<Case> cases = {
      {{{"A"}, {1}, {}, {}}, {{"A", 0}, {"B", 2}}, ">", "", "channel 'B' has dictionary index 2"},
      {{{"A", "A"}, {1}, {}, {}}, {{"A", 0}}, ">", "", "conversions have 1 rows, paths 2"},
      {{{"A"}, {1}, {}, {}}, {{"A", 0}}, "", "", "cha_sep"},
      {{{"A"}, {1}, {}, {}}, {{"A", 0}}, ">", "/nonexistent/dir/out.csv", "/nonexistent/dir/out.csv"},
  };
  for (const Case& c : cases)
    EXPECT_HAS(error_of([&] { attribute(c.j, c.dict, {1, 1}, 1, 0, 0, c.output, ";", c.cha_sep); }),
               c.message);
}

}  // namespace
