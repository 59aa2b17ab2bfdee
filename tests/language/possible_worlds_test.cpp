// Compiled models against a brute force over their possible worlds. A seeded generator writes small
// models; for each, a program written here (not the compiler's) makes every input a coin of its
// own, the `clingo` command enumerates every world, and the weights of the worlds where the target
// holds give what the circuit must report. A mismatch is shrunk to a minimal model before it is
// reported. TALVO_WORLDS_SEED and TALVO_WORLDS_MODELS run other seeds and more models.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "language/talvo_fixtures.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

using testing::compile_ok;

const std::vector<std::string> kConstants = {"a", "b"};

struct Atom {
  std::string predicate;
  std::vector<std::string> args;
  bool blanks = false;  // written with a blank after each comma of the argument list

  std::string text(bool as_written = false) const {
    if (args.empty()) return predicate;
    std::string out = predicate + "(" + args[0];
    for (std::size_t i = 1; i < args.size(); ++i)
      out += (as_written && blanks ? ", " : ",") + args[i];
    return out + ")";
  }
  bool operator==(const Atom& other) const {
    return predicate == other.predicate && args == other.args;
  }
};

bool is_variable(const std::string& arg) {
  return std::isupper(static_cast<unsigned char>(arg[0]));
}

enum class Kind { Probability, Boolean, Number };

struct Source {
  Atom atom;
  Kind kind;
  double value;  // probability, truth (0 or 1) or number
};

struct Categorical {
  std::vector<Atom> categories;
  std::vector<double> weights;  // summing to one
};

struct Literal {
  Atom atom;
  bool negated = false;
  char op = 0;  // '<' or '>' for a comparison of a numeric source with `threshold`
  double threshold = 0.0;
};

struct Rule {
  Atom head;
  std::optional<double> p;
  std::vector<Literal> body;
};

struct Model {
  std::vector<Source> sources;
  std::vector<Categorical> categoricals;
  std::vector<Rule> rules;
  Atom target;
};

/// The parts written one after the other; numbers at full precision.
template <typename... Parts>
std::string cat(const Parts&... parts) {
  std::ostringstream out;
  out << std::setprecision(17);
  (out << ... << parts);
  return out.str();
}

std::string model_text(const Model& m) {
  static const char* const kKinds[] = {"Probability", "Boolean", "Number"};
  std::string out;
  for (std::size_t i = 0; i < m.sources.size(); ++i) {
    const Source& s = m.sources[i];
    out += cat(s.atom.text(true), " <- source(\"/s", i, "\", ", kKinds[static_cast<int>(s.kind)],
               ").\n");
  }
  for (std::size_t j = 0; j < m.categoricals.size(); ++j) {
    std::string list;
    for (const Atom& c : m.categoricals[j].categories)
      list += (list.empty() ? "" : ", ") + c.text();
    out += cat("{", list, "} <- source(\"/c", j, "\", Categorical).\n");
  }
  for (const Rule& r : m.rules) {
    out += r.head.text(true);
    if (r.p) out += cat(" <- P(", std::fixed, std::setprecision(2), *r.p, ")");
    for (std::size_t k = 0; k < r.body.size(); ++k) {
      const Literal& l = r.body[k];
      out += k == 0 ? " if " : " and ";
      // A blank more after "not", and a whole threshold written with a point, now and then.
      if (l.negated) out += l.atom.blanks ? "not  " : "not ";
      out += l.atom.text(true);
      if (l.op)
        out += cat(" ", l.op, " ", l.threshold,
                   l.atom.blanks && l.threshold == std::round(l.threshold) ? ".0" : "");
    }
    out += ".\n";
  }
  return out + m.target.text(true) + " -> target(\"/target\").\n";
}

// ---------------------------------------------------------------------------------------------
// The brute force: every input is a coin, the clauses are rules over the atoms the coins make true.

struct Worlds {
  double probability = 0.0;  // sum of the weights of the worlds where the target holds
  double most_likely = 0.0;  // their largest weight
  double fuzzy = 0.0;        // their largest least input value
  bool possible = false;     // whether one of them has a nonzero weight
};

std::vector<std::string> variables_of(const Atom& atom) {
  std::vector<std::string> vars;
  for (const std::string& arg : atom.args)
    if (is_variable(arg) && std::ranges::find(vars, arg) == vars.end()) vars.push_back(arg);
  return vars;
}

std::string comparison_atom(const Literal& l) {
  return cat("bf_cmp(", l.op == '>' ? "gt" : "lt", ", ", std::lround(l.threshold * 10), ", ",
             l.atom.text(), ")");
}

/// A probability in whole hundredths, as the program below writes weights.
long percent(double p) {
  return std::lround(p * 100);
}

/// The program of the worlds. Every binary input is a coin `bf_coin(K, P)` that lands on
/// `bf_on(K)` with P hundredths; a categorical source picks exactly one of its categories
/// `bf_pick(K, P)`. The clauses are rules over the atoms that the coins make true, a probabilistic
/// one with a coin of its own per ground instance of its head.
std::string world_program(const Model& m) {
  std::string lp = "{ bf_on(K) } :- bf_coin(K, _).\n";
  for (const std::string& c : kConstants) lp += cat("bf_const(", c, ").\n");
  for (std::size_t i = 0; i < m.sources.size(); ++i) {
    const Source& s = m.sources[i];
    if (s.kind == Kind::Number) {
      lp += cat("bf_val(", s.atom.text(), ", ", std::lround(s.value * 10), ").\n");
    } else {
      lp += cat("bf_coin(in(", i, "), ", percent(s.value), ").\n");
      lp += cat(s.atom.text(), " :- bf_on(in(", i, ")).\n");
    }
  }
  for (std::size_t j = 0; j < m.categoricals.size(); ++j) {
    const Categorical& c = m.categoricals[j];
    for (std::size_t k = 0; k < c.categories.size(); ++k) {
      lp += cat("bf_pick(cat(", j, ", ", k, "), ", percent(c.weights[k]), ").\n");
      lp += cat(c.categories[k].text(), " :- bf_on(cat(", j, ", ", k, ")).\n");
    }
    lp += cat("1 { bf_on(cat(", j, ", K)) : bf_pick(cat(", j, ", K), _) } 1.\n");
  }
  std::set<std::pair<char, long>> comparisons;
  for (std::size_t i = 0; i < m.rules.size(); ++i) {
    const Rule& r = m.rules[i];
    std::vector<std::string> body;
    if (r.p) {
      std::string coin = cat("cause(", i);
      std::string domain;
      for (const std::string& v : variables_of(r.head)) {
        coin += ", " + v;
        domain += cat(", bf_const(", v, ")");
      }
      coin += ")";
      lp += cat("bf_coin(", coin, ", ", percent(*r.p), ")", domain.empty() ? "" : " :- ",
                domain.empty() ? "" : domain.substr(2), ".\n");
      body.push_back("bf_on(" + coin + ")");
    }
    for (const Literal& l : r.body) {
      if (l.op) comparisons.emplace(l.op, std::lround(l.threshold * 10));
      body.push_back((l.negated ? "not " : "") + (l.op ? comparison_atom(l) : l.atom.text()));
    }
    lp += r.head.text();
    for (std::size_t k = 0; k < body.size(); ++k) lp += (k ? ", " : " :- ") + body[k];
    lp += ".\n";
  }
  for (const auto& [op, tenths] : comparisons) {
    lp += cat("bf_cmp(", op == '>' ? "gt" : "lt", ", ", tenths, ", A) :- bf_val(A, V), V ", op, " ",
              tenths, ".\n");
  }
  lp += cat("bf_target :- ", m.target.text(), ".\n");
  return lp + "#show bf_on/1. #show bf_coin/2. #show bf_pick/2. #show bf_target/0.\n";
}

/// The shown atoms of each stable model in clingo's JSON output.
std::vector<std::set<std::string>> witnesses(const std::string& json) {
  std::vector<std::set<std::string>> models;
  for (std::size_t at = json.find("\"Value\""); at != std::string::npos;
       at = json.find("\"Value\"", at + 1)) {
    std::set<std::string>& atoms = models.emplace_back();
    const std::size_t end = json.find(']', at);
    for (std::size_t open = json.find('"', at + 7); open < end; open = json.find('"', open + 1)) {
      const std::size_t close = json.find('"', open + 1);
      atoms.insert(json.substr(open + 1, close - open - 1));
      open = close;
    }
  }
  return models;
}

Worlds brute_force(const Model& m) {
  const std::string lp = world_program(m);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / cat("talvo_worlds_", ::getpid(), ".lp");
  std::ofstream(file) << lp;
  FILE* pipe = ::popen(cat("clingo --models=0 --outf=2 ", file.string(), " 2>&1").c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run clingo");
  std::string json;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) json.append(buffer, n);
  ::pclose(pipe);
  std::filesystem::remove(file);
  if (json.find("\"Result\": \"SATISFIABLE\"") == std::string::npos) {
    throw std::runtime_error("clingo failed on\n" + lp + json);
  }
  Worlds worlds;
  for (const std::set<std::string>& world : witnesses(json)) {
    if (!world.contains("bf_target")) continue;
    double weight = 1.0;
    double least = 1.0;
    for (const std::string& atom : world) {
      // bf_coin(K,P) and bf_pick(K,P): the input K with its weight P in hundredths.
      const bool coin = atom.starts_with("bf_coin(");
      if (!coin && !atom.starts_with("bf_pick(")) continue;
      const std::size_t comma = atom.rfind(',');
      const std::string on = "bf_on(" + atom.substr(8, comma - 8) + ")";
      double p = std::stoi(atom.substr(comma + 1)) / 100.0;
      if (!world.contains(on)) {
        if (!coin) continue;
        p = 1.0 - p;
      }
      weight *= p;
      least = std::min(least, p);
    }
    worlds.probability += weight;
    worlds.most_likely = std::max(worlds.most_likely, weight);
    worlds.fuzzy = std::max(worlds.fuzzy, least);
    worlds.possible = worlds.possible || weight > 0.0;
  }
  return worlds;
}

// ---------------------------------------------------------------------------------------------
// The compiled model, fed through its writers.

/// The same model with other input values, for a second slot of a batch: probabilities and
/// numbers mirrored, categorical weights reversed. Boolean writers send one slot for all.
Model other_slot(Model m) {
  for (Source& s : m.sources)
    if (s.kind != Kind::Boolean) s.value = 1.0 - s.value;
  for (Categorical& c : m.categoricals) std::ranges::reverse(c.weights);
  return m;
}

/// The target's value per slot, one slot per model of `slots` (models that differ only in their
/// input values); none when the update does not report the target.
template <Semiring S>
std::vector<double> compiled_answer(const std::vector<Model>& slots) {
  const Model& m = slots.front();
  Talvo<S> runtime = compile_ok<S>(model_text(m), slots.size());
  const auto column = [&](auto value_of) {
    std::vector<double> values;
    for (const Model& slot : slots) values.push_back(value_of(slot));
    return values;
  };
  const auto complement = [](std::vector<double> values) {
    for (double& v : values) v = 1.0 - v;
    return values;
  };
  // What each leaf holds, slot by slot, once the reader threads have delivered.
  std::vector<std::pair<std::string, std::vector<double>>> delivered;
  const auto deliver = [&](const std::string& name, const std::vector<double>& values) {
    delivered.emplace_back(name, values);
    delivered.emplace_back("-" + name, complement(values));
  };
  for (std::size_t i = 0; i < m.sources.size(); ++i) {
    const Source& s = m.sources[i];
    const std::string written = s.atom.text(true);
    const std::vector<double> values =
        column([&](const Model& slot) { return slot.sources[i].value; });
    if (s.kind == Kind::Probability) {
      EXPECT_TRUE(runtime.probability_writer(written).value().write(Value(values)));
      deliver(s.atom.text(), values);
    } else if (s.kind == Kind::Boolean) {
      EXPECT_TRUE(runtime.boolean_writer(written).value().write(s.value > 0.5));
      deliver(s.atom.text(), {s.value});
    } else {
      const std::vector<ComparisonEntry>& comparisons = runtime.comparisons_by_source().at(written);
      // A source that no comparison reads refuses the write: it would change nothing.
      EXPECT_EQ(runtime.number_writer(written).value().write(values).has_value(),
                !comparisons.empty());
      for (const ComparisonEntry& entry : comparisons) {
        deliver(entry.name, column([&](const Model& slot) {
                  const double v = slot.sources[i].value;
                  return (entry.greater ? v > entry.threshold : v < entry.threshold) ? 1.0 : 0.0;
                }));
      }
    }
  }
  for (std::size_t j = 0; j < m.categoricals.size(); ++j) {
    const Categorical& c = m.categoricals[j];
    std::vector<Value> values;
    for (std::size_t k = 0; k < c.categories.size(); ++k) {
      const std::vector<double> weights =
          column([&](const Model& slot) { return slot.categoricals[j].weights[k]; });
      values.emplace_back(weights);
      delivered.emplace_back(c.categories[k].text(), weights);
    }
    EXPECT_TRUE(runtime.categorical_writer(cat("/c", j))->write(values).has_value());
  }
  // A leaf missing under its name shows in the answer; only the leaves there are waited for.
  const std::vector<std::string> names = testing::leaf_names(runtime);
  std::erase_if(delivered, [&](const auto& leaf) {
    return std::ranges::find(names, leaf.first) == names.end();
  });
  testing::wait_for_slots(runtime, delivered);
  const UpdateResult results = runtime.circuit()->lock()->full_update();
  const auto found = results.find("/target");
  if (found == results.end()) return {};
  // ProbGradient lays its gradients out after the probability.
  const std::span<const double> value = found->second.span();
  return std::vector<double>(value.begin(), value.begin() + std::min(value.size(), slots.size()));
}

bool every_input_chosen(const Model& m);

/// Where the circuit's values differ from the worlds': one line per semiring, each run as a batch
/// of two slots with different inputs where the semiring takes one. The most likely world and the
/// fuzzy value are compared only where every input of the worlds is a choice of the compiled
/// model, so that a world's weight and the circuit's products are over the same choices.
std::string mismatches(const Model& m) {
  const std::vector<Model> slots = {m, other_slot(m)};
  std::vector<Worlds> worlds;
  for (const Model& slot : slots) worlds.push_back(brute_force(slot));
  std::string out;
  // Slot i of the circuit's answer to the first models of `slots` against the worlds of slot i.
  const auto check = [&]<Semiring S>(std::type_identity<S>, const char* name, std::size_t n,
                                     auto expected) {
    const std::vector<double> got =
        compiled_answer<S>(std::vector<Model>(slots.begin(), slots.begin() + n));
    std::string want;
    bool same = got.size() == n;
    for (std::size_t i = 0; i < n; ++i) {
      want += cat(" ", expected(worlds[i]));
      same = same && std::abs(got[i] - expected(worlds[i])) < 1e-9;
    }
    if (same) return;
    out += cat(name, ": expected", want, ", got");
    for (double g : got) out += cat(" ", g);
    out += "\n";
  };
  const auto probability = [](const Worlds& w) { return w.probability; };
  check(std::type_identity<LogProb>{}, "LogProb", 2, probability);
  // ProbGradient takes no batch.
  check(std::type_identity<ProbGradient>{}, "ProbGradient", 1, probability);
  check(std::type_identity<Boolean>{}, "Boolean", 2,
        [](const Worlds& w) { return w.possible ? 1.0 : 0.0; });
  if (every_input_chosen(m)) {
    check(std::type_identity<MaxProduct>{}, "MaxProduct", 2,
          [](const Worlds& w) { return w.most_likely; });
    check(std::type_identity<Fuzzy>{}, "Fuzzy", 2, [](const Worlds& w) { return w.fuzzy; });
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The generator.

/// Whether the rule is safe for the solver: every variable of its head and of its negated literals
/// is bound by a positive literal; a probabilistic head with variables has every variable of its
/// body.
bool safe(const Rule& r) {
  const std::vector<std::string> head_vars = variables_of(r.head);
  const bool variable_head = r.p && !head_vars.empty();
  std::set<std::string> bound;
  std::set<std::string> used(head_vars.begin(), head_vars.end());
  for (const Literal& l : r.body) {
    const std::vector<std::string> vars = variables_of(l.atom);
    used.insert(vars.begin(), vars.end());
    if (!l.negated) bound.insert(vars.begin(), vars.end());
  }
  if (variable_head && used.size() != head_vars.size()) return false;
  return std::ranges::includes(bound, used);
}

/// The number of worlds: two per coin, one per category of each categorical source.
double world_count(const Model& m) {
  double n = 1.0;
  for (const Source& s : m.sources) n *= s.kind == Kind::Number ? 1.0 : 2.0;
  for (const Categorical& c : m.categoricals) n *= static_cast<double>(c.categories.size());
  for (const Rule& r : m.rules)
    if (r.p) n *= std::pow(2.0, std::pow(kConstants.size(), variables_of(r.head).size()));
  return n;
}

/// Whether every atom that a body or the target uses can be made true by a binary source, a
/// category or a rule head of its predicate and arity: the compiler refuses any other model.
bool defined(const Model& m) {
  std::set<std::pair<std::string, std::size_t>> definitions;
  const auto define = [&](const Atom& a) { definitions.emplace(a.predicate, a.args.size()); };
  for (const Source& s : m.sources)
    if (s.kind != Kind::Number) define(s.atom);
  for (const Categorical& c : m.categoricals) std::ranges::for_each(c.categories, define);
  for (const Rule& r : m.rules) define(r.head);
  const auto has = [&](const Atom& a) {
    return definitions.contains({a.predicate, a.args.size()});
  };
  return has(m.target) && std::ranges::all_of(m.rules, [&](const Rule& r) {
           return std::ranges::all_of(r.body,
                                      [&](const Literal& l) { return l.op || has(l.atom); });
         });
}

bool valid(const Model& m) {
  return !m.target.predicate.empty() && world_count(m) <= 4096 && defined(m) &&
         std::ranges::all_of(m.rules, [&](const Rule& r) { return safe(r); });
}

/// Whether `general` (with variables) has `atom` among its ground instances.
bool covers(const Atom& general, const Atom& atom) {
  if (general.predicate != atom.predicate || general.args.size() != atom.args.size()) return false;
  for (std::size_t k = 0; k < atom.args.size(); ++k)
    if (!is_variable(general.args[k]) && general.args[k] != atom.args[k]) return false;
  return true;
}

/// Whether every input of the worlds is a choice of the compiled model: every source is used by
/// a body or is the target, and every ground instance of a cause with variables has its leaf
/// (an instance that no world can make its domain hold is not grounded, and weighs in no world
/// of the compiled model).
bool every_input_chosen(const Model& m) {
  const auto used = [&](const Source& s) {
    return s.kind == Kind::Number || s.atom == m.target ||
           std::ranges::any_of(m.rules, [&](const Rule& r) {
             return std::ranges::any_of(
                 r.body, [&](const Literal& l) { return !l.op && covers(l.atom, s.atom); });
           });
  };
  if (!std::ranges::all_of(m.sources, used)) return false;
  double instances = 0.0;
  for (const Rule& r : m.rules) {
    const std::size_t vars = variables_of(r.head).size();
    if (r.p && vars > 0) instances += std::pow(kConstants.size(), vars);
  }
  if (instances == 0.0) return true;
  // The leaves of ground causes with variables are named by the cause and its arguments.
  Talvo<LogProb> compiled = compile_ok<LogProb>(model_text(m));
  const std::vector<std::string> names = testing::leaf_names(compiled);
  return instances == static_cast<double>(std::ranges::count_if(names, [](const std::string& n) {
           return !n.starts_with('-') && n.find("_cause_") != std::string::npos && n.ends_with(')');
         }));
}

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  Model model() {
    while (true) {
      Model m = attempt();
      if (valid(m)) return m;
    }
  }

 private:
  struct Derived {
    std::string predicate;
    std::size_t arity;
    std::size_t stratum;
  };

  std::mt19937_64 rng_;
  /// The rules made so far for the model at hand: predicate and head.
  std::vector<std::pair<Derived, Atom>> made_;

  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  template <typename T>
  const T& pick(const std::vector<T>& from) {
    return from[below(from.size())];
  }
  double probability() {
    return chance(0.15) ? pick(std::vector<double>{0.0, 1.0})
                        : pick(std::vector<double>{0.1, 0.3, 0.5, 0.8});
  }

  std::string variable() { return chance(0.7) ? "X" : "Y"; }

  Atom atom(const std::string& predicate, std::size_t arity, double variable_chance) {
    Atom a{predicate, {}, chance(0.5)};
    for (std::size_t k = 0; k < arity; ++k)
      a.args.push_back(chance(variable_chance) ? variable() : pick(kConstants));
    return a;
  }

  /// Two to four sources, some sharing a predicate over other constants, and now and then one
  /// categorical source.
  void inputs(Model& m) {
    static const std::vector<std::pair<std::string, std::size_t>> kBinary = {
        {"r", 0}, {"s", 0}, {"t", 0}, {"t", 1}, {"t", 1}, {"u", 2}};
    static const std::vector<std::pair<std::string, std::size_t>> kNumeric = {
        {"m", 0}, {"n", 1}, {"v", 2}};
    for (std::size_t n = 2 + below(3); m.sources.size() < n;) {
      const bool numeric = chance(0.25);
      const auto& [predicate, arity] = pick(numeric ? kNumeric : kBinary);
      Source s{atom(predicate, arity, 0.0), Kind::Number, 0.0};
      if (std::ranges::any_of(m.sources, [&](const Source& o) { return o.atom == s.atom; }))
        continue;
      if (numeric) {
        s.value = pick(std::vector<double>{-1.5, 0.0, 1.0, 2.5});
      } else if (chance(0.2)) {
        s.kind = Kind::Boolean;
        s.value = chance(0.5) ? 1.0 : 0.0;
      } else {
        s.kind = Kind::Probability;
        s.value = probability();
      }
      m.sources.push_back(s);
    }
    for (const std::string predicate : {"k", "l"}) {
      if (!chance(0.25)) continue;
      Categorical c;
      const bool with_args = chance(0.5);
      for (std::size_t k = 0, n = 2 + below(2); k < n; ++k) {
        c.categories.push_back(with_args && k < kConstants.size() ? Atom{predicate, {kConstants[k]}}
                                                                  : Atom{cat(predicate, k), {}});
      }
      c.weights = c.categories.size() == 2 ? std::vector<double>{0.3, 0.7}
                                           : std::vector<double>{0.2, 0.3, 0.5};
      m.categoricals.push_back(c);
    }
  }

  Model attempt() {
    Model m;
    inputs(m);
    m.rules.push_back({Atom{"q", {"a"}}, std::nullopt, {}});
    if (chance(0.7)) m.rules.push_back({Atom{"q", {"b"}}, std::nullopt, {}});
    if (chance(0.3)) m.rules.push_back({Atom{"e", {"a", "b"}, true}, std::nullopt, {}});
    const std::size_t first_derived = m.rules.size();
    // Derived predicates in strata: a body uses the heads of lower strata, and its own predicate
    // positively. The source predicate `t` is also derived, for atoms that are no source.
    std::vector<Derived> predicates = {{"d", 0, 1 + below(3)},
                                       {"w", 0, 1 + below(3)},
                                       {"g", 1, 1 + below(3)},
                                       {"h", 1, 1 + below(3)},
                                       {"h", 0, 1 + below(3)},
                                       {"f", 2, 1 + below(3)},
                                       {"t", 1, 1}};
    std::vector<Derived> heads;
    for (std::size_t n = 2 + below(4); n > 0; --n) heads.push_back(pick(predicates));
    std::ranges::stable_sort(heads, {}, &Derived::stratum);
    made_.clear();
    for (const Derived& head : heads) {
      Rule r{atom(head.predicate, head.arity, 0.6), std::nullopt, {}};
      if (chance(0.6)) r.p = probability();
      for (std::size_t k = r.p ? below(4) : 1 + below(3); k > 0; --k) {
        // An atom once per body: a literal and its negation side by side only make it fail.
        Literal l = literal(m, head);
        if (std::ranges::none_of(r.body, [&](const Literal& o) { return o.atom == l.atom; }))
          r.body.push_back(std::move(l));
      }
      bind(r);
      made_.emplace_back(head, r.head);
      m.rules.push_back(std::move(r));
    }
    if (m.rules.size() == first_derived) return m;
    // The target: a late derived atom, now and then a source or a category.
    if (chance(0.1)) {
      m.target = pick(m.sources).atom;
    } else if (!m.categoricals.empty() && chance(0.1)) {
      m.target = pick(pick(m.categoricals).categories);
    } else {
      const std::size_t derived = m.rules.size() - first_derived;
      m.target = m.rules[m.rules.size() - 1 - below(std::min<std::size_t>(derived, 2))].head;
      for (std::string& arg : m.target.args)
        if (is_variable(arg)) arg = chance(0.7) ? kConstants[0] : kConstants[1];
    }
    return m;
  }

  /// Makes the rule safe where it is not: a variable that no positive literal binds gets a
  /// domain fact for it; under a probabilistic head with variables a body variable that the head
  /// lacks becomes one of the head's.
  void bind(Rule& r) {
    const std::vector<std::string> head_vars = variables_of(r.head);
    if (r.p && !head_vars.empty()) {
      for (Literal& l : r.body)
        for (std::string& arg : l.atom.args)
          if (is_variable(arg) && std::ranges::find(head_vars, arg) == head_vars.end())
            arg = head_vars[0];
    }
    for (const std::string v : {"X", "Y"}) {
      const auto has = [&](const Atom& atom) {
        return std::ranges::find(atom.args, v) != atom.args.end();
      };
      if (!safe(r) && (has(r.head) ||
                       std::ranges::any_of(r.body, [&](const Literal& l) { return has(l.atom); })))
        r.body.push_back({Atom{"q", {v}}});
    }
  }

  Literal literal(const Model& m, const Derived& head) {
    Literal l;
    l.negated = chance(0.3);
    switch (below(5)) {
      case 0:
      case 1: {  // a source, by its own atom or with a variable
        const Source& s = pick(m.sources);
        l.atom = s.atom;
        l.atom.blanks = chance(0.5);
        if (!l.atom.args.empty() && chance(0.5))
          l.atom.args[below(l.atom.args.size())] = variable();
        if (l.atom.predicate == head.predicate) l.negated = false;
        if (s.kind == Kind::Number) {
          l.op = chance(0.5) ? '<' : '>';
          l.threshold = pick(std::vector<double>{-1.0, 0.0, 1.0, 2.5});
        }
        return l;
      }
      case 2:
        if (!m.categoricals.empty() && chance(0.5)) {
          l.atom = pick(pick(m.categoricals).categories);
          if (!l.atom.args.empty() && chance(0.5)) l.atom.args[0] = variable();
          return l;
        }
        l.atom = chance(0.8) ? atom("q", 1, 0.6) : atom("e", 2, 0.6);
        return l;
      default: {  // the head of an earlier rule: of a lower stratum, or of this predicate
        std::vector<std::pair<Derived, Atom>> below_or_same;
        for (const auto& [derived, atom] : made_) {
          const bool same = derived.predicate == head.predicate && derived.arity == head.arity;
          if (same || derived.stratum < head.stratum) below_or_same.emplace_back(derived, atom);
        }
        if (below_or_same.empty()) {
          l.atom = atom("q", 1, 0.6);
          return l;
        }
        const auto& [derived, atom] = pick(below_or_same);
        if (derived.stratum == head.stratum) l.negated = false;
        l.atom = atom;
        l.atom.blanks = chance(0.5);
        for (std::string& arg : l.atom.args)
          if (chance(0.3)) arg = is_variable(arg) ? pick(kConstants) : variable();
        return l;
      }
    }
  }
};

// ---------------------------------------------------------------------------------------------

/// The smallest model reachable by dropping statements and body literals that still mismatches.
Model shrink(Model m) {
  const auto still = [](const Model& candidate) {
    return valid(candidate) && !mismatches(candidate).empty();
  };
  // Tries dropping each element of the list that `part` picks from a copy of the model.
  const auto try_dropping = [&](auto part) {
    for (std::size_t i = 0; i < part(m).size(); ++i) {
      Model candidate = m;
      part(candidate).erase(part(candidate).begin() + static_cast<long>(i));
      if (!still(candidate)) continue;
      m = std::move(candidate);
      return true;
    }
    return false;
  };
  bool smaller = true;
  while (smaller) {
    smaller = try_dropping([](Model & c) -> auto& { return c.sources; }) ||
              try_dropping([](Model & c) -> auto& { return c.categoricals; }) ||
              try_dropping([](Model & c) -> auto& { return c.rules; });
    for (std::size_t r = 0; r < m.rules.size() && !smaller; ++r)
      smaller = try_dropping([r](Model & c) -> auto& { return c.rules[r].body; });
  }
  return m;
}

std::uint64_t from_environment(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value ? std::stoull(value) : fallback;
}

TEST(PossibleWorlds, CompiledModelsAnswerWhatTheirWorldsGive) {
  const std::uint64_t seed = from_environment("TALVO_WORLDS_SEED", 20261207);
  const std::uint64_t count = from_environment("TALVO_WORLDS_MODELS", 150);
  Generator generator(seed);
  std::size_t failures = 0;
  for (std::uint64_t i = 0; i < count && failures < 3; ++i) {
    const Model m = generator.model();
    const std::string found = mismatches(m);
    if (found.empty()) continue;
    ++failures;
    const Model minimal = shrink(m);
    ADD_FAILURE() << "model " << i << " of seed " << seed << ":\n"
                  << model_text(m) << found << "shrunk to:\n"
                  << model_text(minimal) << mismatches(minimal);
  }
}

}  // namespace
}  // namespace talvo
