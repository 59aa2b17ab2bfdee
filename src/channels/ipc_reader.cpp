#include "talvo/channels/ipc_reader.hpp"

#include <optional>
#include <utility>

#include "channels/spawn_thread.hpp"

namespace talvo {
namespace {

/// The loop of every reader. What it owns is released when it returns.
void serve(ValueReceiver receiver, std::move_only_function<void(ValueMessage)> handle) noexcept {
  try {
    while (std::optional<ValueMessage> message = receiver.recv()) handle(std::move(*message));
  } catch (...) {
    // A poisoned circuit or a failure inside an update ends the reader; the message in hand is
    // dropped.
  }
}

}  // namespace

IpcReader detail::start_reader_thread(std::string channel, ValueReceiver receiver,
                                      std::move_only_function<void(ValueMessage)> handle) {
  auto done = std::make_shared<std::latch>(1);
  std::thread thread = detail::spawn_thread(
      [receiver = std::move(receiver), handle = std::move(handle), done]() mutable noexcept {
        serve(std::move(receiver), std::move(handle));
        done->count_down();
      });
  return IpcReader{std::move(channel),
                   std::make_shared<ReaderThread>(std::move(thread), std::move(done))};
}

Value detail::one_minus(std::span<const double> v) {
  return Value::map(v, [](double x) { return 1.0 - x; });
}

#define TALVO_READER_INSTANTIATE(S)                                                                \
  template void detail::reader::handle_single<S>(PoisonMutex<ReactiveCircuit<S>>&, std::uint32_t,  \
                                                 bool, ValueMessage);                              \
  template void detail::reader::handle_dual<S>(PoisonMutex<ReactiveCircuit<S>>&, std::uint32_t,    \
                                               std::uint32_t, ValueMessage);                       \
  template void detail::reader::handle_categorical<S>(PoisonMutex<ReactiveCircuit<S>>&,            \
                                                      std::span<const std::uint32_t>, std::size_t, \
                                                      ValueMessage);                               \
  template IpcReader IpcReader::start<S>(std::string, ValueReceiver, SharedCircuit<S>,             \
                                         std::uint32_t, bool);                                     \
  template IpcReader IpcReader::start_dual<S>(std::string, ValueReceiver, SharedCircuit<S>,        \
                                              std::uint32_t, std::uint32_t);                       \
  template IpcReader IpcCategoricalReader::start<S>(                                               \
      std::string, ValueReceiver, std::vector<std::uint32_t>, SharedCircuit<S>, std::size_t);
TALVO_FOR_EACH_SEMIRING(TALVO_READER_INSTANTIATE)
#undef TALVO_READER_INSTANTIATE

}  // namespace talvo
