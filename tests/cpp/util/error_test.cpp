#include "util/error.hpp"

#include <gtest/gtest.h>

namespace pelun {
namespace {

TEST(PelunError, DisplayTexts) {
    EXPECT_EQ(PelunError::invalid_parameter("k must be >= 3; got k=2").display(),
              "invalid parameter: k must be >= 3; got k=2");
    EXPECT_EQ(PelunError::singular_system("PIRLS factor: x").display(), "singular system: PIRLS factor: x");
    EXPECT_EQ(PelunError::linalg("eigh failed in StableReparam: y").display(),
              "linalg failure: eigh failed in StableReparam: y");
}

TEST(PelunError, NotConvergedPrintsCountAndThreeDecimalGradient) {
    EXPECT_EQ(PelunError::not_converged(50, 0.00012346).display(),
              "solver did not converge after 50 iterations (last grad norm = 1.235e-4)");
    EXPECT_EQ(PelunError::not_converged(7, 2.0).display(),
              "solver did not converge after 7 iterations (last grad norm = 2.000e0)");
}

TEST(PelunError, KindsKeepTheirOrder) {
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidParameter), 0);
    EXPECT_EQ(static_cast<int>(ErrorKind::SingularSystem), 1);
    EXPECT_EQ(static_cast<int>(ErrorKind::NotConverged), 2);
    EXPECT_EQ(static_cast<int>(ErrorKind::Linalg), 3);
}

}  // namespace
}  // namespace pelun
