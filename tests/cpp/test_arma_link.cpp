#include <gtest/gtest.h>
#include "common/arma.h"
TEST(ArmaLink, BlasBackedOperations) {
  arma::vec a = {3.0, 4.0};
  EXPECT_DOUBLE_EQ(arma::norm(a), 5.0);
  EXPECT_DOUBLE_EQ(arma::dot(a, a), 25.0);
  arma::mat m = {{2, 0}, {0, 4}};
  arma::mat p = m * m;
  EXPECT_DOUBLE_EQ(p(1, 1), 16.0);
  EXPECT_DOUBLE_EQ(arma::det(m), 8.0);
}
