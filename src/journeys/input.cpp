#include <algorithm>
#include <stdexcept>

#include "journeys/journeys.h"

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

uli parse_count(std::string_view field, const char* what, uli line_no, const std::string& file) {
  size_t k = 0;
  while (k < field.size() && (field[k] == ' ' || field[k] == '\t')) ++k;
  if (k < field.size() && field[k] == '-')
    throw std::invalid_argument("negative " + std::string(what) + " count '" +
                                std::string(field) + "' on line " + std::to_string(line_no) +
                                " of " + quoted(file));
  return parse_stoul(field);
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
                          const std::string& var_null, const std::string& row_sep) {
  JourneySource src;
  src.flg_file = 1;
  src.file = file;
  src.var_path = var_path;
  src.var_conv = var_conv;
  src.var_value = var_value;
  src.var_null = var_null;
  src.row_sep = row_sep;
  return src;
}

char first_char(const std::string& s, const char* arg_name) {
  if (s.empty()) throw std::invalid_argument(std::string(arg_name) + " must not be empty");
  return s[0];
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
  fsep_ = first_char(src_.row_sep, "row_sep");
  in_.open(src_.file, std::ios::in | std::ios::binary);
  if (!in_.is_open()) throw std::invalid_argument("cannot open input file " + quoted(src_.file));
  std::string header;
  if (!std::getline(in_, header))
    throw std::invalid_argument("input file " + quoted(src_.file) + " has no header line");
  if (!header.empty() && header.back() == '\r') header.pop_back();
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
                                quoted(src_.file));
  };
  if (!found_path) missing("var_path", src_.var_path);
  if (!found_conv) missing("var_conv", src_.var_conv);
  if (flg_null_ && !found_null) missing("var_null", src_.var_null);
  if (flg_value_ && !found_value) missing("var_value", src_.var_value);
  ncol_needed_ = std::max(col_path_, col_conv_);
  if (flg_null_) ncol_needed_ = std::max(ncol_needed_, col_null_);
  if (flg_value_) ncol_needed_ = std::max(ncol_needed_, col_value_);
  ncol_needed_ += 1;
}

bool JourneyReader::read_line() {
  while (std::getline(in_, line_)) {
    ++line_no_;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
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

bool JourneyReader::next() {
  if (!src_.flg_file) {
    if (next_row_ >= src_.vy->size()) return false;
    i_ = next_row_++;
    path_ = &(*src_.vy)[i_];
    conv_ = (*src_.vc)[i_];
    value_ = (src_.vv && !src_.vv->empty()) ? (*src_.vv)[i_] : 0.0;
    nulls_ = (src_.vn && !src_.vn->empty()) ? (*src_.vn)[i_] : 0;
    return true;
  }
  if (!read_line()) return false;
  i_ = next_row_++;
  split_views(line_, fsep_, &fields_);
  if (fields_.size() < ncol_needed_)
    throw std::invalid_argument("line " + std::to_string(line_no_) + " of " + quoted(src_.file) +
                                " has " + std::to_string(fields_.size()) + " fields, " +
                                std::to_string(ncol_needed_) + " needed");
  path_buf_.assign(fields_[col_path_].data(), fields_[col_path_].size());
  path_ = &path_buf_;
  conv_ = parse_count(fields_[col_conv_], "conversion", line_no_, src_.file);
  nulls_ = flg_null_ ? parse_count(fields_[col_null_], "null", line_no_, src_.file) : 0;
  value_ = flg_value_ ? parse_stod(fields_[col_value_]) : 0.0;
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
