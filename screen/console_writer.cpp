#include "screen/console_writer.h"

void PrintColour(ConsoleHandle console, const char* text, std::int16_t x, std::int16_t y,
                 std::uint16_t colour) {
    console_set_attribute(console, colour);
    console_set_cursor(console, x, y);
    console_write(text);
}
