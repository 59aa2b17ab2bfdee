#pragma once
// The header a program includes to use talvo: compile a model, feed it through writers, and read
// its targets' probabilities as values arrive; or build a reactive circuit by hand.
//
// It stays light to compile. The heavier parts are opt-in headers beside it:
// talvo/channels/manager.hpp (a model's manager, with its reader threads and timed writers),
// talvo/channels/ipc_channel.hpp (the receiving end of channels), talvo/channels/ipc_reader.hpp,
// talvo/channels/timed_writer.hpp and talvo/channels/distribution.hpp.

#include "talvo/channels/ipc_sender.hpp"
#include "talvo/channels/ipc_writer.hpp"
#include "talvo/channels/writers.hpp"
#include "talvo/circuit/algebraic.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/clock.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/mutex.hpp"
#include "talvo/core/panic.hpp"
#include "talvo/core/value.hpp"
#include "talvo/language/concepts.hpp"
#include "talvo/language/talvo.hpp"
