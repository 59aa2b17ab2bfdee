#include "language/asp.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "language/clingo_c.hpp"
#include "language/compile_checks.hpp"
#include "language/text.hpp"
#include "talvo/core/panic.hpp"

namespace talvo::detail::asp {
namespace {

constexpr std::string_view failed_control = "Failed creating Clingo control.";
constexpr std::string_view failed_add = "Failed to add ASP to Clingo.";
constexpr std::string_view failed_ground = "Failed to ground the ASP with Clingo.";
constexpr std::string_view failed_solve = "Failed retrieving solve handle from Clingo control.";
constexpr std::string_view failed_resume = "Failed resume on solve handle.";
constexpr std::string_view failed_model = "Error";
constexpr std::string_view failed_true_atoms = "Failed to retrieve positive symbols in the model.";
constexpr std::string_view failed_false_atoms =
    "Failed to retrieve complementary symbols in the model.";
constexpr std::string_view failed_close = "Failed to close solve handle.";
// Interning the part name has no text of its own: its abort carries the solver's error alone.
constexpr std::string_view failed_intern = "";

std::string_view error_name(clingo_error_t code) {
  switch (code) {
    case clingo_error_success:
      return "no error";
    case clingo_error_runtime:
      return "runtime error";
    case clingo_error_logic:
      return "logic error";
    case clingo_error_bad_alloc:
      return "allocation failure";
    default:
      return "unknown error";
  }
}

/// The solver's own account of its last failure.
std::string last_solver_error() {
  const clingo_error_t code = clingo_error_code();
  const char* message = clingo_error_message();
  const bool has_message = message != nullptr && *message != '\0';
  if (code == clingo_error_success && !has_message) return "the solver reported no error";
  std::string text = "clingo ";
  text += error_name(code);
  text += " (code " + std::to_string(code) + "): ";
  text += has_message ? message : "no message";
  return text;
}

/// The one place where a failed step becomes an abort: the step's text, ": " and what went wrong.
[[noreturn]] void abort_step(std::string_view step, const std::string& description) {
  if (step.empty()) throw Panic(description);
  std::string message(step);
  message += ": ";
  message += description;
  throw Panic(message);
}

/// Every clingo call is checked through here.
void check(bool succeeded, std::string_view step) {
  if (!succeeded) abort_step(step, last_solver_error());
}

/// The solver's messages about the program, kept for the caller instead of being printed: the
/// first few, and how many more there were.
struct Messages {
  std::vector<std::string> errors;
  std::size_t unlisted = 0;
};

/// Keeps the solver's error messages; its warnings and notes on their own are no failures.
void keep_message(clingo_warning_t code, const char* message, void* data) noexcept {
  if (code != clingo_warning_runtime_error || message == nullptr) return;
  auto& messages = *static_cast<Messages*>(data);
  if (messages.errors.size() >= kListedMistakes) {
    ++messages.unlisted;
    return;
  }
  try {
    messages.errors.emplace_back(message);
  } catch (...) {
    // Out of memory: the failure is still reported, without this message.
  }
}

/// The solver goes on through the whole program whatever it reports, so that every mistake is
/// counted; only the first few are kept.
constexpr unsigned kMessageLimit = std::numeric_limits<unsigned>::max();

/// The solver's account of unsafe variables quotes the rule as it rewrote it, text the model
/// never held. Each unsafe variable becomes a line of its own at the variable's place instead.
std::string unsafe_variables(std::string_view message) {
  constexpr std::string_view note = ": note: '";
  constexpr std::string_view unsafe = "' is unsafe";
  std::string text;
  for (std::size_t at = message.find(note); at != std::string_view::npos;
       at = message.find(note, at + 1)) {
    const std::size_t name = at + note.size();
    const std::size_t end = message.find(unsafe, name);
    if (end == std::string_view::npos) break;
    const std::size_t place = message.rfind('\n', at);
    const std::size_t from = place == std::string_view::npos ? 0 : place + 1;
    if (!text.empty()) text += '\n';
    text.append(message.substr(from, at - from));
    text += ": error: the variable ";
    text.append(message.substr(name, end - name));
    text += " is unsafe: every variable must occur in a body literal without \"not\"";
  }
  return text.empty() ? std::string(message) : text;
}

/// The solver's messages cut into lines, each split from the place in the program it begins with.
/// A line that names no place is about the place of the line before it.
Rejections lines_of(const Messages& messages) {
  constexpr std::string_view block = "<block>:";
  Rejections rejections;
  rejections.unlisted = messages.unlisted;
  for (const std::string& original : messages.errors) {
    const std::string message = original.find("error: unsafe variables in:") != std::string::npos
                                    ? unsafe_variables(original)
                                    : original;
    std::string_view rest = message;
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == ' ')) rest.remove_suffix(1);
    std::size_t program_line = 0;
    for (const std::string_view line : text::split(rest, '\n')) {
      SolverLine& out = rejections.lines.emplace_back();
      out.program_line = program_line;
      out.text = std::string(line);
      if (!line.starts_with(block)) continue;
      std::size_t number = 0;
      std::size_t at = block.size();
      while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
        number = number * 10 + static_cast<std::size_t>(line[at++] - '0');
      }
      const std::size_t end = line.find(": ");
      if (at == block.size() || end == std::string_view::npos) continue;
      program_line = number;
      out.program_line = number;
      out.place = std::string(line.substr(0, end));
      out.text = std::string(line.substr(end + 2));
    }
  }
  // In the order of the program's lines; what names no place comes last.
  std::ranges::stable_sort(rejections.lines, {}, [](const SolverLine& line) {
    return line.program_line == 0 ? std::numeric_limits<std::size_t>::max() : line.program_line;
  });
  return rejections;
}

/// The solver's messages, one line each, with each place in the program named by `locate` of its
/// line.
std::string describe(const Messages& messages, const LineLocator& locate) {
  const Rejections rejections = lines_of(messages);
  std::string text;
  // Several generated rules may stand for one statement and draw the same message.
  std::unordered_set<std::string> described;
  for (const SolverLine& line : rejections.lines) {
    std::string located;
    if (!line.place.empty()) located = (locate ? locate(line.program_line) : line.place) + ": ";
    located += line.text;
    if (!described.insert(located).second) continue;
    text += located;
    text += '\n';
  }
  if (rejections.unlisted > 0) text += unlisted_mistakes(rejections.unlisted) + '\n';
  if (!text.empty()) text.pop_back();
  return text;
}

/// The program calls no external function; any request is answered with no values.
bool answer_no_values(const clingo_location_t*, const char*, const clingo_symbol_t*, std::size_t,
                      void*, clingo_symbol_callback_t*, void*) {
  return true;
}

/// The solver's text of `symbol`.
std::string symbol_text(clingo_symbol_t symbol, std::string_view step) {
  std::size_t size = 0;  // counts the terminating NUL
  check(clingo_symbol_to_string_size(symbol, &size), step);
  std::string text;
  if (size <= 1) return text;
  // The solver writes the terminating NUL too, onto the string's own terminator.
  text.resize(size - 1);
  check(clingo_symbol_to_string(symbol, text.data(), size), step);
  return text;
}

/// One model, valid until the search is resumed.
class Model {
 public:
  explicit Model(const clingo_model_t* model) : model_(model) {}

  /// The model's symbols of the kinds `show`, read into `symbols`.
  void atoms(clingo_show_type_bitset_t show, std::vector<clingo_symbol_t>& symbols,
             std::string_view step) const {
    std::size_t size = 0;
    check(clingo_model_symbols_size(model_, show, &size), step);
    symbols.resize(size);
    check(clingo_model_symbols(model_, show, symbols.data(), size), step);
  }

 private:
  const clingo_model_t* model_;
};

/// A search in progress. The destructor ends a search that `close` did not, so that every way out
/// of solving, an abort included, releases the handle before the control is freed.
class SolveHandle {
 public:
  explicit SolveHandle(clingo_solve_handle_t* handle) : handle_(handle) {}
  SolveHandle(SolveHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  SolveHandle& operator=(SolveHandle&&) = delete;
  ~SolveHandle() {
    if (handle_ != nullptr) clingo_solve_handle_close(handle_);
  }

  /// Resumes the search and returns the next model, or none when the search is complete.
  std::optional<Model> next() {
    check(clingo_solve_handle_resume(handle_), failed_resume);
    const clingo_model_t* model = nullptr;
    check(clingo_solve_handle_model(handle_, &model), failed_model);
    if (model == nullptr) return std::nullopt;
    return Model(model);
  }

  /// Ends the search. The handle is gone afterwards even when closing fails.
  void close() { check(clingo_solve_handle_close(std::exchange(handle_, nullptr)), failed_close); }

 private:
  clingo_solve_handle_t* handle_;
};

class Control {
 public:
  /// A control that enumerates every stable model and keeps the solver's messages.
  Control() : messages_(std::make_unique<Messages>()) {
    const char* const arguments[] = {"--models=0"};
    clingo_control_t* control = nullptr;
    const bool created =
        clingo_control_new(arguments, 1, keep_message, messages_.get(), kMessageLimit, &control);
    control_.reset(control);
    check(created && control != nullptr, failed_control);
  }

  /// Parses the program; false when the solver rejects it, its messages kept.
  bool add(const std::string& program) {
    if (program.find('\0') != std::string::npos) {
      abort_step(failed_add, "the program text holds a NUL byte");
    }
    const bool added = clingo_control_add(control_.get(), "base", nullptr, 0, program.c_str());
    return accepted(added, failed_add);
  }

  /// Grounds the program; false when the solver cannot ground it (an unsafe variable), its
  /// messages kept.
  bool ground() {
    const char* name = nullptr;
    check(clingo_add_string("base", &name), failed_intern);
    const clingo_part_t part{name, nullptr, 0};
    const bool grounded =
        clingo_control_ground(control_.get(), &part, 1, answer_no_values, nullptr);
    return accepted(grounded, failed_ground);
  }

  const Messages& messages() const { return *messages_; }

  SolveHandle solve() {
    clingo_solve_handle_t* handle = nullptr;
    const bool started = clingo_control_solve(control_.get(), clingo_solve_mode_yield, nullptr, 0,
                                              nullptr, nullptr, &handle);
    SolveHandle owned(started ? handle : nullptr);
    check(started && handle != nullptr, failed_solve);
    return owned;
  }

 private:
  struct Free {
    void operator()(clingo_control_t* control) const noexcept { clingo_control_free(control); }
  };
  /// A step that failed with the solver's messages about the program is the program's fault;
  /// any other failure is the solver's own and aborts.
  bool accepted(bool succeeded, std::string_view step) const {
    if (succeeded) return true;
    if (clingo_error_code() != clingo_error_runtime || messages_->errors.empty()) {
      abort_step(step, last_solver_error());
    }
    return false;
  }

  // The messages outlive the control, which writes into them until it is freed.
  std::unique_ptr<Messages> messages_;
  std::unique_ptr<clingo_control_t, Free> control_;
};

/// Reads models into the conjunctions of a formula. The text of an atom is rendered once, when the
/// search first yields its symbol; after that the symbol maps to the atom's number in the formula.
/// The symbol and literal lists are kept from one model to the next.
class ConjunctionReader {
 public:
  explicit ConjunctionReader(Dnf& dnf) : dnf_(dnf) {}

  void read(const Model& model) {
    literals_.clear();
    model.atoms(clingo_show_type_atoms, symbols_, failed_true_atoms);
    add_literals(false, failed_true_atoms);
    model.atoms(clingo_show_type_all_complemented, symbols_, failed_false_atoms);
    add_literals(true, failed_false_atoms);
    dnf_.add_conjunction(literals_);
  }

 private:
  void add_literals(bool negated, std::string_view step) {
    for (const clingo_symbol_t symbol : symbols_) {
      const auto [atom, added] = atoms_.try_emplace(symbol);
      if (added) atom->second = dnf_.add_atom(symbol_text(symbol, step));
      literals_.push_back(2 * atom->second + (negated ? 1 : 0));
    }
  }

  Dnf& dnf_;
  std::unordered_map<clingo_symbol_t, std::uint32_t> atoms_;
  std::vector<clingo_symbol_t> symbols_;
  std::vector<LiteralCode> literals_;
};

/// `program` with the lines numbered (from 1) in `left_out` made empty, so that every other line
/// keeps its number.
std::string without_lines(std::string_view program,
                          const std::unordered_set<std::size_t>& left_out) {
  std::string kept;
  std::size_t number = 0;
  for (const std::string_view line : text::split(program, '\n')) {
    if (number++ > 0) kept += '\n';
    if (!left_out.contains(number)) kept.append(line);
  }
  return kept;
}

/// Parses and grounds `program` with `control`: nothing when the solver takes it, its messages
/// when it does not. Where it does not parse, the lines it reads are grounded once more without
/// those it names, so that a variable that is unsafe elsewhere is told too.
std::optional<Messages> rejected_by(Control& control, const std::string& program) {
  if (control.add(program)) {
    if (control.ground()) return std::nullopt;
    return control.messages();
  }
  Messages messages = control.messages();
  std::unordered_set<std::size_t> named;
  for (const SolverLine& line : lines_of(messages).lines) named.insert(line.program_line);
  Control rest;
  if (rest.add(without_lines(program, named)) && !rest.ground()) {
    for (const std::string& message : rest.messages().errors) {
      if (messages.errors.size() < kListedMistakes) {
        messages.errors.push_back(message);
      } else {
        ++messages.unlisted;
      }
    }
    messages.unlisted += rest.messages().unlisted;
  }
  return messages;
}

std::string limit_exceeded(std::size_t max_models) {
  return "Stable model limit exceeded: found more than " + std::to_string(max_models) +
         " stable model(s). Simplify the program or increase max_models.";
}

}  // namespace

Result<Dnf> solve(const std::string& program, std::optional<std::size_t> max_models,
                  const LineLocator& locate) {
  Control control;
  if (const auto messages = rejected_by(control, program)) {
    return fail("The solver rejects the model:\n" + describe(*messages, locate));
  }
  SolveHandle search = control.solve();
  Dnf dnf;
  ConjunctionReader reader(dnf);
  while (const std::optional<Model> model = search.next()) {
    reader.read(*model);
    if (max_models && dnf.size() > *max_models) {
      search.close();
      return fail(limit_exceeded(*max_models));
    }
  }
  search.close();
  return dnf;
}

Rejections rejections(const std::string& program) {
  Control control;
  const auto messages = rejected_by(control, program);
  return messages ? lines_of(*messages) : Rejections{};
}

}  // namespace talvo::detail::asp
