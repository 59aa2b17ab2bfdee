// A program built against the installed package: compiles a model and updates a hand-built
// circuit through the public header.

#include <cstdio>

#include <talvo/talvo.hpp>

int main() {
  auto model = talvo::Talvo<talvo::LogProb>::compile(R"(
    rain <- source("/rain", Probability).
    wet <- P(0.5) if rain.
    wet -> target("/wet").
  )");
  if (!model) return 1;

  talvo::ReactiveCircuit<talvo::Fuzzy> circuit(1);
  const auto a = circuit.add_leaf(talvo::Value{0.25}, "a", 0.0);
  if (!a || !circuit.add_sum_product({{*a}}, "t")) return 1;
  const auto results = circuit.update();
  std::printf("downstream: t = %.2f\n", results.at("t")[0]);
  return results.at("t")[0] == 0.25 ? 0 : 1;
}
