// The identified system of the launcher, taken from the first bytes of a fuzz input, so that
// one input fixes which clauses can fit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/context.h"

// Bytes a facts header takes from the front of an input.
#define FACTS_SIZE 4

// Starts ctx afresh and sets its identified system and debug level from data[0..FACTS_SIZE);
// returns FACTS_SIZE. With fewer bytes leaves the unidentified state and returns 0.
//   byte 0: distribution (value % 5: not identified, RedHat, SuSE, NLD, Unknown);
//           bit 0x80 also turns the debug lines on
//   byte 1: release level 0-255      byte 2: update level 0-255
//   byte 3: processor class (value % 5: not identified, i386, x86_64, ppc64, Unknown)
size_t takeSystemFacts(LauncherContext* ctx, const uint8_t* data, size_t size);
