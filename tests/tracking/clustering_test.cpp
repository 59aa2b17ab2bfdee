#include "tracking/clustering.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace talvo::detail::clustering {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

TEST(Binning, FirstBoundaryAtOrAboveTheValue) {
  const std::vector<double> boundaries{1.0, 2.0, 4.0, 8.0};
  EXPECT_THAT(binning(std::vector{0.5, 12.0, 3.0}, boundaries), ElementsAre(0, 4, 2));
  // A value equal to a boundary falls into the bin that ends there.
  EXPECT_THAT(binning(std::vector{1.0, 2.0, 8.0}, boundaries), ElementsAre(0, 1, 3));
  // Everything up to the first boundary is bin 0, everything finite above the last is bin n.
  EXPECT_THAT(binning(std::vector{0.0, -3.0, -kInf, 8.5, kMax}, boundaries),
              ElementsAre(0, 0, 0, 4, 4));
}

TEST(Binning, NotANumberAndInfinityGetNoBin) {
  const std::vector<double> boundaries{1.0};
  EXPECT_THAT(binning(std::vector{kNaN, 0.5, kInf, 2.0}, boundaries), ElementsAre(0, 1));
}

TEST(Binning, BoundariesAreScannedInListOrder) {
  EXPECT_THAT(binning(std::vector{0.5, 3.0, 7.0}, std::vector{5.0, 1.0}), ElementsAre(0, 0, 2));
}

TEST(Binning, WithoutBoundariesEveryFiniteValueIsBinZero) {
  EXPECT_THAT(binning(std::vector{0.0, 5.0, 1e300}, std::vector<double>{}), ElementsAre(0, 0, 0));
}

TEST(Partitioning, OccupiedBinsAreNumberedFromTheTopWithoutGaps) {
  EXPECT_THAT(partitioning(std::vector{0.5, 12.0, 3.0}, std::vector{1.0, 2.0, 4.0, 8.0}),
              ElementsAre(2, 0, 1));
  EXPECT_THAT(partitioning(std::vector{0.0, 0.0, 5.0}, std::vector{1.0, 2.0, 3.0}),
              ElementsAre(1, 1, 0));
  EXPECT_THAT(partitioning(std::vector{5.0, 0.0, 5.0}, std::vector{1.0, 2.0, 3.0}),
              ElementsAre(0, 1, 0));
}

TEST(Partitioning, OneOccupiedBinIsAllZeros) {
  EXPECT_THAT(partitioning(std::vector{7.0, 9.0}, std::vector{1.0, 2.0}), ElementsAre(0, 0));
  EXPECT_THAT(partitioning(std::vector{0.0, 3.0, 1e9}, std::vector<double>{}),
              ElementsAre(0, 0, 0));
}

TEST(Partitioning, NothingToPartition) {
  EXPECT_THAT(partitioning(std::vector<double>{}, std::vector{1.0}), IsEmpty());
  EXPECT_THAT(partitioning(std::vector{kNaN, kInf}, std::vector{1.0}), IsEmpty());
}

TEST(Partitioning, ValuesWithoutBinAreSkipped) {
  EXPECT_THAT(partitioning(std::vector{kNaN, 0.5, 3.0}, std::vector{1.0}), ElementsAre(1, 0));
}

}  // namespace
}  // namespace talvo::detail::clustering
