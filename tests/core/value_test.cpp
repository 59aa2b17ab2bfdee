#include "talvo/core/value.hpp"

#include <gtest/gtest.h>

namespace talvo {
namespace {

TEST(Value, CopiesShareTheStorageUntilOneOfThemWrites) {
  const Value original{0.25, 0.5};
  Value copy = original;
  EXPECT_EQ(copy.data(), original.data());

  copy.mutable_span()[0] = 0.75;
  EXPECT_NE(copy.data(), original.data());
  EXPECT_EQ(original, (Value{0.25, 0.5}));
  EXPECT_FALSE(original.shared());

  const double* own = copy.data();
  copy.mutable_span()[1] = 1.0;  // the only holder writes in place
  EXPECT_EQ(copy.data(), own);
  EXPECT_EQ(copy, (Value{0.75, 1.0}));
}

}  // namespace
}  // namespace talvo
