#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "journeys/journeys.h"

namespace {

constexpr size_t kReadBlock = size_t(1) << 18;   // bytes per read of a journey file

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string_view trim_spaces(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// "line 3, column 2 of 'f.csv'"
std::string where(uli line_no, size_t col, const std::string& file) {
  return "line " + std::to_string(line_no) + ", column " + std::to_string(col + 1) + " of " +
         quoted(file);
}

// The whole field as a number (blanks around it allowed), or false.
bool full_number(std::string_view field, double* out) {
  field = trim_spaces(field);
  if (!field.empty() && field[0] == '+') field.remove_prefix(1);
  if (field.empty()) return false;
  const char c = field[0];
  if (!((c >= '0' && c <= '9') || c == '.' || c == '-')) return false;   // no "inf", "nan"
  auto r = std::from_chars(field.data(), field.data() + field.size(), *out);
  return r.ec == std::errc() && r.ptr == field.data() + field.size();
}

// Plain digits that fit, the usual count; false sends the field to the
// full rules of parse_count_full.
inline bool plain_count(std::string_view field, uli* out) {
  if (field.empty() || field.size() > 19) return false;   // 19 digits cannot wrap
  uli v = 0;
  for (char ch : field) {
    const unsigned d = static_cast<unsigned char>(ch) - static_cast<unsigned>('0');
    if (d > 9) return false;
    v = v * 10 + d;
  }
  *out = v;
  return true;
}

// A count field: digits, or a decimal or scientific notation of a
// non-negative number, truncated towards zero like a data-frame count.
uli parse_count_full(std::string_view field, const char* what, uli line_no, size_t col,
                     const std::string& file) {
  std::string_view t = trim_spaces(field);
  if (!t.empty() && t[0] == '-')
    throw std::invalid_argument("negative " + std::string(what) + " count '" +
                                std::string(field) + "' on line " + std::to_string(line_no) +
                                " of " + quoted(file));
  if (!t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos) {
    uli v = 0;
    for (char ch : t) {
      const uli d = static_cast<uli>(ch - '0');
      if (v > (~static_cast<uli>(0) - d) / 10)
        throw std::out_of_range("stoul: " + std::string(what) + " count '" + std::string(field) +
                                "' on " + where(line_no, col, file) + " is too large");
      v = v * 10 + d;
    }
    return v;
  }
  double d = 0;
  if (!full_number(field, &d))
    throw std::invalid_argument("stoul: " + std::string(what) + " count '" + std::string(field) +
                                "' on " + where(line_no, col, file) + " is not a number");
  if (!(d < kTwo64))
    throw std::out_of_range("stoul: " + std::string(what) + " count '" + std::string(field) +
                            "' on " + where(line_no, col, file) + " is too large");
  return static_cast<uli>(d);
}

inline uli parse_count(std::string_view field, const char* what, uli line_no, size_t col,
                       const std::string& file) {
  uli v;
  if (plain_count(field, &v)) return v;
  return parse_count_full(field, what, line_no, col, file);
}

// "-12.5" and the like: an optional minus, digits, optionally a point and
// more digits, 15 digits at most. The digits as an integer and the power of
// ten are both exact doubles, so their quotient is the correctly rounded
// value, the same double from_chars gives. False for anything else.
inline bool plain_decimal(std::string_view field, double* out) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const char* p = field.data();
  const char* const end = p + field.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  uli m = 0;
  int digits = 0, frac = 0;
  const char* const int_start = p;
  for (; p != end && static_cast<unsigned>(*p - '0') <= 9; ++p, ++digits) m = m * 10 + (*p - '0');
  if (p == int_start || digits > 15) return false;
  if (p != end) {
    if (*p != '.') return false;
    ++p;
    const char* const frac_start = p;
    for (; p != end && static_cast<unsigned>(*p - '0') <= 9; ++p, ++digits, ++frac)
      m = m * 10 + (*p - '0');
    if (p != end || p == frac_start || digits > 15) return false;
  }
  const double x = static_cast<double>(m) / kPow10[frac];
  *out = negative ? -x : x;
  return true;
}

double parse_value(std::string_view field, uli line_no, size_t col, const std::string& file) {
  double d = 0;
  if (plain_decimal(field, &d)) return d;
  if (!full_number(field, &d))
    throw std::invalid_argument("stod: value '" + std::string(field) + "' on " +
                                where(line_no, col, file) + " is not a finite number");
  if (!std::isfinite(d))
    throw std::out_of_range("stod: value '" + std::string(field) + "' on " +
                            where(line_no, col, file) + " is not a finite number");
  return d;
}

std::string path_error(const std::string& place, std::string_view problem) {
  return "path " + place + ": " + std::string(problem);
}

}  // namespace

JourneySource vector_source(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                            const std::vector<double>* vv, const std::vector<uli>* vn) {
  JourneySource src;
  src.flg_file = 0;
  src.var_value = (vv && !vv->empty()) ? "value" : "";
  src.var_null = (vn && !vn->empty()) ? "nulls" : "";
  src.vy = vy;
  src.vc = vc;
  src.vv = vv;
  src.vn = vn;
  return src;
}

JourneySource file_source(const std::string& file, const std::string& var_path,
                          const std::string& var_conv, const std::string& var_value,
                          const std::string& var_null, const std::string& field_sep) {
  JourneySource src;
  src.flg_file = 1;
  src.file = file;
  src.var_path = var_path;
  src.var_conv = var_conv;
  src.var_value = var_value;
  src.var_null = var_null;
  src.field_sep = field_sep;
  return src;
}

JourneySource input_source(int flg_file, const std::string& file, const std::string& var_path,
                           const std::string& var_conv, const std::string& var_value,
                           const std::string& field_sep, const std::vector<std::string>* vy,
                           const std::vector<uli>* vc, const std::vector<double>* vv) {
  if (flg_file != 0) return file_source(file, var_path, var_conv, var_value, "", field_sep);
  return vector_source(vy, vc, vv, nullptr);
}

char first_char(const std::string& s, const char* arg_name) {
  if (s.empty()) throw std::invalid_argument(std::string(arg_name) + " must not be empty");
  return s[0];
}

void strip_header_line(std::string* line) {
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->compare(0, 3, "\xEF\xBB\xBF") == 0) line->erase(0, 3);
}

std::string quoting_hint(const std::vector<std::string_view>& header, char field_sep) {
  for (std::string_view f : header)
    if (f.find('"') != std::string_view::npos)
      return "; the header has quoted fields, and quoting is not supported: write the file without quotes, "
             "as write.table(x, file, sep = \"" + std::string(1, field_sep) +
             "\", quote = FALSE, row.names = FALSE) does";
  return "";
}

JourneyReader::JourneyReader(const JourneySource& src)
    : src_(src), flg_value_(!src.var_value.empty()), flg_null_(!src.var_null.empty()) {
  if (!src_.flg_file) {
    if (!src_.vy || !src_.vc) throw std::invalid_argument("journeys: no path or conversion vector");
    const size_t n = src_.vy->size();
    if (src_.vc->size() != n)
      throw std::invalid_argument("journeys: conversions have " + std::to_string(src_.vc->size()) +
                                  " rows, paths " + std::to_string(n));
    if (src_.vv && !src_.vv->empty() && src_.vv->size() != n)
      throw std::invalid_argument("journeys: values have " + std::to_string(src_.vv->size()) +
                                  " rows, paths " + std::to_string(n));
    if (src_.vn && !src_.vn->empty() && src_.vn->size() != n)
      throw std::invalid_argument("journeys: nulls have " + std::to_string(src_.vn->size()) +
                                  " rows, paths " + std::to_string(n));
    return;
  }
  fsep_ = first_char(src_.field_sep, "row_sep");
  in_.open(src_.file, std::ios::in | std::ios::binary);
  if (!in_.is_open()) throw std::invalid_argument("cannot open input file " + quoted(src_.file));
  buf_.resize(kReadBlock);
  std::string_view first;
  if (!fetch_line(&first))
    throw std::invalid_argument("input file " + quoted(src_.file) + " has no header line");
  std::string header(first);
  strip_header_line(&header);
  split_views(header, fsep_, &fields_);
  bool found_path = false, found_conv = false, found_value = false, found_null = false;
  for (size_t j = 0; j < fields_.size(); ++j) {
    // The last occurrence of a name wins.
    if (fields_[j] == src_.var_path) { col_path_ = j; found_path = true; }
    if (fields_[j] == src_.var_conv) { col_conv_ = j; found_conv = true; }
    if (flg_null_ && fields_[j] == src_.var_null) { col_null_ = j; found_null = true; }
    if (flg_value_ && fields_[j] == src_.var_value) { col_value_ = j; found_value = true; }
  }
  auto missing = [&](const char* arg, const std::string& name) {
    throw std::invalid_argument("column " + quoted(name) + " (" + arg + ") not found in the header of " +
                                quoted(src_.file) + quoting_hint(fields_, fsep_));
  };
  if (!found_path) missing("var_path", src_.var_path);
  if (!found_conv) missing("var_conv", src_.var_conv);
  if (flg_null_ && !found_null) missing("var_null", src_.var_null);
  if (flg_value_ && !found_value) missing("var_value", src_.var_value);
  ncol_needed_ = std::max(col_path_, col_conv_);
  if (flg_null_) ncol_needed_ = std::max(ncol_needed_, col_null_);
  if (flg_value_) ncol_needed_ = std::max(ncol_needed_, col_value_);
  ncol_needed_ += 1;
  fields_.clear();   // they point into the header
}

bool JourneyReader::fetch_line(std::string_view* line) {
  for (;;) {
    const char* b = buf_.data() + buf_beg_;
    const size_t avail = buf_end_ - buf_beg_;
    if (const void* nl = std::memchr(b, '\n', avail)) {
      const size_t len = static_cast<size_t>(static_cast<const char*>(nl) - b);
      *line = std::string_view(b, len);
      buf_beg_ += len + 1;
      return true;
    }
    if (eof_) {
      if (avail == 0) return false;
      *line = std::string_view(b, avail);   // the last line has no line end
      buf_beg_ = buf_end_;
      return true;
    }
    // Keep the partial line, make room (a line longer than the buffer
    // doubles it) and read on.
    if (buf_beg_ > 0) {
      std::memmove(buf_.data(), b, avail);
      buf_beg_ = 0;
      buf_end_ = avail;
    }
    if (buf_end_ == buf_.size()) buf_.resize(2 * buf_.size());
    in_.read(buf_.data() + buf_end_, static_cast<std::streamsize>(buf_.size() - buf_end_));
    const size_t got = static_cast<size_t>(in_.gcount());
    buf_end_ += got;
    if (got == 0) eof_ = true;
  }
}

bool JourneyReader::read_line() {
  while (fetch_line(&line_)) {
    ++line_no_;
    if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
    if (line_.empty()) {
      if (pending_empty_++ == 0) first_empty_line_ = line_no_;
      continue;
    }
    if (pending_empty_)
      throw std::invalid_argument("empty line " + std::to_string(first_empty_line_) + " in " +
                                  quoted(src_.file));
    return true;
  }
  return false;
}

// Splits like split_views (no field after a final separator) but stops once
// the columns read are found: when fewer are there, every field was counted.
size_t JourneyReader::split_needed() {
  fields_.clear();
  const char* d = line_.data();
  const size_t n = line_.size();
  size_t start = 0;
  while (start < n && fields_.size() < ncol_needed_) {
    const void* hit = std::memchr(d + start, fsep_, n - start);
    if (!hit) {
      fields_.emplace_back(d + start, n - start);
      break;
    }
    const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - d);
    fields_.emplace_back(d + start, pos - start);
    start = pos + 1;
  }
  return fields_.size();
}

void JourneyReader::copy_path() const {
  path_buf_.assign(path_view_.data(), path_view_.size());
  path_copied_ = true;
}

bool JourneyReader::next() {
  if (!src_.flg_file) {
    if (next_row_ >= src_.vy->size()) return false;
    i_ = next_row_++;
    path_ = &(*src_.vy)[i_];
    path_view_ = *path_;
    conv_ = (*src_.vc)[i_];
    value_ = (src_.vv && !src_.vv->empty()) ? (*src_.vv)[i_] : 0.0;
    nulls_ = (src_.vn && !src_.vn->empty()) ? (*src_.vn)[i_] : 0;
    if (!std::isfinite(value_))
      throw std::invalid_argument("journeys: value in row " + std::to_string(i_ + 1) +
                                  " is not a finite number (" + fmt_f(value_) + ")");
    const std::string problem = path_problem(*path_, src_.cha_sep);
    if (!problem.empty())
      throw std::invalid_argument(path_error("in row " + std::to_string(i_ + 1), problem));
    return true;
  }
  if (!read_line()) return false;
  i_ = next_row_++;
  const size_t nfields = split_needed();
  if (nfields < ncol_needed_)
    throw std::invalid_argument("line " + std::to_string(line_no_) + " of " + quoted(src_.file) +
                                " has " + std::to_string(nfields) + " fields, " +
                                std::to_string(ncol_needed_) + " needed");
  path_view_ = fields_[col_path_];
  path_copied_ = false;
  const std::string problem = path_problem(path_view_, src_.cha_sep);
  if (!problem.empty())
    throw std::invalid_argument(path_error("on " + where(line_no_, col_path_, src_.file), problem));
  conv_ = parse_count(fields_[col_conv_], "conversion", line_no_, col_conv_, src_.file);
  nulls_ = flg_null_ ? parse_count(fields_[col_null_], "null", line_no_, col_null_, src_.file) : 0;
  value_ = flg_value_ ? parse_value(fields_[col_value_], line_no_, col_value_, src_.file) : 0.0;
  return true;
}

void channels_markov(std::string_view path, char sep, std::vector<std::string_view>* out) {
  out->clear();
  size_t start = 0;
  const size_t n = path.size();
  while (start <= n) {
    size_t pos = path.find(sep, start);
    if (pos == std::string_view::npos) pos = n;
    std::string_view piece = trim_blanks(path.substr(start, pos - start));
    if (!piece.empty()) out->push_back(piece);
    start = pos + 1;
  }
}

void channels_normalised(std::string_view path, char sep, std::vector<std::string>* out) {
  thread_local std::vector<std::string_view> views;   // reused: runs once per journey
  split_views(path, sep, &views);
  out->resize(views.size());
  for (size_t k = 0; k < views.size(); ++k) normalise_blanks(views[k], &(*out)[k]);
}

bool is_reserved_name(std::string_view name) {
  return name == "(start)" || name == "(conversion)" || name == "(null)" ||
         name == "(constant)" || name == "(unknown)";
}

std::string path_problem(std::string_view path, char sep) {
  if (path.find('\0') != std::string_view::npos) return "it contains a NUL byte";
  if (sep == 0 || path.find('(') == std::string_view::npos) return "";
  size_t start = 0;
  while (start <= path.size()) {
    size_t pos = path.find(sep, start);
    if (pos == std::string_view::npos) pos = path.size();
    std::string_view piece = trim_blanks(path.substr(start, pos - start));
    if (is_reserved_name(piece))
      return "channel '" + std::string(piece) + "' has a name the library reserves; rename it";
    start = pos + 1;
  }
  return "";
}

void check_path(std::string_view path, char sep, uli row) {
  const std::string problem = path_problem(path, sep);
  if (!problem.empty())
    throw std::invalid_argument(path_error("in row " + std::to_string(row + 1), problem));
}
