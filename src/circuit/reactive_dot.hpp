#pragma once
// DOT text of the reactive circuit.

#include "circuit/reactive.hpp"
