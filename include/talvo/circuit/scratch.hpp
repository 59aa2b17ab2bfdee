#pragma once
// Storage that an operation keeps from one call to the next only to avoid allocating again. It
// holds nothing that anybody reads between calls, so a copy of its owner starts with none. It is
// made on first use, where its type is complete, so that the owner's header need not define it.

#include <memory>

namespace talvo::detail {

template <class T>
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch& /*other*/) : Scratch() {}
  Scratch& operator=(const Scratch& /*other*/) { return *this; }
  Scratch(Scratch&&) noexcept = default;
  Scratch& operator=(Scratch&&) noexcept = default;
  ~Scratch() = default;

  T& operator*() {
    if (!value_) value_ = Owned(new T(), [](T* value) { delete value; });
    return *value_;
  }
  T* operator->() { return &**this; }

 private:
  // The deleter is taken where the storage is made, so destroying it needs no definition of T.
  using Owned = std::unique_ptr<T, void (*)(T*)>;
  Owned value_{nullptr, nullptr};
};

}  // namespace talvo::detail
