#pragma once
// The compiled model runtime: what `Talvo<S>::compile` makes of a model's text. It owns the
// statements, the channel manager with its shared circuit and reader threads, the comparisons that
// writers of numeric sources must serve, and the cause leaves that share one `P(...)` value.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "talvo/channels/ipc_sender.hpp"
#include "talvo/channels/ipc_writer.hpp"
#include "talvo/channels/writers.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/error.hpp"
#include "talvo/language/concepts.hpp"

namespace talvo {

template <Semiring S>
class Manager;

/// The channel ends of one source, by its data type, and the writer class made from them.
namespace source_writer {
struct Probability {
  using Writer = ProbabilityWriter;
  ValueSender sender;
};
struct Density {
  using Writer = DensityWriter;
  std::vector<ComparisonSender> comparisons;
  /// Where the source has several comparisons: the channel of the intervals of its one draw,
  /// which the comparisons all read instead of channels of their own.
  std::optional<IntervalSender> intervals;
};
struct Number {
  using Writer = NumberWriter;
  std::vector<ComparisonSender> comparisons;
};
struct Boolean {
  using Writer = BooleanWriter;
  ValueSender sender;
};
}  // namespace source_writer

/// The channel ends on which values for one source are sent, in the order of the data type codes.
using SourceWriter = std::variant<source_writer::Probability, source_writer::Density,
                                  source_writer::Number, source_writer::Boolean>;

/// The channel ends of a source of data type `D`: the alternative of `SourceWriter` at its code.
template <Dtype D>
using SourceEnds = std::variant_alternative_t<static_cast<std::size_t>(D), SourceWriter>;
static_assert(std::is_same_v<SourceEnds<Dtype::Probability>, source_writer::Probability>);
static_assert(std::is_same_v<SourceEnds<Dtype::Density>, source_writer::Density>);
static_assert(std::is_same_v<SourceEnds<Dtype::Number>, source_writer::Number>);
static_assert(std::is_same_v<SourceEnds<Dtype::Boolean>, source_writer::Boolean>);

namespace detail {
/// What the compiler records in a runtime while it builds it; defined in the library.
struct RuntimeAccess;
}  // namespace detail

/// A compiled model. Made only by `compile`; move-only, since it owns the senders that keep its
/// reader threads alive.
template <Semiring S>
class Talvo {
 public:
  const std::vector<Clause>& clauses() const noexcept { return clauses_; }
  const std::vector<Source>& sources() const noexcept { return sources_; }
  const std::vector<CategoricalSource>& categorical_sources() const noexcept {
    return categorical_sources_;
  }
  /// The model's target, when it has one: compile refuses a model with more than one.
  const std::vector<Target>& targets() const noexcept { return targets_; }
  /// For each `Number` or `Density` source, one entry per distinct comparison made on it, in order
  /// of first use.
  const ComparisonsBySource& comparisons_by_source() const noexcept {
    return comparisons_by_source_;
  }
  /// Group key ("{predicate}#{counter}") -> names of the cause leaves that carry one `P(...)`.
  const std::unordered_map<std::string, std::vector<std::string>>& parameter_groups()
      const noexcept {
    return parameter_groups_;
  }
  /// The length of every value vector of a leaf (comparison leaves aside); in `ProbGradient` the
  /// number of leaves plus one once the model has a target.
  std::size_t value_size() const noexcept { return value_size_; }

  /// Compiles the model `text`: leaves, channels and reader threads for its inputs, and, when it
  /// has a target, the sum of products of the target's stable models under the target's channel
  /// name. Returns an error value for a model with mistakes (text that is no statement, an input
  /// declared twice, a channel shared by two sources, a categorical source without categories, a
  /// second target, an atom that begins like a variable or that nothing can make true, a term
  /// nested too deep, text the solver rejects: each named by its line), for more than `max_models`
  /// stable models, and for arguments outside their range (a `value_size` of 0, one whose vectors
  /// cannot be allocated or one the semiring cannot batch, an `update_threshold` that is negative,
  /// infinite or NaN). Broken
  /// invariants throw `Panic`.
  [[nodiscard]] static Result<Talvo> compile(std::string_view text, std::size_t value_size = 1,
                                             bool verbose = false,
                                             std::optional<std::size_t> max_models = std::nullopt,
                                             double update_threshold = 0.001);

  Talvo(Talvo&&) noexcept;
  Talvo& operator=(Talvo&&) = delete;
  Talvo(const Talvo&) = delete;
  Talvo& operator=(const Talvo&) = delete;
  /// Releases the fields in declaration order, the manager after the targets: it stops and joins
  /// its timed writers before anything it owns goes; reader threads end once their channels have
  /// no sender left.
  ~Talvo();

  /// The channel ends for the source whose atom is exactly `atom`, or "Source '{}' not found".
  [[nodiscard]] Result<SourceWriter> make_writer_for(std::string_view atom);

  /// The writer of the source `atom`, which must have the matching data type. It refuses a
  /// vector that a leaf of the circuit cannot hold, as the source's reader would drop it.
  [[nodiscard]] Result<ProbabilityWriter> probability_writer(std::string_view atom);
  [[nodiscard]] Result<BooleanWriter> boolean_writer(std::string_view atom);
  [[nodiscard]] Result<NumberWriter> number_writer(std::string_view atom);
  [[nodiscard]] Result<DensityWriter> density_writer(std::string_view atom);
  /// A writer for the categorical source on `topic`, which refuses anything but one stretch of
  /// the reader's slots per category. A topic that no categorical source's reader serves is an
  /// error.
  [[nodiscard]] Result<CategoricalWriter> categorical_writer(const std::string& topic);

  /// The shared circuit; lock it for one whole operation.
  const SharedCircuit<S>& circuit() const noexcept;

  /// The manager of the model's circuit, channels, reader threads and timed writers. Its class is
  /// declared in talvo/channels/manager.hpp, which a program includes to use it.
  Manager<S>& manager() noexcept { return *manager_; }
  const Manager<S>& manager() const noexcept { return *manager_; }

 private:
  friend struct detail::RuntimeAccess;

  explicit Talvo(std::unique_ptr<Manager<S>> manager);

  /// The channel of the intervals of the draw of `source`, where its comparisons read one.
  std::optional<IntervalSender> interval_sender(const Source& source) const;

  /// The writer of the source `atom`, whose data type must be `D`.
  template <Dtype D>
  [[nodiscard]] Result<typename SourceEnds<D>::Writer> writer(std::string_view atom);

  // The destructor releases them in this order, the manager after the targets.
  std::vector<Clause> clauses_;
  std::vector<Source> sources_;
  std::vector<CategoricalSource> categorical_sources_;
  std::vector<Target> targets_;
  // Behind a pointer, so that the manager's threads and timed writers stay out of this header.
  std::unique_ptr<Manager<S>> manager_;
  ComparisonsBySource comparisons_by_source_;
  std::unordered_map<std::string, std::vector<std::string>> parameter_groups_;
  std::size_t value_size_ = 1;
};

}  // namespace talvo
