#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "journeys/journeys.h"

namespace {

struct TempFile {
  std::string name;
  explicit TempFile(const std::string& text) {
    char buf[] = "/tmp/touchlane_testXXXXXX";
    int fd = mkstemp(buf);
    close(fd);
    name = buf;
    std::ofstream(name, std::ios::binary) << text;
  }
  ~TempFile() { std::remove(name.c_str()); }
};

JourneySource file_source(const std::string& file, const std::string& value = "",
                          const std::string& null = "") {
  JourneySource s;
  s.flg_file = 1;
  s.file = file;
  s.var_path = "path";
  s.var_conv = "conv";
  s.var_value = value;
  s.var_null = null;
  s.row_sep = ";";
  return s;
}

struct Row { uli i; std::string path; uli conv; double value; uli nulls; };

std::vector<Row> read_all(const JourneySource& s) {
  JourneyReader r(s);
  std::vector<Row> rows;
  while (r.next()) rows.push_back({r.index(), r.path(), r.conv(), r.value(), r.nulls()});
  return rows;
}

std::string error_of(const JourneySource& s) {
  try {
    read_all(s);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(JourneyFile, ColumnsByNameInAnyOrder) {
  TempFile f("id;path;conv;extra\n1;a > b;2;x\n2;c;0.9;y\n");
  auto rows = read_all(file_source(f.name));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].path, "a > b");
  EXPECT_EQ(rows[0].conv, 2u);
  EXPECT_EQ(rows[1].i, 1u);
  EXPECT_EQ(rows[1].conv, 0u);   // "0.9" reads as 0
  EXPECT_EQ(rows[1].value, 0.0);
}

TEST(JourneyFile, LastOccurrenceOfANameWins) {
  TempFile f("conv;path;conv;v;n\n9;a;1;2.5;3\n");
  auto rows = read_all(file_source(f.name, "v", "n"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].conv, 1u);
  EXPECT_EQ(rows[0].value, 2.5);
  EXPECT_EQ(rows[0].nulls, 3u);
}

TEST(JourneyFile, CarriageReturnsAreNotPartOfFields) {
  TempFile f("path;conv\r\na > b;1\r\nc;2\r\n");
  auto rows = read_all(file_source(f.name));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].path, "a > b");
  TempFile g("conv;path\r\n1;a > b\r\n");   // looked-up column last in the header
  rows = read_all(file_source(g.name));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].path, "a > b");
}

TEST(JourneyFile, TrailingEmptyLinesAreNotJourneys) {
  TempFile f("path;conv\na;1\n\n\n");
  EXPECT_EQ(read_all(file_source(f.name)).size(), 1u);
  TempFile g("path;conv\na;1");   // no final newline
  EXPECT_EQ(read_all(file_source(g.name)).size(), 1u);
  TempFile h("path;conv\n");
  EXPECT_EQ(read_all(file_source(h.name)).size(), 0u);
}

TEST(JourneyFile, ErrorsNameWhatIsWrong) {
  EXPECT_NE(error_of(file_source("/nonexistent/x.csv")).find("cannot open input file '/nonexistent/x.csv'"),
            std::string::npos);
  TempFile f("path;conversions\na;1\n");
  EXPECT_NE(error_of(file_source(f.name)).find("column 'conv' (var_conv) not found"), std::string::npos);
  TempFile g("path;conv\na;1\n");
  EXPECT_NE(error_of(file_source(g.name, "value")).find("column 'value' (var_value)"), std::string::npos);
  EXPECT_NE(error_of(file_source(g.name, "", "nulls")).find("column 'nulls' (var_null)"), std::string::npos);
  TempFile h("path;conv\na;1\nb\nc;2\n");
  EXPECT_NE(error_of(file_source(h.name)).find("line 3"), std::string::npos);
  TempFile i("path;conv\na;1\n\nc;2\n");
  EXPECT_NE(error_of(file_source(i.name)).find("empty line 3"), std::string::npos);
  TempFile j("path;conv;n\na;-1;0\n");
  EXPECT_NE(error_of(file_source(j.name)).find("negative conversion count '-1' on line 2"), std::string::npos);
  EXPECT_NE(error_of(file_source(j.name, "", "n")).find("negative conversion"), std::string::npos);
  TempFile k("path;conv;n\na;1; -3\n");
  EXPECT_NE(error_of(file_source(k.name, "", "n")).find("negative null count"), std::string::npos);
}

TEST(JourneyVectors, RowsWithOptionalColumns) {
  std::vector<std::string> vy{"a", "b"};
  std::vector<uli> vc{1, 0}, vn;
  std::vector<double> vv;
  JourneySource s;
  s.vy = &vy; s.vc = &vc; s.vv = &vv; s.vn = &vn;
  auto rows = read_all(s);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].nulls, 0u);
  EXPECT_EQ(rows[1].value, 0.0);
  vv = {1.0};
  EXPECT_NE(error_of(s).find("values have 1 rows"), std::string::npos);
}

}  // namespace

namespace {

TEST(StateEncoding, OrdersThatCannotBeHeldAreRejectedByName) {
  EXPECT_NO_THROW(check_order(1, "order"));
  EXPECT_NO_THROW(check_order(kMaxOrder, "order"));
  for (uli bad : {uli{0}, kMaxOrder + 1, uli{1} << 32, ~uli{0}}) {
    try {
      check_order(bad, "max_order");
      ADD_FAILURE() << "order " << bad << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind("max_order must be at ", 0), 0u) << e.what();
    }
  }
  ChannelMap mp, mp_sim;
  StateInverse inv;
  std::vector<std::string> vch, vch_sim;
  uli nch = 0, nsim = 0;
  std::vector<uli> idx, states;
  init_state_dictionary(&mp_sim, &vch_sim, &inv, &nsim);
  // The whole padded state would be allocated before anything else fails.
  EXPECT_THROW(encode_journey("a > b", '>', uli{1} << 62, &mp, &vch, &nch, &mp_sim, &inv, &vch_sim,
                              &nsim, &idx, &states),
               std::invalid_argument);
  EXPECT_TRUE(inv.empty());
  encode_journey("a > b", '>', 3, &mp, &vch, &nch, &mp_sim, &inv, &vch_sim, &nsim, &idx, &states);
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(inv.at(states[0]), (std::vector<sli>{0, 1, -1}));
}

}  // namespace
