#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "frame/frame.h"

namespace {

std::string row_error(const std::string& what, R_xlen_t i, double d) {
  std::string kind = std::isnan(d) ? "NA" : (std::isinf(d) ? "not finite" : "negative");
  return what + ": row " + std::to_string(i + 1) + " is " + kind + " (" +
         (std::isnan(d) ? std::string("NA") : std::to_string(d)) + ")";
}
}  // namespace

int as_int(SEXP x) { return Rcpp::as<int>(x); }

uli as_count(SEXP x, const char* arg) {
  double d = Rcpp::as<double>(x);
  if (std::isnan(d)) throw std::invalid_argument(std::string(arg) + " must not be NA");
  if (!std::isfinite(d) || d < 0 || d >= kTwo64)
    throw std::invalid_argument(std::string(arg) + " must be a non-negative whole number, not " +
                                std::to_string(d));
  return static_cast<uli>(d);
}

uli as_seed(SEXP x) {
  double d = Rcpp::as<double>(x);
  if (std::isnan(d) || d >= kTwo64) return gb::limsup;
  if (!std::isfinite(d) || d < 0)
    throw std::invalid_argument("seed must be a non-negative whole number, not " + std::to_string(d));
  return static_cast<uli>(d);
}

double as_real(SEXP x) { return Rcpp::as<double>(x); }

namespace {
// Atomic non-character vectors (numbers, logicals, factors) go through R's
// as.character, so factors give their labels; anything else is left to
// Rcpp, whose error names the type.
SEXP as_character(SEXP x) {
  if (TYPEOF(x) == STRSXP || !Rf_isVectorAtomic(x)) return x;
  Rcpp::Function f = Rcpp::Environment::base_env()["as.character"];
  return f(x);
}
}  // namespace

std::string as_str(SEXP x) {
  Rcpp::RObject s(as_character(x));
  return Rcpp::as<std::string>(s);
}

std::vector<std::string> as_strings(SEXP x) {
  Rcpp::RObject s(as_character(x));
  return Rcpp::as<std::vector<std::string>>(s);
}

std::vector<double> as_reals(SEXP x) { return Rcpp::as<std::vector<double>>(x); }

std::vector<uli> as_counts(SEXP x, const std::string& what) {
  Rcpp::NumericVector v(x);
  std::vector<uli> out(static_cast<size_t>(v.size()));
  const double* p = v.begin();
  for (R_xlen_t i = 0; i < v.size(); ++i) {
    double d = p[i];
    if (!(d >= 0) || !std::isfinite(d) || d >= kTwo64) throw std::invalid_argument(row_error(what, i, d));
    out[static_cast<size_t>(i)] = static_cast<uli>(d);
  }
  return out;
}

void conv_rcpp_mat_to_vec2(Rcpp::NumericMatrix* m, std::vector<std::vector<double>>* out) {
  const int nr = m->nrow(), nc = m->ncol();
  out->assign(static_cast<size_t>(nr), std::vector<double>(static_cast<size_t>(nc)));
  for (int i = 0; i < nr; ++i)
    for (int j = 0; j < nc; ++j) (*out)[i][j] = (*m)(i, j);
}

JourneyInput::JourneyInput(SEXP flg_file, SEXP file, SEXP var_path, SEXP var_conv,
                           SEXP var_value, SEXP var_null, SEXP row_sep) {
  src.flg_file = flg_file ? as_int(flg_file) : 0;
  if (file) src.file = as_str(file);
  src.var_path = as_str(var_path);
  src.var_conv = as_str(var_conv);
  if (var_value) src.var_value = as_str(var_value);
  if (var_null) src.var_null = as_str(var_null);
  src.field_sep = as_str(row_sep);
}

void JourneyInput::load(SEXP Data) {
  if (src.flg_file == 0) {
    Rcpp::List data(Data);
    vy = as_strings(data[src.var_path]);
    vc = as_counts(data[src.var_conv], "column '" + src.var_conv + "' (var_conv)");
    if (!src.var_value.empty()) vv = as_reals(data[src.var_value]);
    if (!src.var_null.empty())
      vn = as_counts(data[src.var_null], "column '" + src.var_null + "' (var_null)");
  }
  src.vy = &vy;
  src.vc = &vc;
  src.vv = &vv;
  src.vn = &vn;
}

SEXP to_character(const std::vector<std::string>& v) {
  // R strings cannot hold NUL bytes and mkChar would raise an R error; the
  // journey reader rejects them, this keeps any other caller safe too.
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i].find('\0') != std::string::npos)
      throw std::invalid_argument("result string " + std::to_string(i + 1) + " contains a NUL byte");
  Rcpp::Shield<SEXP> out(Rf_allocVector(STRSXP, static_cast<R_xlen_t>(v.size())));
  std::unordered_map<std::string_view, SEXP> seen;
  // In a sorted column (the paths of a journey table) equal strings are
  // neighbours, so the map would never hit.
  const bool sorted = std::is_sorted(v.begin(), v.end());
  SEXP prev = R_NilValue;
  for (size_t i = 0; i < v.size(); ++i) {
    SEXP ch;
    if (i > 0 && v[i] == v[i - 1]) {
      ch = prev;
    } else {
      auto it = sorted ? seen.end() : seen.find(v[i]);
      if (it != seen.end()) {
        ch = it->second;
      } else {
        ch = Rf_mkCharLen(v[i].data(), static_cast<int>(v[i].size()));
        // The map only spares R hashing a string it has already made:
        // mkChar finds an equal string in R's global string cache anyway,
        // so past the cap equal strings are still shared and no result
        // changes. The cap bounds the map's memory on columns that are
        // nearly all distinct (the path names of a large result), where it
        // would seldom hit.
        if (!sorted && seen.size() < 100000) seen.emplace(v[i], ch);
      }
    }
    SET_STRING_ELT(out, static_cast<R_xlen_t>(i), ch);   // protected from here on
    prev = ch;
  }
  return out;
}
