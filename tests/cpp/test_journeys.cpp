// The journey reader every model reads through: a file and the same
// journeys in vectors give the same rows, and every unusable input is an
// error naming its row, line, column or file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>

#include "helpers.h"
#include "journeys/journeys.h"

namespace {

using namespace tl_test;

// Index, path, conversions, value, nulls.
using Row = std::tuple<uli, std::string, uli, double, uli>;

std::vector<Row> read_all(JourneySource s, char cha_sep = '>') {
  s.cha_sep = cha_sep;
  JourneyReader r(s);
  std::vector<Row> rows;
  while (r.next()) rows.push_back({r.index(), r.path(), r.conv(), r.value(), r.nulls()});
  return rows;
}

// Columns found by name in any order (the last of two equal names), extra
// columns, carriage returns and empty lines at the end: the same rows as
// the vectors.
TEST(JourneyReader, FileAndVectorsGiveTheSameRows) {
  const Journeys j = random_journeys(4, 300);
  std::string text = "conv;id;nulls;path;value;conv\r\n";
  for (size_t r = 0; r < j.vy.size(); ++r)
    text += "9;" + std::to_string(r) + ";" + std::to_string(j.vn[r]) + ";" + j.vy[r] + ";" +
            fmt_f(j.vv[r]) + ";" + std::to_string(j.vc[r]) + "\r\n";
  TempFile f(text + "\n\n");
  const JourneySource fs = file_source(f.name, "path", "conv", "value", "nulls", ";");
  EXPECT_EQ(read_all(fs), read_all(j.source()));
  JourneyReader both(fs);
  EXPECT_TRUE(both.flg_value() && both.flg_null());
  EXPECT_EQ(both.input_file(), f.name);
  // Optional columns absent: zero values and nulls, from either source.
  const std::vector<Row> bare = read_all(file_source(f.name, "path", "conv", "", "", ";"));
  const Journeys conv_only{j.vy, j.vc, {}, {}};
  EXPECT_EQ(bare, read_all(conv_only.source()));
  EXPECT_EQ(std::get<3>(bare[1]) + std::get<4>(bare[1]), 0.0);
  TempFile header_only("path;conv\n"), no_newline("path;conv\na;1");
  EXPECT_TRUE(read_all(file_source(header_only.name, "path", "conv", "", "", ";")).empty());
  EXPECT_EQ(read_all(file_source(no_newline.name, "path", "conv", "", "", ";")).size(), 1u);
}

// The file is read in blocks: rows around and across block ends, and paths
// longer than a block, come out whole; path_view() is the path in place.
TEST(JourneyReader, RowsLongerThanAReadBlock) {
  Journeys j;
  std::mt19937 rng(3);
  for (int r = 0; r < 6000; ++r) {
    const size_t len = r % 1000 == 7 ? 700000 + rng() % 5 : rng() % 90;
    std::string p;
    for (size_t k = 0; k < len; ++k) p += (k % 2) ? '>' : static_cast<char>('a' + rng() % 26);
    j.vy.push_back(p);
    j.vc.push_back(rng() % 5);
    j.vn.push_back(rng() % 5);
    j.vv.push_back(static_cast<double>(rng() % 1000));
  }
  TempFile f(j.csv());
  const JourneySource fs = file_source(f.name, "path", "conv", "value", "nulls", ";");
  EXPECT_EQ(read_all(fs), read_all(j.source()));
  JourneyReader r(fs);
  for (size_t k = 0; r.next(); ++k) {
    ASSERT_EQ(r.path_view(), j.vy[k]);
    ASSERT_EQ(r.path(), r.path_view());
  }
}

// A value is the double nearest to its decimal text, as strtod reads it.
TEST(JourneyReader, ValuesAreTheNearestDouble) {
  const std::vector<std::string> texts = {
      "0", "-0", "7", "0.1", "-12.5", "0.30000000000000004", "123456789012345",
      "1234567890123456", "9007199254740993", "0.000000000000001", "99999999999999.9",
      "-0.0", "00.10", "1e-5", "2.5E3", ".5", "5.", " 3.25 ", "+1.5", "1.7976931348623157e308",
      "4.9e-324", "0.1234567890123456789"};
  std::string text = "path;conv;v\n";
  for (const std::string& t : texts) text += "a;1;" + t + "\n";
  TempFile f(text);
  const JourneySource fs = file_source(f.name, "path", "conv", "v", "", ";");
  JourneyReader r(fs);
  for (const std::string& t : texts) {
    ASSERT_TRUE(r.next());
    const double want = std::strtod(t.c_str(), nullptr), got = r.value();
    EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0) << t << ": " << got;
  }
  EXPECT_FALSE(r.next());
}

// A count field is a number in full, read towards zero.
TEST(JourneyReader, CountFieldsAreNumbersReadInFull) {
  TempFile f("path;conv\na;1e+05\na; 7 \na;2.9\na;0.9\na;+3\na;18446744073709551615\n");
  std::vector<uli> got;
  for (const Row& r : read_all(file_source(f.name, "path", "conv", "", "", ";"))) got.push_back(std::get<2>(r));
  EXPECT_EQ(got, (std::vector<uli>{100000, 7, 2, 0, 3, ~uli{0}}));
  // A byte-order mark is not part of the first name; a name given twice
  // takes its last copy.
  TempFile g("\xEF\xBB\xBF" "path;conv;conv\na;x;4\n");
  const auto rows = read_all(file_source(g.name, "path", "conv", "", "", ";"));
  EXPECT_EQ(rows, (std::vector<Row>{{0, "a", 4, 0.0, 0}}));
}

// Input -> message; "F" in a message stands for the file's name.
TEST(JourneyReader, ErrorsNameWhatIsWrong) {
  struct FileCase { std::string text, value, nulls, message; };
  const std::vector<FileCase> files = {
      {"path;conversions\na;1\n", "", "", "column 'conv' (var_conv) not found in the header of 'F'"},
      {"\"path\";\"conv\"\n\"a\";1\n", "", "",
       "column 'path' (var_path) not found in the header of 'F'; the header has quoted fields, and quoting is not "
       "supported: write the file without quotes, as write.table(x, file, sep = \";\", quote = FALSE, "
       "row.names = FALSE) does"},
      {"path;conv\na;1\n", "value", "", "column 'value' (var_value) not found in the header of 'F'"},
      {"path;conv\na;1\n", "", "nulls", "column 'nulls' (var_null) not found in the header of 'F'"},
      {"path;conv\na;1\nb\nc;2\n", "", "", "line 3 of 'F' has 1 fields, 2 needed"},
      {"path;conv;v\na;1;\n", "v", "", "line 2 of 'F' has 2 fields, 3 needed"},
      {"path;conv\na;1\n\nc;2\n", "", "", "empty line 3 in 'F'"},
      {"path;conv;n\na;-1;0\n", "", "n", "negative conversion count '-1' on line 2 of 'F'"},
      {"path;conv;n\na;1; -3\n", "", "n", "negative null count ' -3' on line 2 of 'F'"},
      {"path;conv\na;7abc\n", "", "", "stoul: conversion count '7abc' on line 2, column 2 of 'F' is not a number"},
      {"path;conv\na;0x10\n", "", "", "stoul: conversion count '0x10' on line 2, column 2 of 'F' is not a number"},
      {"path;conv\na;nan\n", "", "", "stoul: conversion count 'nan' on line 2, column 2 of 'F' is not a number"},
      {"path;conv\na;1e30\n", "", "", "stoul: conversion count '1e30' on line 2, column 2 of 'F' is too large"},
      {"path;conv\na;18446744073709551616\n", "", "",
       "stoul: conversion count '18446744073709551616' on line 2, column 2 of 'F' is too large"},
      {"path;conv;v\na;1;7abc\n", "v", "", "stod: value '7abc' on line 2, column 3 of 'F' is not a finite number"},
      {"path;conv;v\na;1;1e400\n", "v", "", "stod: value '1e400' on line 2, column 3 of 'F' is not a finite number"},
      {"path;conv;v\na;1;NA\n", "v", "", "stod: value 'NA' on line 2, column 3 of 'F' is not a finite number"},
      {std::string("path;conv\na;1\nb\0c;1\n", 20), "", "",
       "path on line 3, column 1 of 'F': it contains a NUL byte"},
      {"path;conv\na;1\nx > (null);1\n", "", "",
       "path on line 3, column 1 of 'F': channel '(null)' has a name the library reserves; rename it"},
  };
  for (const FileCase& c : files) {
    TempFile f(c.text);
    std::string want = c.message;
    const size_t p = want.find('F');
    if (p != std::string::npos) want.replace(p, 1, f.name);
    EXPECT_EQ(error_of([&] { read_all(file_source(f.name, "path", "conv", c.value, c.nulls, ";")); }),
              want);
  }
  EXPECT_EQ(error_of([] { read_all(file_source("/nonexistent/x.csv", "path", "conv", "", "", ";")); }),
            "cannot open input file '/nonexistent/x.csv'");

  struct VectorCase { Journeys j; std::string message; };
  const std::vector<VectorCase> vectors = {
      {{{"a", "b"}, {1}, {}, {}}, "journeys: conversions have 1 rows, paths 2"},
      {{{"a", "b"}, {1, 1}, {}, {1.0}}, "journeys: values have 1 rows, paths 2"},
      {{{"a", "b"}, {1, 1}, {1}, {}}, "journeys: nulls have 1 rows, paths 2"},
      {{{"a", "b"}, {1, 1}, {}, {1.0, NAN}}, "journeys: value in row 2 is not a finite number (nan)"},
      {{{"a", "b"}, {1, 1}, {}, {1.0, -INFINITY}}, "journeys: value in row 2 is not a finite number (-inf)"},
      {{{"a", std::string("a\0b", 3)}, {1, 1}, {}, {}}, "path in row 2: it contains a NUL byte"},
  };
  for (const VectorCase& c : vectors) EXPECT_EQ(error_of([&] { read_all(c.j.source()); }), c.message);
  // Every reserved name, whatever the blanks around it; other spellings pass.
  for (const char* name : {"(start)", "(conversion)", "(null)", "(constant)", "(unknown)"}) {
    const Journeys j{{"a > (Null)>( null)", std::string("a > ") + name + " "}, {1, 1}, {}, {}};
    EXPECT_EQ(error_of([&] { read_all(j.source()); }),
              "path in row 2: channel '" + std::string(name) + "' has a name the library reserves; rename it");
    EXPECT_EQ(read_all(j.source(), 0).size(), 2u);   // no separator: names not checked
  }
}

TEST(StateEncoding, OrdersThatCannotBeHeldAreRejectedByName) {
  EXPECT_NO_THROW(check_order(kMaxOrder, "order"));
  for (uli bad : {uli{0}, kMaxOrder + 1, uli{1} << 62})
    EXPECT_EQ(error_of([&] { check_order(bad, "max_order"); }).rfind("max_order must be at ", 0), 0u);
}

}  // namespace
