// Win32 console: attributes and cursor through the console API, text through
// standard output.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

ConsoleHandle console_open() {
    // Text must reach the console before the next cursor move.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
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
    std::printf("%s", text);
    std::fflush(stdout);
}

void console_set_title(const char* title) { SetConsoleTitleA(title); }

void console_clear() { std::system("cls"); }

void console_close(ConsoleHandle console) {
    if (console != nullptr && console != INVALID_HANDLE_VALUE) CloseHandle(console);
}

bool console_take_resumed() { return false; }
