#include "talvo/language/talvo.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "language/asp.hpp"
#include "language/compile_checks.hpp"
#include "language/compile_inputs.hpp"
#include "language/compile_rules.hpp"
#include "language/compile_target.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"

namespace talvo {
namespace {

std::unexpected<Error> source_not_found(std::string_view atom) {
  std::string message = "Source '";
  message += atom;
  message += "' not found";
  return fail(std::move(message));
}

/// The writer of the wanted class, or an error naming the data type the source has instead.
template <class Wanted>
Result<Wanted> expect_writer(Result<Writer> writer, std::string_view atom, Dtype wanted) {
  if (!writer) return std::unexpected(std::move(writer.error()));
  if (Wanted* typed = std::get_if<Wanted>(&*writer)) return std::move(*typed);
  // The alternatives of `Writer` follow the data type codes.
  std::string message = "Source '";
  message += atom;
  message += "' is a ";
  message += dtype_name(static_cast<Dtype>(writer->index()));
  message += " source, not a ";
  message += dtype_name(wanted);
  message += " source";
  return fail(std::move(message));
}

}  // namespace

Writer make_writer(SourceWriter source, AcceptedLengths accepted) {
  return std::visit(
      [&accepted](auto&& ends) -> Writer {
        using Ends = std::decay_t<decltype(ends)>;
        if constexpr (std::is_same_v<Ends, source_writer::Probability>) {
          return ProbabilityWriter(std::move(ends.sender), std::move(accepted));
        } else if constexpr (std::is_same_v<Ends, source_writer::Density>) {
          return DensityWriter(std::move(ends.comparisons), std::move(accepted));
        } else if constexpr (std::is_same_v<Ends, source_writer::Number>) {
          return NumberWriter(std::move(ends.comparisons), std::move(accepted));
        } else {
          return BooleanWriter(std::move(ends.sender), std::move(accepted));
        }
      },
      std::move(source));
}

template <Semiring S>
Talvo<S>::Talvo(Manager<S> manager) : manager(std::move(manager)) {}

template <Semiring S>
Talvo<S>::~Talvo() {
  // In declaration order, where members alone would go in reverse: the statements, then the
  // manager (its timed writers stop and join first), then the maps.
  { const auto released = std::move(clauses); }
  { const auto released = std::move(sources); }
  { const auto released = std::move(categorical_sources); }
  { const auto released = std::move(targets); }
  { const auto released = std::move(manager); }
  { const auto released = std::move(comparisons_by_source); }
  { const auto released = std::move(parameter_groups); }
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
  if (auto refused = detail::check_statements(parsed)) {
    return std::unexpected(std::move(*refused));
  }

  Talvo runtime(Manager<S>(make_shared_circuit<S>(1)));
  runtime.clauses = std::move(parsed.clauses);
  runtime.sources = std::move(parsed.sources);
  runtime.categorical_sources = std::move(parsed.categorical_sources);
  runtime.targets = std::move(parsed.targets);

  // Every leaf is made for the model's value_size and threshold, so they are set before the first.
  runtime.value_size = value_size;
  {
    const auto circuit = runtime.manager.reactive_circuit->lock();
    circuit->value_size = value_size;
    circuit->update_threshold = update_threshold;
  }

  detail::create_input_leaves(runtime, verbose);
  if (runtime.targets.empty()) return runtime;

  Result<detail::Dnf> formula = [&] {
    std::vector<detail::LineOrigin> origins;
    const std::string program =
        detail::generate_program(runtime.clauses, runtime.sources, runtime.categorical_sources,
                                 runtime.targets.front(), runtime.comparisons_by_source, &origins);
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
Result<SourceWriter> Talvo<S>::make_writer_for(std::string_view atom) {
  const auto source = std::ranges::find_if(sources, [&](const Source& s) {
    // As written in the model, or as the solver writes it (`t(a,b)` for `t(a, b)`).
    return s.atom == atom || detail::solver_atom(s.atom) == atom;
  });
  if (source == sources.end()) return source_not_found(atom);
  switch (source->dtype) {
    case Dtype::Probability:
      return source_writer::Probability{manager.get_or_create_sender(source->topic)};
    case Dtype::Boolean:
      return source_writer::Boolean{manager.get_or_create_sender(source->topic)};
    case Dtype::Number:
    case Dtype::Density: {
      // A comparison whose channel is missing gets no sender: nothing would read what it sends.
      std::vector<ComparisonSender> comparisons;
      if (const auto entries = comparisons_by_source.find(source->atom);
          entries != comparisons_by_source.end()) {
        for (const ComparisonEntry& entry : entries->second) {
          if (const auto channel = manager.senders.find(entry.name);
              channel != manager.senders.end()) {
            comparisons.push_back({entry.threshold, entry.greater, channel->second});
          }
        }
      }
      if (source->dtype == Dtype::Number) return source_writer::Number{std::move(comparisons)};
      return source_writer::Density{std::move(comparisons)};
    }
    case Dtype::Categorical:
      // Categorical inputs are a statement form of their own; no source carries this type.
      break;
  }
  return source_not_found(atom);
}

template <Semiring S>
Result<Writer> Talvo<S>::writer_for(std::string_view atom) {
  Result<SourceWriter> ends = make_writer_for(atom);
  if (!ends) return std::unexpected(std::move(ends.error()));
  // The readers take what a leaf of the circuit holds.
  return make_writer(std::move(*ends),
                     AcceptedLengths::of_leaf<S>(manager.value_size(), std::string(atom)));
}

template <Semiring S>
Result<ProbabilityWriter> Talvo<S>::probability_writer(std::string_view atom) {
  return expect_writer<ProbabilityWriter>(writer_for(atom), atom, Dtype::Probability);
}

template <Semiring S>
Result<BooleanWriter> Talvo<S>::boolean_writer(std::string_view atom) {
  return expect_writer<BooleanWriter>(writer_for(atom), atom, Dtype::Boolean);
}

template <Semiring S>
Result<NumberWriter> Talvo<S>::number_writer(std::string_view atom) {
  return expect_writer<NumberWriter>(writer_for(atom), atom, Dtype::Number);
}

template <Semiring S>
Result<DensityWriter> Talvo<S>::density_writer(std::string_view atom) {
  return expect_writer<DensityWriter>(writer_for(atom), atom, Dtype::Density);
}

template <Semiring S>
Result<CategoricalWriter> Talvo<S>::categorical_writer(const std::string& topic) {
  const auto layout = manager.categorical_layouts.find(topic);
  if (layout == manager.categorical_layouts.end()) {
    return fail("no categorical source reads the topic '" + topic + "'");
  }
  return CategoricalWriter(manager.get_or_create_sender(topic), layout->second, topic);
}

#define TALVO_INSTANTIATE_TALVO(S) template class Talvo<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_TALVO)
#undef TALVO_INSTANTIATE_TALVO

}  // namespace talvo
