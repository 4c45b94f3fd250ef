// The one primitive that puts text on the screen: a colour, a place, a text.
#pragma once
#include <cstdint>

#include "platform/console.h"
#include "screen/colours.h"

// Sets the colour, moves the cursor to (x, y) and writes text as data. The
// colour stays in force for whatever is written after.
void PrintColour(ConsoleHandle console, const char* text, std::int16_t x, std::int16_t y,
                 std::uint16_t colour);
