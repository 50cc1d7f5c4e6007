// What the core tests share: temporary files that remove themselves, the
// console captured into lines, the message of an expected error, and
// journeys written as a delimited file.
#ifndef TOUCHLANE_TESTS_HELPERS_H
#define TOUCHLANE_TESTS_HELPERS_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/common.h"

namespace tl_test {

// A file in the temporary directory, removed with the object. The text,
// when given, is written to it.
struct TempFile {
  std::string name;
  TempFile() {
    char buf[] = "/tmp/touchlane_testXXXXXX";
    const int fd = mkstemp(buf);
    if (fd >= 0) close(fd);
    name = buf;
  }
  explicit TempFile(const std::string& text) : TempFile() {
    std::ofstream(name, std::ios::binary) << text;
  }
  ~TempFile() { std::remove(name.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
};

inline std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string l;
  while (std::getline(ss, l)) out.push_back(l);
  return out;
}

// Everything the library prints while the object lives.
struct Console {
  std::ostringstream os;
  Console() { set_console_stream(&os); }
  ~Console() { set_console_stream(nullptr); }
  std::vector<std::string> lines() const { return split_lines(os.str()); }
};

// The message of the exception that f throws, "" when it returns.
template <class F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace tl_test


// ---- Added for the model tests (shapley, hta, order, budget, ...) --------
// Error tables: each row a call and the exact message of the
// std::invalid_argument it must throw.
#include <functional>
#include <stdexcept>

#include <gtest/gtest.h>

namespace tl_test {

struct ErrorRow {
  std::string message;
  std::function<void()> call;
};

inline void expect_errors(const std::vector<ErrorRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string got = "(no error)";
    try {
      rows[i].call();
    } catch (const std::invalid_argument& e) {
      got = e.what();
    } catch (const std::exception& e) {
      got = std::string("(not invalid_argument) ") + e.what();
    }
    EXPECT_EQ(got, rows[i].message) << "row " << i + 1;
  }
}

// Sum of a vector, for totals that must be kept.
inline double total_of(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

}  // namespace tl_test

#endif
