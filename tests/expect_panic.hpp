#pragma once
// A one-line check that a statement aborts with a given message.

#include <gmock/gmock.h>

#include "talvo/core/panic.hpp"

/// Expects `statement` to throw `talvo::Panic` whose message equals `message`.
#define EXPECT_PANIC(statement, message) \
  EXPECT_THAT([&] { statement; },        \
              ::testing::ThrowsMessage<::talvo::Panic>(::testing::StrEq(message)))
