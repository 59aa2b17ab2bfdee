// Compiles a small model of a garden, feeds it values through its writers for a few time steps,
// and prints the probability that the garden is wet after each update.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include <talvo/channels/manager.hpp>
#include <talvo/talvo.hpp>

namespace {

constexpr const char* kModel = R"(
# Inputs: rain and the temperature from the weather, the sprinkler, and the sky.
rain <- source("/weather/rain", Probability).
temp <- source("/weather/temp", Number).
sprinkler <- source("/garden/sprinkler", Boolean).
{sunny, cloudy} <- source("/sky", Categorical).

wet <- P(0.9) if rain.
wet if sprinkler and not sunny.
hot if temp > 25.

wet -> target("/garden/wet").
)";

// Reader threads apply values asynchronously; wait until the leaf `name` holds `expected`.
template <class S>
void wait_for_leaf(talvo::Talvo<S>& model, const std::string& name, double expected) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    const auto names = model.manager().get_names();
    const auto values = model.manager().get_values();
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name && std::abs(values[i][0] - expected) < 1e-9) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

int main() {
  using talvo::LogProb;
  auto compiled = talvo::Talvo<LogProb>::compile(kModel, /*value_size=*/1, /*verbose=*/true);
  if (!compiled) {
    std::fprintf(stderr, "compile failed: %s\n", compiled.error().what());
    return 1;
  }
  auto& model = *compiled;

  auto rain = model.probability_writer("rain").value();
  auto sprinkler = model.boolean_writer("sprinkler").value();
  auto temp = model.number_writer("temp").value();
  auto sky = model.categorical_writer("/sky").value();

  struct Step {
    double rain;
    bool sprinkler;
    double temp;
    double sunny;
  };
  const Step steps[] = {
      {0.10, false, 18.0, 0.8}, {0.10, true, 22.0, 0.8}, {0.60, true, 27.0, 0.3},
      {0.95, false, 30.0, 0.1}, {0.30, true, 24.0, 0.9},
  };

  double time = 0.0;
  for (const Step& step : steps) {
    time += 1.0;
    const double temperature[] = {step.temp};
    // A writer refuses a vector that the model's leaves could not hold.
    for (const talvo::Result<void>& written :
         {rain.write(talvo::Value{step.rain}, time), sprinkler.write(step.sprinkler, time),
          temp.write(temperature, time),
          sky.write(talvo::Value{step.sunny, 1.0 - step.sunny}, time)}) {
      if (!written) {
        std::fprintf(stderr, "write refused: %s\n", written.error().what());
        return 1;
      }
    }
    wait_for_leaf(model, "rain", step.rain);
    wait_for_leaf(model, "sprinkler", step.sprinkler ? 1.0 : 0.0);
    wait_for_leaf(model, "sunny", step.sunny);

    const auto results = model.circuit()->lock()->update();
    const auto wet = results.find("/garden/wet");
    if (wet == results.end()) {
      std::printf("t=%.0f  rain=%.2f sprinkler=%d temp=%.1f sunny=%.2f  P(wet) unchanged\n", time,
                  step.rain, step.sprinkler, step.temp, step.sunny);
    } else {
      std::printf("t=%.0f  rain=%.2f sprinkler=%d temp=%.1f sunny=%.2f  P(wet) = %.4f\n", time,
                  step.rain, step.sprinkler, step.temp, step.sunny, wet->second[0]);
    }
  }
  return 0;
}
