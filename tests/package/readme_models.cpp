// Compiles every model the README shows, as a user would paste it: each must compile, and each
// with a target must answer with a probability.

#include <talvo/talvo.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i]);
    std::stringstream text;
    text << file.rdbuf();
    auto model = talvo::Talvo<talvo::LogProb>::compile(text.str());
    if (!model) {
      std::fprintf(stderr, "%s: %s\n", argv[i], model.error().what());
      ++failed;
      continue;
    }
    for (const auto& [token, value] : model->circuit()->lock()->full_update()) {
      std::printf("%s: P(%s) = %.4f\n", argv[i], token.c_str(), value[0]);
      if (!(value[0] >= 0.0 && value[0] <= 1.0)) ++failed;
    }
  }
  return failed == 0 && argc > 1 ? 0 : 1;
}
