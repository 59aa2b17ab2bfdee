#include "talvo/language/talvo.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "circuit/circuit_access.hpp"
#include "language/asp.hpp"
#include "language/compile_checks.hpp"
#include "language/compile_inputs.hpp"
#include "language/compile_rules.hpp"
#include "language/compile_target.hpp"
#include "language/draw_intervals.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"
#include "talvo/channels/manager.hpp"

namespace talvo {
namespace {

std::unexpected<Error> source_not_found(std::string_view atom) {
  std::string message = "Source '";
  message += atom;
  message += "' not found";
  return fail(std::move(message));
}

/// The refusal of a writer for data type `wanted` of a source of data type `found`.
std::unexpected<Error> type_refused(std::string_view atom, Dtype found, Dtype wanted) {
  std::string message = "Source '";
  message += atom;
  message += "' is a ";
  message += dtype_name(found);
  message += " source, not a ";
  message += dtype_name(wanted);
  message += " source";
  return fail(std::move(message));
}

}  // namespace

template <Semiring S>
Talvo<S>::Talvo(std::unique_ptr<Manager<S>> manager) : manager_(std::move(manager)) {}

template <Semiring S>
Talvo<S>::Talvo(Talvo&&) noexcept = default;

template <Semiring S>
Talvo<S>::~Talvo() {
  // In declaration order, where members alone would go in reverse: the statements, then the
  // manager (its timed writers stop and join first), then the maps.
  { const auto released = std::move(clauses_); }
  { const auto released = std::move(sources_); }
  { const auto released = std::move(categorical_sources_); }
  { const auto released = std::move(targets_); }
  { const auto released = std::move(manager_); }
  { const auto released = std::move(comparisons_by_source_); }
  { const auto released = std::move(parameter_groups_); }
}

template <Semiring S>
Result<Talvo<S>> Talvo<S>::compile(std::string_view text, std::size_t value_size, bool verbose,
                                   std::optional<std::size_t> max_models, double update_threshold) {
  if (auto refused = detail::CompileRules<S>::refuse_value_size(value_size)) return fail(*refused);
  if (value_size == 0) return fail("value_size must be at least 1");
  if (auto allocatable = detail::allocatable_value_size(value_size); !allocatable) {
    return std::unexpected(std::move(allocatable.error()));
  }
  if (!std::isfinite(update_threshold) || update_threshold < 0.0) {
    return fail("update_threshold must be a finite number of at least 0, got " +
                std::to_string(update_threshold));
  }
  if (auto refused = detail::check_text(text)) return std::unexpected(std::move(*refused));
  detail::Statements parsed = detail::parse_statements(text);
  // A semiring that adds up stable models needs each world to have exactly one.
  const std::optional<std::string_view> adds_up_stable_models =
      detail::CompileRules<S>::adds_up_stable_models ? std::optional(S::name) : std::nullopt;
  if (auto refused = detail::check_statements(parsed, adds_up_stable_models)) {
    return std::unexpected(std::move(*refused));
  }

  Talvo runtime(std::make_unique<Manager<S>>(make_shared_circuit<S>(1)));
  runtime.clauses_ = std::move(parsed.clauses);
  runtime.sources_ = std::move(parsed.sources);
  runtime.categorical_sources_ = std::move(parsed.categorical_sources);
  runtime.targets_ = std::move(parsed.targets);

  // Every leaf is made for the model's value_size and threshold, so they are set before the first.
  runtime.value_size_ = value_size;
  {
    const auto circuit = runtime.manager().reactive_circuit->lock();
    detail::CircuitAccess::set_value_size(*circuit, value_size);
    circuit->update_threshold = update_threshold;
  }

  detail::create_input_leaves(runtime, verbose);
  if (runtime.targets_.empty()) return runtime;

  Result<detail::Dnf> formula = [&] {
    std::vector<detail::LineOrigin> origins;
    const std::string program = detail::generate_program(
        runtime.clauses_, runtime.sources_, runtime.categorical_sources_, runtime.targets_.front(),
        runtime.comparisons_by_source_, &origins);
    // The solver's messages name the model line of the statement behind each program line.
    return detail::asp::solve(program, max_models, [&](std::size_t program_line) {
      if (program_line == 0 || program_line > origins.size()) return std::string("program");
      const detail::LineOrigin origin = origins[program_line - 1];
      return "line " + std::to_string(parsed.lines.of(origin.form)[origin.index]);
    });
  }();
  // On the solver's error the runtime goes: its reader threads end with their senders.
  if (!formula) return std::unexpected(std::move(formula.error()));
  detail::add_target_formula(runtime, std::move(*formula), verbose);
  return runtime;
}

template <Semiring S>
std::optional<IntervalSender> Talvo<S>::interval_sender(const Source& source) const {
  const auto entries = comparisons_by_source_.find(source.atom);
  if (entries == comparisons_by_source_.end() ||
      !detail::draws_intervals(source.dtype, entries->second)) {
    return std::nullopt;
  }
  const auto channel = manager_->senders().find(source.topic);
  const auto layout = manager_->categorical_layouts().find(source.topic);
  if (channel == manager_->senders().end() || layout == manager_->categorical_layouts().end()) {
    return std::nullopt;
  }
  return IntervalSender{detail::interval_thresholds(entries->second), layout->second.value_size,
                        channel->second};
}

template <Semiring S>
Result<SourceWriter> Talvo<S>::make_writer_for(std::string_view atom) {
  const auto source = std::ranges::find_if(sources_, [&](const Source& s) {
    // As written in the model, or as the solver writes it (`t(a,b)` for `t(a, b)`).
    return s.atom == atom || detail::solver_atom(s.atom) == atom;
  });
  if (source == sources_.end()) return source_not_found(atom);
  switch (source->dtype) {
    case Dtype::Probability:
      return source_writer::Probability{manager_->get_or_create_sender(source->topic)};
    case Dtype::Boolean:
      return source_writer::Boolean{manager_->get_or_create_sender(source->topic)};
    case Dtype::Number:
    case Dtype::Density: {
      // A comparison whose channel is missing gets no sender: nothing would read what it sends.
      std::vector<ComparisonSender> comparisons;
      if (const auto entries = comparisons_by_source_.find(source->atom);
          entries != comparisons_by_source_.end()) {
        for (const ComparisonEntry& entry : entries->second) {
          if (const auto channel = manager_->senders().find(entry.name);
              channel != manager_->senders().end()) {
            comparisons.push_back({entry.threshold, entry.greater, channel->second});
          }
        }
      }
      if (source->dtype == Dtype::Number) return source_writer::Number{std::move(comparisons)};
      return source_writer::Density{std::move(comparisons), interval_sender(*source)};
    }
    case Dtype::Categorical:
      // Categorical inputs are a statement form of their own; no source carries this type.
      break;
  }
  return source_not_found(atom);
}

template <Semiring S>
template <Dtype D>
Result<typename SourceEnds<D>::Writer> Talvo<S>::writer(std::string_view atom) {
  Result<SourceWriter> ends = make_writer_for(atom);
  if (!ends) return std::unexpected(std::move(ends.error()));
  // The readers take what a leaf of the circuit holds. The model knows its leaves' size, so no
  // lock is taken: a caller may hold the circuit's guard.
  AcceptedLengths accepted = AcceptedLengths::of_leaf<S>(value_size_, std::string(atom));
  auto* typed = std::get_if<static_cast<std::size_t>(D)>(&*ends);
  if (typed == nullptr) return type_refused(atom, static_cast<Dtype>(ends->index()), D);
  if constexpr (D == Dtype::Density) {
    return DensityWriter(std::move(typed->comparisons), std::move(accepted),
                         std::move(typed->intervals));
  } else {
    auto& [channel_ends] = *typed;
    return typename SourceEnds<D>::Writer(std::move(channel_ends), std::move(accepted));
  }
}

template <Semiring S>
Result<ProbabilityWriter> Talvo<S>::probability_writer(std::string_view atom) {
  return writer<Dtype::Probability>(atom);
}

template <Semiring S>
Result<BooleanWriter> Talvo<S>::boolean_writer(std::string_view atom) {
  return writer<Dtype::Boolean>(atom);
}

template <Semiring S>
Result<NumberWriter> Talvo<S>::number_writer(std::string_view atom) {
  return writer<Dtype::Number>(atom);
}

template <Semiring S>
Result<DensityWriter> Talvo<S>::density_writer(std::string_view atom) {
  return writer<Dtype::Density>(atom);
}

template <Semiring S>
const SharedCircuit<S>& Talvo<S>::circuit() const noexcept {
  return manager_->reactive_circuit;
}

template <Semiring S>
Result<CategoricalWriter> Talvo<S>::categorical_writer(const std::string& topic) {
  // The intervals of a Density source's draw come on a categorical reader too, but only its
  // density writer may feed them.
  const auto layout = manager_->categorical_layouts().find(topic);
  if (layout == manager_->categorical_layouts().end() ||
      std::ranges::none_of(categorical_sources_, [&](const CategoricalSource& source) {
        return source.topic == topic;
      })) {
    return fail("no categorical source reads the topic '" + topic + "'");
  }
  return CategoricalWriter(manager_->get_or_create_sender(topic), layout->second, topic);
}

#define TALVO_INSTANTIATE_TALVO(S) template class Talvo<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_TALVO)
#undef TALVO_INSTANTIATE_TALVO

}  // namespace talvo
