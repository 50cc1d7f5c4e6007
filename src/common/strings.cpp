#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <stdexcept>

#include "common/common.h"

namespace {

inline bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void split_views(std::string_view s, char delim, std::vector<std::string_view>* out) {
  out->clear();
  size_t start = 0;
  const size_t n = s.size();
  while (start < n) {
    size_t pos = s.find(delim, start);
    if (pos == std::string_view::npos) {
      out->push_back(s.substr(start));
      return;
    }
    out->push_back(s.substr(start, pos - start));
    start = pos + 1;
  }
}

std::vector<std::string> split(const std::string& s, char delim) {
  std::vector<std::string_view> views;
  split_views(s, delim, &views);
  return std::vector<std::string>(views.begin(), views.end());
}

uli parse_stoul(std::string_view s) {
  size_t k = 0;
  const size_t n = s.size();
  while (k < n && is_c_space(s[k])) ++k;
  bool negative = false;
  if (k < n && (s[k] == '+' || s[k] == '-')) {
    negative = s[k] == '-';
    ++k;
  }
  if (k >= n || s[k] < '0' || s[k] > '9') throw std::invalid_argument("stoul");
  uli v = 0;
  bool overflow = false;
  for (; k < n && s[k] >= '0' && s[k] <= '9'; ++k) {
    uli d = static_cast<uli>(s[k] - '0');
    if (v > (~static_cast<uli>(0) - d) / 10) overflow = true;
    v = v * 10 + d;
  }
  if (overflow) throw std::out_of_range("stoul");
  // strtoul's rule for a leading minus sign: the value is negated.
  return negative ? static_cast<uli>(0) - v : v;
}

double parse_stod(std::string_view s) {
  // Plain decimal numbers take the fast, equally exact from_chars; anything
  // else (leading blanks or '+', hexadecimal, a bare sign) goes through
  // strtod so the accepted forms stay those of the standard conversion.
  if (!s.empty() && ((s[0] >= '0' && s[0] <= '9') || s[0] == '-' || s[0] == '.') &&
      s.find_first_of("xX") == std::string_view::npos) {
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc()) return v;
  }
  // strtod needs a terminated buffer that ends where the field ends.
  thread_local std::string buf;
  buf.assign(s.data(), s.size());
  const char* begin = buf.c_str();
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(begin, &end);
  if (end == begin) throw std::invalid_argument("stod");
  if (errno == ERANGE && (v == HUGE_VAL || v == -HUGE_VAL)) throw std::out_of_range("stod");
  return v;
}

std::vector<uli> split2(const std::string& s, char delim) {
  std::vector<std::string_view> views;
  split_views(s, delim, &views);
  std::vector<uli> out;
  out.reserve(views.size());
  for (auto v : views) out.push_back(parse_stoul(v));
  return out;
}

std::vector<sli> split_string(const std::string& s, uli order) {
  std::vector<sli> out(order, -1);
  std::vector<std::string_view> views;
  split_views(s, ' ', &views);
  size_t k = 0;
  for (auto v : views) {
    if (v.empty()) continue;
    if (k >= order) break;
    out[k++] = static_cast<sli>(parse_stoul(v));
  }
  return out;
}

std::string collapse_vec_to_str(const std::vector<sli>& v) {
  std::string out;
  for (size_t k = 0; k < v.size(); ++k) {
    if (k) out.push_back(' ');
    out += std::to_string(v[k]);
  }
  return out;
}

std::string_view trim_blanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

void normalise_blanks(std::string_view s, std::string* out) {
  s = trim_blanks(s);
  if (s.find("  ") == std::string_view::npos) {   // the common case: nothing to collapse
    out->assign(s.data(), s.size());
    return;
  }
  out->clear();
  out->reserve(s.size());
  bool prev_blank = false;
  for (char c : s) {
    if (c == ' ') {
      if (prev_blank) continue;
      prev_blank = true;
    } else {
      prev_blank = false;
    }
    out->push_back(c);
  }
}

std::string normalise_blanks(std::string_view s) {
  std::string out;
  normalise_blanks(s, &out);
  return out;
}
