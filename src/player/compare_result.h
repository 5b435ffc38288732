#pragma once

#include <cstdint>

// What the check of one scan's read-back found. Both players report it the same way, so the run
// loops and the tests treat SVF and XSVF alike.
enum class TCompareResult : uint8_t {
    Match,    // every cared bit as expected, or nothing to compare
    Mismatch, // a cared bit differs; the player has reported it
    Pending,  // the programmer has not delivered the read-back yet; ask again later
};
