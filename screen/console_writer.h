// The one primitive that puts text on the screen: a colour, a place, a text.
#pragma once
#include <cstdint>

#include "platform/console.h"

// Colour attributes in use (4 bits foreground on black).
enum : std::uint16_t {
    kColourLabel = 9,     // bright blue
    kColourNormal = 10,   // bright green
    kColourGuide = 11,    // bright cyan
    kColourAlarm = 12,    // bright red
    kColourWarning = 14,  // yellow
    kColourText = 15,     // bright white
};

// Sets the colour, moves the cursor to (x, y) and writes text as data. The
// colour stays in force for whatever is written after.
void PrintColour(ConsoleHandle console, const char* text, std::int16_t x, std::int16_t y,
                 std::uint16_t colour);
