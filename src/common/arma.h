// The only include of Armadillo. Same word size in every file, with or
// without R; Armadillo's own messages go to our console, never to
// std::cout/std::cerr.
#ifndef TOUCHLANE_COMMON_ARMA_H
#define TOUCHLANE_COMMON_ARMA_H

#include <ostream>
std::ostream& console_stream();

#define ARMA_64BIT_WORD 1
#define ARMA_DONT_USE_WRAPPER
#define ARMA_COUT_STREAM console_stream()
#define ARMA_CERR_STREAM console_stream()
#include <armadillo>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Conversions that need Armadillo types (the rest of the helpers live in
// common/common.h).
arma::mat std_vec2_to_arma_mat(const std::vector<std::vector<double>>* v);
// Element i = mp[v[i]]; a missing key is inserted with 0.
arma::Col<arma::uword> conv_vec_string_uli(const std::vector<std::string>* v,
                                           std::map<std::string, std::uint64_t>* mp);

#endif
