#pragma once
// The one header a program includes to use talvo: compile a model, feed it through writers, and
// read its targets' probabilities as values arrive; or build a reactive circuit by hand.

#include "core/clock.hpp"
#include "core/error.hpp"
#include "core/graph.hpp"
#include "core/mutex.hpp"
#include "core/panic.hpp"
#include "core/value.hpp"

#include "circuit/algebraic.hpp"
#include "circuit/category.hpp"
#include "circuit/leaf.hpp"
#include "circuit/reactive.hpp"
#include "circuit/semiring.hpp"

#include "tracking/clustering.hpp"
#include "channels/distribution.hpp"
#include "tracking/estimator.hpp"
#include "channels/ipc_channel.hpp"
#include "channels/ipc_reader.hpp"
#include "channels/ipc_writer.hpp"
#include "channels/manager.hpp"
#include "channels/timed_writer.hpp"
#include "channels/writers.hpp"

#include "language/asp.hpp"
#include "language/concepts.hpp"
#include "language/dnf.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"
#include "language/talvo.hpp"
