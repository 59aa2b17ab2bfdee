// Heap allocations of an update in the steady state, counted by this program's own replacement of
// the global operator new.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "talvo/circuit/reactive.hpp"

namespace {

std::atomic<bool> counting = false;
std::atomic<std::size_t> allocations = 0;

void* allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void* allocate(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Every form that allocates through malloc is replaced together with the forms that free it, so
// that memory is always given back the way it was taken (also under AddressSanitizer).
void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t& tag) noexcept {
  return allocate(size, tag);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return allocate(size, tag);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t& /*tag*/) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t& /*tag*/) noexcept {
  std::free(memory);
}

namespace talvo {
namespace {

template <class S>
class SteadyUpdate : public ::testing::Test {};
using CountedSemirings = ::testing::Types<LogProb, Fuzzy>;
TYPED_TEST_SUITE(SteadyUpdate, CountedSemirings);

// A leaf change and the update after it allocate only the leaf's new value, the result map (its
// buckets and its one entry) and the reported vector; everything else reuses what the circuit
// kept from earlier updates.
TYPED_TEST(SteadyUpdate, OneLeafChangeAndItsUpdateAllocateAtMostFourTimes) {
  using S = TypeParam;
  ReactiveCircuit<S> circuit(1);
  ASSERT_TRUE(circuit.add_leaf(Value{0.5}, "x", 0.0));
  ASSERT_TRUE(circuit.add_leaf(Value{0.25}, "y", 0.0));
  ASSERT_TRUE(circuit.add_sum_product({{0}, {1}}, "t"));
  circuit.update_dependencies();
  circuit.update();
  const Value inputs[2] = {Value{0.3}, Value{0.6}};
  double now = 0.0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(leaf::update(circuit, 0, inputs[i % 2], now += 1.0));
    ASSERT_EQ(circuit.update().size(), 1u);
  }

  allocations = 0;
  counting = true;
  const Result<void> changed = leaf::update(circuit, 0, inputs[1], now + 1.0);
  const UpdateResult answer = circuit.update();
  counting = false;

  ASSERT_TRUE(changed);
  ASSERT_EQ(answer.size(), 1u);
  // x + y as a sum of probabilities, max(x, y) as degrees.
  const double expected = std::is_same_v<S, LogProb> ? 0.85 : 0.6;
  EXPECT_NEAR(answer.at("t")[0], expected, 1e-12);
  EXPECT_LE(allocations.load(), 4u);
}

}  // namespace
}  // namespace talvo
