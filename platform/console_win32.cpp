// Win32 console: attributes and cursor through the console API, text through
// standard output.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Each text is gathered here and flushed by console_write, so it reaches the
// console in one write. Unbuffered, the runtime would hand the console one
// call per character, each redrawn on its own.
char stdout_buffer[1024];

// A console host may start reading the terminal behind it only when a program
// first looks at the input queue (Wine's does; until then keys are echoed by
// the terminal and never arrive). Looking once at start-up makes keys typed
// during the start-up pauses wait in the queue, unechoed, as on Windows,
// where this changes nothing.
void start_console_input() {
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    if (input == INVALID_HANDLE_VALUE) return;
    INPUT_RECORD record;
    DWORD count = 0;
    PeekConsoleInputA(input, &record, 1, &count);
    CloseHandle(input);
}

}  // namespace

ConsoleHandle console_open() {
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    start_console_input();
    return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_HIDDEN, nullptr);
}

void console_set_attribute(ConsoleHandle console, std::uint16_t attribute) {
    SetConsoleTextAttribute(console, attribute);
}

void console_set_cursor(ConsoleHandle console, std::int16_t x, std::int16_t y) {
    COORD pos;
    pos.X = x;
    pos.Y = y;
    SetConsoleCursorPosition(console, pos);
}

void console_write(const char* text) {
    // Flushed at once: the text must be on the console before the next
    // cursor move or attribute change.
    std::printf("%s", text);
    std::fflush(stdout);
}

void console_set_title(const char* title) { SetConsoleTitleA(title); }

void console_clear() { std::system("cls"); }

void console_close(ConsoleHandle console) {
    if (console != nullptr && console != INVALID_HANDLE_VALUE) CloseHandle(console);
}

bool console_take_resumed() { return false; }
