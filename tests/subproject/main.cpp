// Compiles a model and answers its target, from a talvo built as part of this project.
#include <cmath>
#include <cstdio>
#include <talvo/talvo.hpp>

int main() {
  auto model = talvo::Talvo<talvo::LogProb>::compile(R"(
    wet <- P(0.25).
    wet -> target("/wet").
  )");
  if (!model) {
    std::fprintf(stderr, "%s\n", model.error().what());
    return 1;
  }
  const double wet = model->circuit()->lock()->full_update().at("/wet")[0];
  std::printf("P(wet) = %.2f\n", wet);
  return std::abs(wet - 0.25) < 1e-9 ? 0 : 1;
}
