// Console primitives under the console writer. Win32 console calls on
// Windows; VT/ANSI sequences on a POSIX terminal (console_posix.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

using ConsoleHandle = void*;

// Opens the console's screen buffer. On POSIX this also takes ownership of
// the terminal: stdin goes to non-canonical no-echo mode until exit, and an
// idempotent restore is armed for every way the process can end.
ConsoleHandle console_open();

// Colour of all text written from now on: 4 bits foreground (1 blue,
// 2 green, 4 red, 8 bright), 4 bits background.
void console_set_attribute(ConsoleHandle console, std::uint16_t attribute);

// Without colour, what stands out is shown as a Windows console does it.
constexpr std::uint16_t kAttributeReverse = 0x4000;    // COMMON_LVB_REVERSE_VIDEO
constexpr std::uint16_t kAttributeUnderline = 0x8000;  // COMMON_LVB_UNDERSCORE
constexpr std::uint16_t kAttributePlain = 7;           // light grey on black

// A colour's stand-in on a console without colour: the alarm colour (bright
// red) in reverse video, the warning colour (yellow) underlined, any other
// plain. A reader who cannot tell red from green still sees the alarms.
constexpr std::uint16_t console_mono_attribute(std::uint16_t attribute) {
    switch (attribute & 0xFF) {
        case 12: return kAttributePlain | kAttributeReverse;
        case 14: return kAttributePlain | kAttributeUnderline;
        default: return kAttributePlain;
    }
}

// The next piece of `text` (its length) when a stand-in (reverse video,
// underline) is the pen: `*plain` when it is the blanks that end a line,
// padding that stays plain; the stand-in covers the rest.
inline std::size_t console_next_piece(const char* text, bool* plain) {
    std::size_t i = 0;
    for (;;) {
        std::size_t blanks = i;
        while (text[blanks] == ' ') ++blanks;
        const bool line_ends = text[blanks] == '\n' || text[blanks] == '\0';
        *plain = i == 0 && line_ends && blanks > 0;
        if (line_ends && blanks > i) return i == 0 ? blanks : i;
        if (text[blanks] == '\0') return blanks;
        i = blanks + 1;
    }
}

// Asks for no colour from console_open on (--mono). On POSIX the console
// also goes without colour when NO_COLOR is set and not empty.
void console_ask_mono();

// Cursor to column x, row y, both 0-based from the top-left.
void console_set_cursor(ConsoleHandle console, std::int16_t x, std::int16_t y);

// Writes text at the cursor as data (never as a format), unchanged, with
// nothing held back: it has reached the console when this returns.
void console_write(const char* text);

void console_set_title(const char* title);

// Clears the whole screen and homes the cursor.
void console_clear();

// The console's two screens: the dashboard, where the program starts and
// ends, and the history page. Each keeps its cells while the other shows.
enum ConsoleScreen : int { kScreenDashboard = 0, kScreenPage = 1 };

// The screen that attribute, cursor, write and clear go to from now on.
void console_select_screen(ConsoleScreen screen);

// Shows `screen`, complete, at once; what was written to it while the other
// showed included.
void console_show_screen(ConsoleScreen screen);

// Columns the terminal shows (80 when not known, and on Windows).
int console_columns();

// Whether the terminal's character set is UTF-8 (the locale's: LC_ALL,
// LC_CTYPE, LANG), so that block characters can be written.
bool console_utf8();

// Whether the console has a title bar that shows console_set_title (not so
// on the Linux console, TERM=linux).
bool console_title_shown();

// Sounds the bell once: BEL on a terminal, Beep on Windows. Never waits for
// the sound.
void console_bell();

// Restores the terminal (POSIX) and closes the handle, the cursor left at
// column 0 below everything written. Safe to call twice.
void console_close(ConsoleHandle console);

// Whether standard output is a terminal (a console window), rather than a
// file or a pipe. Asked before console_open.
bool console_output_is_terminal();

// Why the screens cannot be shown on this output (a terminal that cannot
// place the cursor), or null when they can. Asked before console_open.
const char* console_unusable_reason();
