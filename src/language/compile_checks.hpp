#pragma once
// What makes a model text refusable before anything of it is built: text that is no statement,
// inputs declared twice or fed by one channel, categorical sources without categories,
// probabilities above 1, atoms that cannot be atoms or that nothing defines, a target that is no
// one atom, a second target.
// Private to the compiler.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "language/matching.hpp"
#include "talvo/core/error.hpp"

namespace talvo::detail {

/// A message lists at most this many mistakes; the rest are counted.
inline constexpr std::size_t kListedMistakes = 20;

/// The line that closes a list cut at `kListedMistakes`: how many mistakes it leaves out.
std::string unlisted_mistakes(std::size_t count);

/// `text` in double quotes, cut after about 100 bytes (with its length told), so that a long
/// statement or atom cannot swamp a message.
std::string quoted(std::string_view text);

/// A NUL byte in the model text, which would cut the program short, named by its line.
std::optional<Error> check_text(std::string_view text);

/// Every mistake in the parsed model, one line each and in the order of the model's lines: text
/// that no statement form reads (with what the form wants where it is a near miss), a statement
/// without its closing full stop, an input atom declared twice, a channel shared by two sources, a
/// categorical source without categories, a clause's probability above 1, an atom that begins
/// like a variable or holds characters beyond ASCII, a term nested deeper than the solver grounds,
/// a target with a variable, a second target and, in a model with a target, an atom that nothing
/// can make true and, where the semiring `adds_up_stable_models` names does so, a cycle through
/// "not". Where there is any, the solver's messages about the other lines join them.
std::optional<Error> check_statements(const Statements& parsed,
                                      std::optional<std::string_view> adds_up_stable_models = {});

}  // namespace talvo::detail
