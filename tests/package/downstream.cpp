// A program built against the installed package, as a user writes one: the README shows it.

#include <talvo/talvo.hpp>

#include <chrono>
#include <cstdio>
#include <thread>

int main() {
  auto model = talvo::Talvo<talvo::LogProb>::compile(R"(
    rain <- source("/weather/rain", Probability).
    wet <- P(0.9) if rain.
    wet -> target("/garden/wet").
  )");
  if (!model) {
    std::fprintf(stderr, "%s\n", model.error().what());  // the model's mistakes, line by line
    return 1;
  }
  auto rain = model->probability_writer("rain").value();
  const auto circuit = model->circuit();
  circuit->lock()->update();  // the target's first value, before any input arrived

  for (const double p : {0.3, 0.6, 0.9}) {  // values as a sensor delivers them
    if (const auto written = rain.write(talvo::Value{p}); !written) {
      std::fprintf(stderr, "%s\n", written.error().what());  // a vector the leaves cannot hold
      return 1;
    }
    // Wait until the reader thread has applied the value and the target was recomputed. (A value
    // that differs from the last one by no more than the update threshold changes nothing.)
    talvo::UpdateResult changed;
    while ((changed = circuit->lock()->update()).empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("P(wet) = %.3f\n", changed.at("/garden/wet")[0]);  // 0.9 * p
  }
}
