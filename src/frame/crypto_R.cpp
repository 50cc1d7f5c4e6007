#include "crypto/crypto.h"
#include "frame/frame.h"

extern "C" SEXP encrypt_R(SEXP raw_data_p, SEXP key_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::string raw_data = as_str(raw_data_p);
  std::string key = as_str(key_p);
  return r_result([&]() -> SEXP { return Rcpp::CharacterVector::create(encrypt(raw_data, key)); });
  END_RCPP
}

extern "C" SEXP decrypt_R(SEXP raw_data_p, SEXP key_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::string raw_data = as_str(raw_data_p);
  std::string key = as_str(key_p);
  return r_result([&]() -> SEXP { return Rcpp::CharacterVector::create(decrypt(raw_data, key)); });
  END_RCPP
}
