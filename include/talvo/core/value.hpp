#pragma once
// The value vector: an immutable, shared array of doubles, one entry per batch slot. Copies share
// the storage; only `mutable_span` writes, and it first takes a private copy when the storage is
// shared (copy-on-write for edge memories).

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace talvo {

class Value {
 public:
  /// An empty vector (no entries, no allocation).
  Value() = default;

  /// `n` entries, each `fill`.
  explicit Value(std::size_t n, double fill = 0.0) : data_(allocate(n)), size_(n) {
    double* out = data_.get();
    for (std::size_t i = 0; i < n; ++i) out[i] = fill;
  }

  Value(std::initializer_list<double> entries)
      : Value(std::span<const double>(entries.begin(), entries.size())) {}

  explicit Value(std::span<const double> entries)
      : data_(allocate(entries.size())), size_(entries.size()) {
    copy(entries, data_.get());
  }

  explicit Value(const std::vector<double>& entries)
      : Value(std::span<const double>(entries.data(), entries.size())) {}

  /// `n` entries left for the caller to fill through `fill(std::span<double>)`, which runs once
  /// before the vector is shared with anybody.
  template <class Fill>
  static Value build(std::size_t n, Fill&& fill) {
    Value v;
    v.data_ = allocate(n);
    v.size_ = n;
    fill(std::span<double>(v.data_.get(), n));
    return v;
  }

  /// A new vector of `in`'s length with entry i = f(in[i]), as one plain loop that vectorises.
  template <class F>
  static Value map(std::span<const double> in, F f) {
    return build(in.size(), [&](std::span<double> out) {
      const double* x = in.data();
      double* y = out.data();
      const std::size_t n = in.size();
      for (std::size_t i = 0; i < n; ++i) y[i] = f(x[i]);
    });
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const double* data() const noexcept { return data_.get(); }
  std::span<const double> span() const noexcept { return {data_.get(), size_}; }
  operator std::span<const double>() const noexcept { return span(); }
  double operator[](std::size_t i) const noexcept { return data_[i]; }
  const double* begin() const noexcept { return data_.get(); }
  const double* end() const noexcept { return data_.get() + size_; }
  std::vector<double> to_vector() const { return {begin(), end()}; }

  /// Whether another `Value` shares this storage.
  bool shared() const noexcept { return data_.use_count() > 1; }

  /// Writable entries of this holder's storage; a shared storage is copied first, so other
  /// holders never see the change.
  std::span<double> mutable_span() {
    if (shared()) {
      auto own = allocate(size_);
      copy(span(), own.get());
      data_ = std::move(own);
    } else {
      // The count is read without ordering: what other holders did with the storage before they
      // let go of it must happen before this holder writes.
      acquire_sole_ownership();
    }
    return {data_.get(), size_};
  }

  /// Entry-wise equality (NaN never equals itself).
  friend bool operator==(const Value& a, const Value& b) {
    if (a.size_ != b.size_) return false;
    for (std::size_t i = 0; i < a.size_; ++i)
      if (!(a.data_[i] == b.data_[i])) return false;
    return true;
  }

 private:
  // Plain loops keep <algorithm> out of every program that includes this header.
  static void copy(std::span<const double> from, double* to) {
    for (std::size_t i = 0; i < from.size(); ++i) to[i] = from[i];
  }

  /// One block of `n` doubles, left uninitialised, shared with its control block; none for 0.
  static std::shared_ptr<double[]> allocate(std::size_t n);
  /// An acquire fence, pairing with the release of the count by every holder that let go. Kept
  /// out of line, with <atomic>, out of the header.
  static void acquire_sole_ownership() noexcept;

  std::shared_ptr<double[]> data_;
  std::size_t size_ = 0;
};

}  // namespace talvo
