#pragma once
// Restructuring of the reactive circuit: lifting and dropping leaves, and adaptation by change
// frequency.

#include "circuit/reactive.hpp"
