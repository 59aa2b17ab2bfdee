// Resolving the channel ends of a compiled model's sources, and what writers and their callers may
// do to a model without breaking it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <variant>
#include <vector>

#include "language/talvo_fixtures.hpp"
#include "talvo/channels/timed_writer.hpp"
#include "talvo/core/clock.hpp"
#include "talvo/core/mutex.hpp"
#include "talvo/language/talvo.hpp"
#include "talvo/tracking/estimator.hpp"
#include "talvo/tracking/kalman.hpp"

namespace talvo {
namespace {

using testing::compile_ok;
using testing::wait_for_leaves;

constexpr const char* kSources = R"(
rain <- source("/weather/rain", Probability).
on <- source("/switch", Boolean).
temp <- source("/weather/temp", Number).
level <- source("/level", Density).
quiet <- source("/quiet", Number).
{low, high} <- source("/sky", Categorical).
hot if temp > 30.
cold if temp < 20.
deep if level > 2.5.
)";

ValueMessage message(double p) {
  return {Value{p}, unix_timestamp().value()};
}

TEST(MakeWriterFor, AnAtomNamesItsSourceExactly) {
  auto runtime = compile_ok<LogProb>(kSources);
  for (const char* atom : {"snow", "Rain", " rain", "rain ", "low", "hot", ""}) {
    const auto writer = runtime.make_writer_for(atom);
    ASSERT_FALSE(writer.has_value()) << atom;
    EXPECT_EQ(writer.error().message(), std::string("Source '") + atom + "' not found");
  }
}

TEST(MakeWriterFor, ProbabilityAndBooleanSourcesGetTheirChannel) {
  auto runtime = compile_ok<LogProb>(kSources);
  auto rain = runtime.make_writer_for("rain");
  ASSERT_TRUE(rain.has_value());
  ASSERT_TRUE(std::holds_alternative<source_writer::Probability>(*rain));
  auto on = runtime.make_writer_for("on");
  ASSERT_TRUE(on.has_value());
  ASSERT_TRUE(std::holds_alternative<source_writer::Boolean>(*on));

  ASSERT_TRUE(std::get<source_writer::Probability>(*rain).sender.send(message(0.4)).has_value());
  ASSERT_TRUE(std::get<source_writer::Boolean>(*on).sender.send(message(1.0)).has_value());
  wait_for_leaves(runtime, {{"rain", 0.4}, {"-rain", 0.6}, {"on", 1.0}, {"-on", 0.0}});
}

TEST(MakeWriterFor, TwoCallsGiveIndependentSendersOnOneChannel) {
  auto runtime = compile_ok<LogProb>(kSources);
  auto second = runtime.make_writer_for("rain");
  {
    auto first = runtime.make_writer_for("rain");
    ASSERT_TRUE(std::get<source_writer::Probability>(*first).sender.send(message(0.2)));
    wait_for_leaves(runtime, {{"rain", 0.2}});
  }
  // The first is gone; the second still reaches the same reader.
  ASSERT_TRUE(std::get<source_writer::Probability>(*second).sender.send(message(0.7)));
  wait_for_leaves(runtime, {{"rain", 0.7}, {"-rain", 0.3}});
}

TEST(MakeWriterFor, NumericSourcesGetOneSenderPerComparisonInOrder) {
  auto runtime = compile_ok<LogProb>(kSources);
  auto temp = runtime.make_writer_for("temp");
  ASSERT_TRUE(temp.has_value());
  const auto& number = std::get<source_writer::Number>(*temp);
  ASSERT_EQ(number.comparisons.size(), 2u);
  EXPECT_EQ(number.comparisons[0].threshold, 30.0);
  EXPECT_TRUE(number.comparisons[0].greater);
  EXPECT_EQ(number.comparisons[1].threshold, 20.0);
  EXPECT_FALSE(number.comparisons[1].greater);
  ASSERT_TRUE(number.comparisons[0].sender.send(message(1.0)));
  ASSERT_TRUE(number.comparisons[1].sender.send(message(0.0)));
  wait_for_leaves(runtime, {{"temp_gt_30", 1.0}, {"temp_lt_20", 0.0}, {"-temp_lt_20", 1.0}});

  auto level = runtime.make_writer_for("level");
  ASSERT_TRUE(level.has_value());
  ASSERT_TRUE(std::holds_alternative<source_writer::Density>(*level));
  EXPECT_EQ(std::get<source_writer::Density>(*level).comparisons.size(), 1u);

  auto quiet = runtime.make_writer_for("quiet");
  ASSERT_TRUE(quiet.has_value());
  EXPECT_TRUE(std::get<source_writer::Number>(*quiet).comparisons.empty());
  // Nothing would change: its write says so.
  const double value[] = {1.0};
  const Result<void> written = runtime.number_writer("quiet")->write(value);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(),
            "cannot write to source 'quiet': no comparison in the model reads it, so a write "
            "would change nothing");
}

TEST(MakeWriterFor, SendersGoToTheChannelRegisteredLastUnderTheName) {
  auto runtime = compile_ok<LogProb>(R"(
x <- source("/x", Probability).
y <- source("/y", Probability).
)");
  // A reader set up after compile registers a fresh channel under y's name; the next lookup of
  // y's writer finds it, so what is written for y reaches x's leaves.
  runtime.manager().read_dual(0, 1, "/y");
  auto y = runtime.make_writer_for("y");
  ASSERT_TRUE(std::get<source_writer::Probability>(*y).sender.send(message(0.9)));
  wait_for_leaves(runtime, {{"x", 0.9}, {"-x", 0.1}});
  EXPECT_EQ(runtime.manager().get_values()[2][0], 0.0);
}

TEST(TypedWriters, AWriterOfAnotherTypeIsRefused) {
  auto runtime = compile_ok<LogProb>(kSources);
  EXPECT_TRUE(runtime.probability_writer("rain").has_value());
  EXPECT_TRUE(runtime.boolean_writer("on").has_value());
  EXPECT_TRUE(runtime.number_writer("temp").has_value());
  EXPECT_TRUE(runtime.density_writer("level").has_value());

  const auto wrong = runtime.number_writer("rain");
  ASSERT_FALSE(wrong.has_value());
  EXPECT_EQ(wrong.error().message(), "Source 'rain' is a Probability source, not a Number source");
  EXPECT_EQ(runtime.boolean_writer("nothing").error().message(), "Source 'nothing' not found");
}

TEST(TypedWriters, TheCategoricalWriterFeedsEveryCategory) {
  auto runtime = compile_ok<LogProb>(kSources);
  const Value sky[] = {Value{0.25}, Value{0.75}};
  ASSERT_TRUE(runtime.categorical_writer("/sky")->write(sky));
  wait_for_leaves(runtime, {{"low", 0.25}, {"high", 0.75}});
}

TEST(TypedWriters, ACategoricalRowWithinTheToleranceIsScaledToSumTo1) {
  auto runtime = compile_ok<LogProb>(R"(
{a, b, c} <- source("/abc", Categorical).
t if a. t if b.
t -> target("/t").
)");
  // c has no weight, so t holds in every world.
  const Value abc[] = {Value{0.5}, Value{0.5 + 9e-7}, Value{0.0}};
  ASSERT_TRUE(runtime.categorical_writer("/abc")->write(abc));
  double t = 0.0;
  EXPECT_TRUE(testing::eventually([&] {
    t = runtime.circuit()->lock()->full_update().at("/t")[0];
    return t > 0.5;
  }));
  EXPECT_NEAR(t, 1.0, 1e-12);
}

/// A model in batches of two slots, so that a leaf holds a vector of 1 or 2 entries and the
/// categorical reader cuts 2 x 2, with a writer for each kind of source.
struct WetModel {
  static Talvo<LogProb> compile() {
    return compile_ok<LogProb>(R"(
rain <- source("/rain", Probability).
temp <- source("/temp", Number).
level <- source("/level", Density).
on <- source("/on", Boolean).
{sunny, cloudy} <- source("/sky", Categorical).
wet <- P(0.9) if rain.
wet if temp > 30.
wet if deep and sunny.
wet if on and cloudy.
deep if level > 2.5.
wet -> target("/wet").
)",
                               2);
  }

  explicit WetModel(Talvo<LogProb>& model)
      : runtime(model),
        rain(model.probability_writer("rain").value()),
        temp(model.number_writer("temp").value()),
        level(model.density_writer("level").value()),
        on(model.boolean_writer("on").value()),
        sky(model.categorical_writer("/sky").value()) {}

  /// P(wet) = 1 - (1 - 0.9 rain) (1 - [temp > 30]) (1 - P(level > 2.5) sunny) (1 - on cloudy),
  /// slot by slot, for values worked out by hand.
  void expect_answers() const {
    ASSERT_TRUE(rain.write(Value{0.5, 1.0}));
    ASSERT_TRUE(temp.write(std::vector<double>{20.0, 35.0}));
    ASSERT_TRUE(level.write("normal", {{2.5}, {1.0}}));
    ASSERT_TRUE(on.write(false));
    ASSERT_TRUE(sky.write(Value{1.0, 0.5, 0.0, 0.5}));
    const double deep = 1.0 - 0.5000000005;  // the survival form at the mean
    const std::vector<double> expected{1.0 - 0.55 * (1.0 - deep), 1.0};
    std::vector<double> wet;
    const bool reached = testing::eventually([&] {
      wet = runtime.circuit()->lock()->full_update().at("/wet").to_vector();
      return std::abs(wet[0] - expected[0]) < 1e-9 && std::abs(wet[1] - expected[1]) < 1e-9;
    });
    EXPECT_TRUE(reached) << "P(wet) is " << wet[0] << ", " << wet[1];
  }

  Talvo<LogProb>& runtime;
  ProbabilityWriter rain;
  NumberWriter temp;
  DensityWriter level;
  BooleanWriter on;
  CategoricalWriter sky;
};

struct Refused {
  std::function<Result<void>()> write;
  std::string message;
};

void expect_refused(const std::vector<Refused>& refused) {
  for (const Refused& row : refused) {
    const Result<void> written = row.write();
    ASSERT_FALSE(written.has_value()) << row.message;
    EXPECT_EQ(written.error().message(), row.message);
  }
}

const std::string sky_refusal = "cannot write to the categorical source on '/sky': ";

TEST(TypedWriters, RefuseWhatTheReadersWouldDropAndTheModelStillAnswers) {
  auto runtime = WetModel::compile();
  const WetModel model(runtime);
  const auto leaf_refusal = [](const char* source, int entries) {
    return std::string("cannot write to source '") + source + "': a value of " +
           std::to_string(entries) +
           " entries cannot be held by a leaf of a circuit with value_size 2";
  };
  expect_refused({
      {[&] {
         return model.rain.write(Value{0.1, 0.2, 0.3});
       },
       leaf_refusal("rain", 3)},
      {[&] { return model.rain.write(Value{}); }, leaf_refusal("rain", 0)},
      {[&] {
         return model.temp.write(std::vector<double>{20.0, 25.0, 35.0});
       },
       leaf_refusal("temp", 3)},
      {[&] {
         return model.level.write("normal", {{1.0, 2.0, 3.0}, {1.0}});
       },
       leaf_refusal("level", 3)},
      {[&] {
         return model.level.write("normal", {{1.0}, {0.0}});
       },
       "cannot write to source 'level': Normal: stds[0] is 0; a standard deviation must be "
       "positive and finite"},
      {[&] {
         return model.level.write("gaussian", {{1.0}, {1.0}});
       },
       "cannot write to source 'level': Unknown distribution 'gaussian'. Supported: normal, "
       "lognormal, exponential, uniform"},
      {[&] {
         return model.sky.write(Value{0.1, 0.2, 0.3});
       },
       sky_refusal + "it takes 2 categories of 2 entries each, 4 entries in all, not 3"},
      {[&] {
         return model.sky.write(std::vector<Value>{Value{0.1, 0.2}});
       },
       sky_refusal + "it takes 2 categories, not 1"},
      {[&] {
         return model.sky.write(std::vector<Value>{Value{0.1, 0.2}, Value{0.9}});
       },
       sky_refusal + "category 1 has 1 entries, not 2"},
  });
  const auto unread = runtime.categorical_writer("/rain");
  ASSERT_FALSE(unread.has_value());
  EXPECT_EQ(unread.error().message(), "no categorical source reads the topic '/rain'");
  model.expect_answers();
}

TEST(TypedWriters, RefuseWhatIsNoProbabilityAndTheModelStillAnswers) {
  auto runtime = WetModel::compile();
  const WetModel model(runtime);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const auto rain_refusal = [](const char* slot) {
    return std::string("cannot write to source 'rain': slot ") + slot +
           "; a probability is a number in [0, 1]";
  };
  expect_refused({
      {[&] {
         return model.rain.write(Value{0.5, nan});
       },
       rain_refusal("1 is nan")},
      {[&] { return model.rain.write(Value{inf}); }, rain_refusal("0 is inf")},
      {[&] {
         return model.rain.write(Value{-inf, 0.5});
       },
       rain_refusal("0 is -inf")},
      {[&] { return model.rain.write(Value{-0.5}); }, rain_refusal("0 is -0.5")},
      {[&] {
         return model.rain.write(Value{0.5, 1.5});
       },
       rain_refusal("1 is 1.5")},
      {[&] {
         return model.temp.write(std::vector<double>{20.0, nan});
       },
       "cannot write to source 'temp': slot 1 is not a number"},
      {[&] {
         return model.sky.write(Value{0.5, 0.5, 0.4, 1.5});
       },
       sky_refusal + "category 1 slot 1 is 1.5; a probability is a number in [0, 1]"},
      {[&] {
         return model.sky.write(std::vector<Value>{Value{0.5, -0.1}, Value{0.5, 1.1}});
       },
       sky_refusal + "category 0 slot 1 is -0.1; a probability is a number in [0, 1]"},
      {[&] {
         return model.sky.write(Value{0.5, 0.6, 0.25, 0.4});
       },
       sky_refusal + "slot 0: the categories sum to 0.75, not 1"},
      {[&] {
         return model.sky.write(Value{0.5, 0.75, 0.5, 0.375});
       },
       sky_refusal + "slot 1: the categories sum to 1.125, not 1"},
  });
  // Within rounding a slot sums to 1.
  ASSERT_TRUE(model.sky.write(Value{0.1, 0.7, 0.9, 0.3}));
  ASSERT_TRUE(model.sky.write(Value{0.7, 1.0 / 3.0, 0.3, 2.0 / 3.0 + 5e-7}));
  model.expect_answers();
}

TEST(TypedWriters, AWriteThatNothingWillReadIsAnError) {
  auto kept = WetModel::compile();
  const WetModel live(kept);
  std::optional<Talvo<LogProb>> gone = WetModel::compile();
  const WetModel orphaned(*gone);
  gone.reset();

  const auto unread = [](const std::string& input) {
    return "cannot write to " + input + ": nothing reads its channel any more";
  };
  expect_refused({
      {[&] { return orphaned.rain.write(Value{0.5}); }, unread("source 'rain'")},
      {[&] { return orphaned.on.write(true); }, unread("source 'on'")},
      {[&] { return orphaned.temp.write(std::vector<double>{35.0}); }, unread("source 'temp'")},
      {[&] {
         return orphaned.level.write("normal", {{2.5}, {1.0}});
       },
       unread("source 'level'")},
      {[&] {
         return orphaned.sky.write(Value{0.5, 0.5, 0.5, 0.5});
       },
       unread("the categorical source on '/sky'")},
  });
  // The model that is kept is fed as before.
  live.expect_answers();
}

// Near 1 a comparison leaf moves within the update threshold while its complement does not, and
// near 0 the other way round. The target reads both: p + 0.4 (1 - p).
constexpr const char* kHumid = R"(
hum <- source("/hum", Density).
t if hum > 70.
t <- P(0.4).
t -> target("/t").
)";

TEST(DualReaders, ALeafAndItsComplementAlwaysHoldTheSameMessage) {
  auto runtime = compile_ok<LogProb>(kHumid);
  // Every message changes the leaves of a model without threshold: it shows what they must hold.
  auto exact = Talvo<LogProb>::compile(kHumid, 1, false, std::nullopt, 0.0).value();
  double before = 0.0;
  for (const double mean : {80.0, 86.5, 95.0, 118.0, 60.0, 45.0, 38.0, 30.0, 25.0}) {
    for (auto* model : {&runtime, &exact}) {
      ASSERT_TRUE(model->density_writer("hum")->write("normal", {{mean}, {5.0}}).has_value());
    }
    ASSERT_TRUE(testing::eventually([&] { return exact.manager().get_values()[0][0] != before; }));
    before = exact.manager().get_values()[0][0];
    // Far in the tail two messages differ by less than any tolerance on probabilities, so the
    // pair is known to have arrived when the update reports the target.
    std::optional<double> answer;
    ASSERT_TRUE(testing::eventually([&] {
      answer = testing::update_target(runtime, "/t");
      return answer.has_value();
    })) << mean;
    const auto values = runtime.manager().get_values();
    EXPECT_NEAR(values[0][0] + values[1][0], 1.0, 1e-12) << mean;
    EXPECT_NEAR(*answer, exact.circuit()->lock()->full_update().at("/t")[0], 1e-12) << mean;
  }
}

/// What `call` came to when the calling thread held the circuit's guard: "returned", or the
/// message of what it threw; nothing when it did not end within a second. Such a thread waits for
/// itself for ever, so it is left behind and the test fails.
std::optional<std::string> under_the_guard(const SharedCircuit<LogProb>& circuit,
                                           const std::function<void()>& call) {
  auto outcome = std::make_shared<std::promise<std::string>>();
  std::future<std::string> ended = outcome->get_future();
  std::thread caller([circuit, call, outcome] {
    try {
      const auto guard = circuit->lock();
      // Caught while the guard lives, so that a refusal does not poison the circuit.
      try {
        call();
        outcome->set_value("returned");
      } catch (const std::exception& thrown) {
        outcome->set_value(thrown.what());
      }
    } catch (...) {
      outcome->set_value("the guard could not be taken, or the call threw no std::exception");
    }
  });
  if (ended.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
    caller.detach();
    return std::nullopt;
  }
  caller.join();
  return ended.get();
}

TEST(CircuitGuard, EveryOperationOfTheModelEndsWhileItsCallerHoldsTheGuard) {
  auto runtime = WetModel::compile();
  Manager<LogProb>& manager = runtime.manager();
  const std::string returned = "returned";
  // What needs no circuit takes no lock; what needs it says that the caller holds it.
  const std::vector<std::tuple<const char*, std::function<void()>, std::string>> calls{
      {"statements and maps",
       [&] {
         (void)runtime.clauses(), (void)runtime.sources(), (void)runtime.categorical_sources();
         (void)runtime.targets(), (void)runtime.comparisons_by_source();
         (void)runtime.parameter_groups(), (void)runtime.value_size(), (void)runtime.circuit();
       },
       returned},
      {"make_writer_for", [&] { (void)runtime.make_writer_for("rain").value(); }, returned},
      {"writers", [&] { const WetModel writers(runtime); }, returned},
      {"senders", [&] { (void)manager.get_or_create_sender("/rain"), (void)manager.senders(); },
       returned},
      {"categorical_layouts", [&] { (void)manager.categorical_layouts(); }, returned},
      {"read_dual", [&] { manager.read_dual(0, 1, "/spare"); }, returned},
      {"stop_timed_writers", [&] { (void)manager.stop_timed_writers().value(); }, returned},
      {"value_size", [&] { (void)manager.value_size(); }, kHeldByCallerMessage},
      {"get_names", [&] { (void)manager.get_names(); }, kHeldByCallerMessage},
      {"get_values", [&] { (void)manager.get_values(); }, kHeldByCallerMessage},
      {"get_frequencies", [&] { (void)manager.get_frequencies(); }, kHeldByCallerMessage},
      {"index_map", [&] { (void)manager.index_map(); }, kHeldByCallerMessage},
      {"create_leaf",
       [&] {
         (void)manager.create_leaf("x", Value{0.5, 0.5});
       },
       kHeldByCallerMessage},
      {"read", [&] { (void)manager.read(0, "/spare", false); }, kHeldByCallerMessage},
      {"read_categorical",
       [&] {
         manager.read_categorical("/spare", {0, 1});
       },
       kHeldByCallerMessage},
      {"make_timed_writer", [&] { (void)manager.make_timed_writer("/rain", 1.0); },
       kHeldByCallerMessage},
  };
  for (const auto& [name, call, expected] : calls) {
    EXPECT_EQ(under_the_guard(runtime.circuit(), call), expected) << name;
  }
  std::optional<Talvo<LogProb>> dropped = WetModel::compile();
  EXPECT_EQ(under_the_guard(dropped->circuit(), [&] { dropped.reset(); }), returned) << "~Talvo";
  // Refused before anything changed: the model answers as ever.
  EXPECT_FALSE(runtime.circuit()->is_poisoned());
  EXPECT_EQ(manager.categorical_layouts().count("/spare"), 0u);
  WetModel(runtime).expect_answers();
}

TEST(TimedWriters, RefuseWhatTheWriterOfTheirChannelRefusesAndTheModelStillAnswers) {
  auto runtime = WetModel::compile();
  const WetModel model(runtime);
  Manager<LogProb>& manager = runtime.manager();
  const double inf = std::numeric_limits<double>::infinity();
  // The categories hold no distribution to start from before they were first written.
  const std::string sky_channel_refusal = "cannot write to the channel '/sky': ";
  const Result<SharedVector> unwritten = manager.make_timed_writer("/sky", 1000.0);
  ASSERT_FALSE(unwritten.has_value());
  EXPECT_EQ(unwritten.error().message(),
            "no timed writer starts on the channel '/sky' from what its leaves hold before it is "
            "first written: " +
                sky_channel_refusal + "slot 0: the categories sum to 0, not 1");

  const Result<SharedVector> rain = manager.make_timed_writer("/rain", 1000.0);
  ASSERT_TRUE(rain.has_value());
  const std::string rain_refusal = "cannot write to the channel '/rain': ";
  expect_refused({
      {[&] {
         return rain->set(Value{1.5, 0.5});
       },
       rain_refusal + "slot 0 is 1.5; a probability is a number in [0, 1]"},
      {[&] {
         return rain->set(Value{0.5, inf});
       },
       rain_refusal + "slot 1 is inf; a probability is a number in [0, 1]"},
      {[&] {
         return rain->set(Value{0.1, 0.2, 0.3});
       },
       rain_refusal +
           "a value of 3 entries cannot be held by a leaf of a circuit with value_size 2"},
  });
  ASSERT_TRUE(manager.stop_timed_writers());
  model.expect_answers();

  // Once written, the categories start a timed writer from their values.
  const Result<SharedVector> sky = manager.make_timed_writer("/sky", 1000.0);
  ASSERT_TRUE(sky.has_value());
  EXPECT_THAT(sky->get().to_vector(),
              ::testing::Pointwise(::testing::DoubleNear(1e-12), std::vector{1.0, 0.5, 0.0, 0.5}));
  expect_refused({{[&] {
                     return sky->set(Value{0.5, 0.5, 0.6, 0.5});
                   },
                   sky_channel_refusal + "slot 0: the categories sum to 1.1, not 1"}});
  // A slot within the tolerance is held scaled to sum to 1, as the categorical writer sends it.
  ASSERT_TRUE(sky->set(Value{0.5, 0.5, 0.5 + 9e-7, 0.5}));
  const std::vector<double> held = sky->get().to_vector();
  EXPECT_EQ(held[0] + held[2], 1.0);
  ASSERT_TRUE(manager.stop_timed_writers());
  model.expect_answers();
}

/// Stamps of sequences (first, 0, third) whose third step meets a singular residual covariance in
/// a leaf's estimator: the filter's numbers after the first two cancel, and the third interval
/// is found ulp by ulp near the roots of the residual covariance, as a hostile writer would.
std::vector<std::array<double, 3>> singular_sequences(std::size_t wanted) {
  namespace kalman = detail::kalman;
  std::vector<std::array<double, 3>> found;
  std::mt19937_64 rng(24);
  std::uniform_real_distribution<double> exponent(6.0, 16.0);
  for (int tried = 0; tried < 100000 && found.size() < wanted; ++tried) {
    const double first = std::round(std::pow(10.0, exponent(rng)) * 2.0) / (rng() % 2 ? 2.0 : -2.0);
    FoCEstimator estimator(0.0);
    estimator.update(first);
    estimator.update(0.0);
    const auto residual = [&](double dt) {
      const auto prior = kalman::predict(estimator.state, estimator.covariance,
                                         FoCEstimator::transition(dt), estimator.process_noise);
      return kalman::innovate(prior, dt, estimator.observation, estimator.measurement_noise)
          .covariance;
    };
    // S(dt) = P[0][0] + (P[0][1] + P[1][0]) dt + P[1][1] dt² + Q[0][0] + R.
    const auto& p = estimator.covariance;
    const double a = p[1][1];
    const double b = p[0][1] + p[1][0];
    const double c = p[0][0] + estimator.process_noise[0][0] + estimator.measurement_noise;
    const double discriminant = b * b - 4.0 * a * c;
    if (!(discriminant >= 0.0) || a == 0.0) continue;
    for (const double sign : {1.0, -1.0}) {
      double dt = (-b + sign * std::sqrt(discriminant)) / (2.0 * a);
      for (int k = 0; k < 64; ++k)
        dt = std::nextafter(dt, -std::numeric_limits<double>::infinity());
      for (int k = 0; k < 128;
           ++k, dt = std::nextafter(dt, std::numeric_limits<double>::infinity())) {
        if (residual(dt) != 0.0) continue;
        found.push_back({first, 0.0, dt});
        break;
      }
    }
  }
  return found;
}

TEST(TypedWriters, NoTimestampStopsTheModelAnswering) {
  std::vector<std::array<double, 3>> sequences = singular_sequences(30);
  ASSERT_GE(sequences.size(), 30u);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const double a : {1e300, nan, -2108798127603105.5})
    for (const double b : {0.0, -1e300, nan})
      for (const double c : {0.0031311, 1e300, nan}) sequences.push_back({a, b, c});
  // One source per sequence, all read by one conjunction.
  std::string text;
  std::string body;
  for (std::size_t i = 0; i < sequences.size(); ++i) {
    const std::string atom = "s" + std::to_string(i);
    text += atom + " <- source(\"/" + atom + "\", Probability).\n";
    body += (i == 0 ? "" : " and ") + atom;
  }
  text += "all if " + body + ".\nall -> target(\"/all\").\n";
  auto runtime = compile_ok<LogProb>(text);

  for (std::size_t i = 0; i < sequences.size(); ++i) {
    const ProbabilityWriter writer = runtime.probability_writer("s" + std::to_string(i)).value();
    // Each write is a change, so each stamp reaches the leaf's estimator.
    for (std::size_t k = 0; k < 3; ++k)
      ASSERT_TRUE(writer.write(Value{0.5 + 0.1 * static_cast<double>(k)}, sequences[i][k]));
    ASSERT_TRUE(writer.write(Value{0.999}));
  }
  const double expected = std::pow(0.999, static_cast<double>(sequences.size()));
  double all = 0.0;
  EXPECT_TRUE(testing::eventually([&] {
    all = runtime.circuit()->lock()->full_update().at("/all")[0];
    return std::abs(all - expected) < 1e-9;
  })) << "P(all) is "
      << all << ", not " << expected;
  for (const double frequency : runtime.manager().get_frequencies()) {
    EXPECT_TRUE(frequency == 0.0 || (frequency >= 0.01 && frequency <= 10000.0)) << frequency;
  }
}

TEST(TypedWriters, AWriterOfAReplacedChannelOutlivesNothingOfTheModel) {
  std::optional<Talvo<LogProb>> runtime = compile_ok<LogProb>(R"(
rain <- source("/rain", Probability).
wet if rain.
wet -> target("/wet").
)");
  const ProbabilityWriter old = runtime->probability_writer("rain").value();
  ASSERT_TRUE(runtime->manager().read(0, "/rain", false));
  const std::weak_ptr<PoisonMutex<ReactiveCircuit<LogProb>>> circuit = runtime->circuit();
  ASSERT_TRUE(old.write(Value{0.3}));  // the old reader takes it while the model lives
  runtime.reset();
  expect_refused({{[&] { return old.write(Value{0.4}); },
                   "cannot write to source 'rain': nothing reads its channel any more"}});
  EXPECT_TRUE(testing::eventually([&] { return circuit.expired(); }));
}

}  // namespace
}  // namespace talvo
