#pragma once
// Storage that an operation keeps from one call to the next only to avoid allocating again. It
// holds nothing that anybody reads between calls, so a copy of its owner starts with an empty one.

namespace talvo {

template <class T>
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch& /*other*/) : Scratch() {}
  Scratch& operator=(const Scratch& /*other*/) { return *this; }
  Scratch(Scratch&&) = default;
  Scratch& operator=(Scratch&&) = default;
  ~Scratch() = default;

  T& operator*() noexcept { return value_; }
  T* operator->() noexcept { return &value_; }

 private:
  T value_;
};

}  // namespace talvo
