#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <system_error>

#include "circuit/circuit_access.hpp"
#include "talvo/circuit/algebraic.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"

namespace talvo {
namespace {

const std::string header =
    "digraph ReactiveCircuit {\n"
    "    node [color=\"chartreuse3\" margin=0 penwidth=2];\n"
    "    edge [color=\"gray25\" penwidth=2];\n";

std::filesystem::path scratch(const std::string& name) {
  return std::filesystem::path(testing::TempDir()) / (name + "_" + std::to_string(::getpid()));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/// What graphviz draws of the circuit's DOT file as SVG; empty when it refuses the text.
template <Semiring S>
std::string drawn_by_graphviz(const ReactiveCircuit<S>& circuit) {
  const auto dot = scratch("render.dot");
  const auto svg = scratch("render.svg");
  std::string drawn;
  if (circuit.to_dot(dot.string())) {
    const std::string command =
        "dot -Tsvg '" + dot.string() + "' -o '" + svg.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) == 0) drawn = read_file(svg);
  }
  std::filesystem::remove(dot);
  std::filesystem::remove(svg);
  return drawn;
}

// Nodes 0, 1, 2 and the edge 0 -> 2 with index 5 (edges 0 to 4 made and removed first) holding
// the given slot 0.
template <Semiring S>
ReactiveCircuit<S> one_edge(double memory) {
  ReactiveCircuit<S> circuit(1);
  for (int i = 0; i < 3; ++i)
    detail::CircuitAccess::structure(circuit).add_node(AlgebraicCircuit(1));
  for (int i = 0; i < 5; ++i) detail::CircuitAccess::structure(circuit).add_edge(0, 1, Value{0.0});
  const EdgeIndex edge = detail::CircuitAccess::structure(circuit).add_edge(0, 2, Value{memory});
  EXPECT_EQ(edge, 5u);
  for (EdgeIndex e = 0; e < 5; ++e) detail::CircuitAccess::structure(circuit).remove_edge(e);
  return circuit;
}

std::string edge_line(const std::string& text) {
  const auto start = text.find("    0 -> 2");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find('\n', start) + 1 - start);
}

TEST(ReactiveDot, EmptyCircuitIsTheHeaderAlone) {
  EXPECT_EQ(ReactiveCircuit<LogProb>(2).to_dot_text(), header + "}\n");
}

TEST(ReactiveDot, NodeLabelsListTokensAndColumns) {
  ReactiveCircuit<LogProb> circuit(1);
  AlgebraicCircuit content(1);
  content.ensure_leaf(0);
  content.create_memory(3);
  detail::CircuitAccess::structure(circuit).add_node(content);
  EXPECT_EQ(circuit.to_dot_text(),
            header + "    0 [shape=\"circle\" label=\"P() = \u03A3\u03A0\\nL0 M3\"];\n}\n");

  detail::CircuitAccess::targets(circuit)["/a"] = 0;
  detail::CircuitAccess::targets(circuit)["/b"] = 0;
  const std::string text = circuit.to_dot_text();
  EXPECT_TRUE(text.find("label=\"P(/a/b) = ") != std::string::npos ||
              text.find("label=\"P(/b/a) = ") != std::string::npos)
      << text;
}

TEST(ReactiveDot, EdgeLabelsShowSlotZeroAsStored) {
  EXPECT_EQ(edge_line(one_edge<Fuzzy>(0.25).to_dot_text()),
            "    0 -> 2 [label=\"M5=0.25\" decorate=\"true\"];\n");
  EXPECT_EQ(edge_line(one_edge<LogProb>(std::log(0.5)).to_dot_text()),
            "    0 -> 2 [label=\"M5=-0.69\" decorate=\"true\"];\n");
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [memory, shown] :
       {std::pair{-inf, "-inf"}, std::pair{inf, "inf"},
        std::pair{std::numeric_limits<double>::quiet_NaN(), "NaN"},
        std::pair{12345.678, "12345.68"}, std::pair{-0.004, "-0.00"}, std::pair{3.0, "3.00"}}) {
    EXPECT_NE(edge_line(one_edge<LogProb>(memory).to_dot_text())
                  .find(std::string("\"M5=") + shown + "\""),
              std::string::npos)
        << shown;
  }

  // A fresh edge of a log semiring holds negative infinity.
  ReactiveCircuit<LogProb> circuit(2);
  ASSERT_TRUE(circuit.add_sum_product({{}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({{}}, "c"));
  circuit.connect(0, 1, 0);
  EXPECT_NE(circuit.to_dot_text().find("    0 -> 1 [label=\"M0=-inf\" decorate=\"true\"];\n"),
            std::string::npos);
}

/// For its lifetime, the C library's numbers use a locale whose decimal separator is a comma, as a
/// host program's setlocale(LC_ALL, "") may choose; one is built with localedef when none is
/// installed. `active()` is false when neither works.
class CommaDecimalLocale {
 public:
  CommaDecimalLocale() : directory_(scratch("locales")) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
      if (use(name)) return;
    }
    std::filesystem::create_directories(directory_);
    const std::string build = "localedef -i de_DE -f ISO-8859-1 -c '" +
                              (directory_ / "de_DE").string() + "' >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0) return;
    ::setenv("LOCPATH", directory_.c_str(), 1);
    use("de_DE");
  }
  ~CommaDecimalLocale() {
    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
    std::filesystem::remove_all(directory_);
  }
  bool active() const { return active_; }

 private:
  bool use(const char* name) {
    active_ = std::setlocale(LC_NUMERIC, name) != nullptr &&
              std::string(std::localeconv()->decimal_point) == ",";
    return active_;
  }

  std::filesystem::path directory_;
  bool active_ = false;
};

TEST(ReactiveDot, NumbersDoNotFollowTheHostsLocale) {
  const CommaDecimalLocale comma;
  if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma";
  EXPECT_EQ(edge_line(one_edge<Fuzzy>(0.25).to_dot_text()),
            "    0 -> 2 [label=\"M5=0.25\" decorate=\"true\"];\n");
}

TEST(AlgebraicDot, RowsAreMinterms) {
  AlgebraicCircuit circuit(1);
  EXPECT_EQ(circuit.to_dot_text(),
            "digraph AlgebraicCircuit {\n  node [shape=record];\n"
            "  matrix [label=\"{}\" shape=record];\n}\n");
  circuit.add_sum_product({{4, 7}});
  circuit.push_minterm({circuit.create_memory(1)});
  EXPECT_NE(circuit.to_dot_text().find("  matrix [label=\"{L4\u00B7L7 | M1}\" shape=record];\n"),
            std::string::npos);
}

TEST(ReactiveDotFile, WritesTheTextWithTheUsualMode) {
  ReactiveCircuit<LogProb> circuit(1);
  ASSERT_TRUE(circuit.add_leaf(Value{0.5}, "x", 0.0));
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  const auto path = scratch("circuit.dot");
  std::ofstream(path) << "older and longer contents than the circuit's text, to be truncated"
                      << std::string(1000, '.');
  ASSERT_TRUE(circuit.to_dot(path.string()));
  EXPECT_EQ(read_file(path), circuit.to_dot_text());
  std::filesystem::remove(path);

  const mode_t previous = ::umask(022);
  const auto result = circuit.to_dot(path.string());
  ::umask(previous);
  ASSERT_TRUE(result);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  std::filesystem::remove(path);
}

TEST(ReactiveDotFile, MissingDirectoryIsTheSystemsErrorForThePath) {
  const auto directory = scratch("missing_directory");
  std::filesystem::remove_all(directory);
  const auto path = (directory / "circuit.dot").string();
  const auto result = ReactiveCircuit<LogProb>(1).to_dot(path);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(),
            "cannot write '" + path + "': " + std::generic_category().message(ENOENT));
  EXPECT_FALSE(std::filesystem::exists(directory));
}

TEST(ReactiveDotFile, GraphvizRendersARestructuredCircuit) {
  if (std::system("command -v dot >/dev/null 2>&1") != 0) GTEST_SKIP() << "dot is not installed";
  ReactiveCircuit<LogProb> circuit(2);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(circuit.add_leaf(Value{0.5, 0.25}, "x" + std::to_string(i), 0.0));
  }
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}, {1, 2, 3}, {}}, "/a"));
  ASSERT_TRUE(circuit.add_sum_product({{0, 3}}, "/b"));
  ASSERT_TRUE(circuit.drop_leaf(1));
  ASSERT_TRUE(circuit.drop_leaf(1));
  ASSERT_TRUE(circuit.lift_leaf(0));
  ASSERT_TRUE(circuit.drop_leaf(3));
  circuit.full_update();
  EXPECT_NE(drawn_by_graphviz(circuit).find("<svg"), std::string::npos) << circuit.to_dot_text();
}

TEST(ReactiveDotFile, GraphvizReadsEveryTokenAsText) {
  if (std::system("command -v dot >/dev/null 2>&1") != 0) GTEST_SKIP() << "dot is not installed";
  ReactiveCircuit<LogProb> circuit(1);
  ASSERT_TRUE(circuit.add_leaf(Value{0.5}, "x", 0.0));
  const std::string injected = "/a\"]; injected [label=\"";
  ASSERT_TRUE(circuit.add_sum_product({{0}}, injected));
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "/b\\N\\"));

  // The two nodes and no other, each showing its token as written.
  const std::string drawn = drawn_by_graphviz(circuit);
  std::size_t nodes = 0;
  for (auto at = drawn.find("class=\"node\""); at != std::string::npos;
       at = drawn.find("class=\"node\"", at + 1)) {
    ++nodes;
  }
  EXPECT_EQ(nodes, 2u) << drawn;
  EXPECT_NE(drawn.find(">P(/a&quot;]; injected [label=&quot;) = \u03A3\u03A0<"), std::string::npos)
      << drawn;
  EXPECT_NE(drawn.find(">P(/b\\N\\) = \u03A3\u03A0<"), std::string::npos) << drawn;
}

}  // namespace
}  // namespace talvo
