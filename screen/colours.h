// Colour attributes in use (4 bits foreground on black): what a reading's
// or a status's colour means is decided in decode/, with no console at hand.
#pragma once
#include <cstdint>

enum : std::uint16_t {
    kColourLabel = 9,     // bright blue
    kColourNormal = 10,   // bright green
    kColourGuide = 11,    // bright cyan
    kColourAlarm = 12,    // bright red
    kColourWarning = 14,  // yellow
    kColourText = 15,     // bright white
};
