// Win32 console: attributes and cursor through the console API, text through
// standard output.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/serial_win32.h"

namespace {

// Each text is gathered here and flushed by console_write, so it reaches the
// console in one write. Unbuffered, the runtime would hand the console one
// call per character, each redrawn on its own.
char stdout_buffer[1024];

HANDLE console_out = INVALID_HANDLE_VALUE;
// The history page's screen buffer, made when first written; the calls go
// to it while it is selected.
HANDLE page_buffer = INVALID_HANDLE_VALUE;
bool page_selected = false;

// Where the calls go; with no page buffer (it could not be made) the page's
// calls go nowhere rather than onto the dashboard.
HANDLE target(ConsoleHandle console) { return page_selected ? page_buffer : console; }

// As large as the dashboard's buffer, so that the page clips the same way.
void make_page_buffer() {
    if (page_buffer != INVALID_HANDLE_VALUE || console_out == INVALID_HANDLE_VALUE) return;
    page_buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (page_buffer != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(console_out, &info))
        SetConsoleScreenBufferSize(page_buffer, info.dwSize);
}

DWORD WINAPI beep_thread(LPVOID) {
    Beep(880, 150);
    return 0;
}

// No colour: decided once, before the console is opened.
bool mono = false;

// Held around every console call. The control handler takes it and never
// gives it back: nothing the main thread writes can land after its cursor move.
SRWLOCK console_lock = SRWLOCK_INIT;

struct ConsoleLock {
    ConsoleLock() { AcquireSRWLockExclusive(&console_lock); }
    ~ConsoleLock() { ReleaseSRWLockExclusive(&console_lock); }
};

// Ctrl-C, Ctrl-Break and closing the window end the program like q: the port
// closed, the cursor below the screen in white, so the prompt comes after it.
// Windows calls this on a thread of its own.
BOOL WINAPI on_control(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    AcquireSRWLockExclusive(&console_lock);
    win32_port_release_from_handler();
    file_release_from_exit_path();
    if (console_out != INVALID_HANDLE_VALUE) {
        SetConsoleActiveScreenBuffer(console_out);
        // As q leaves it: line feeds written from row 22, not a bare cursor
        // move, which a console host drawing on a terminal (Wine's) may not
        // show before the process is gone.
        SetConsoleTextAttribute(console_out, mono ? kAttributePlain : 15);
        COORD below = {0, 22};
        SetConsoleCursorPosition(console_out, below);
        DWORD written = 0;
        WriteConsoleA(console_out, "\n\n\n", 3, &written, nullptr);
    }
    ExitProcess(STATUS_CONTROL_C_EXIT);
    return TRUE;
}

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
    console_out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    SetConsoleCtrlHandler(on_control, TRUE);
    return console_out;
}

void console_ask_mono() { mono = true; }

// The attribute texts are written in now, and where (for console_write).
std::uint16_t pen = 15;
ConsoleHandle pen_console = nullptr;

void console_set_attribute(ConsoleHandle console, std::uint16_t attribute) {
    ConsoleLock lock;
    pen = mono ? console_mono_attribute(attribute) : attribute;
    pen_console = console;
    SetConsoleTextAttribute(target(console), pen);
}

void console_set_cursor(ConsoleHandle console, std::int16_t x, std::int16_t y) {
    ConsoleLock lock;
    COORD pos;
    pos.X = x;
    pos.Y = y;
    SetConsoleCursorPosition(target(console), pos);
}

namespace {
// `n` bytes of text where the calls go now: the page's buffer, or standard
// output flushed at once (the text must be on the console before the next
// cursor move or attribute change).
void put(const char* text, std::size_t n) {
    DWORD written = 0;
    if (page_selected) {
        if (page_buffer != INVALID_HANDLE_VALUE)
            WriteConsoleA(page_buffer, text, static_cast<DWORD>(n), &written, nullptr);
        return;
    }
    // Once there is a page, standard output may be the active screen buffer
    // (Wine's console is): the dashboard's text goes to its own buffer by name.
    if (page_buffer != INVALID_HANDLE_VALUE && console_out != INVALID_HANDLE_VALUE) {
        WriteConsoleA(console_out, text, static_cast<DWORD>(n), &written, nullptr);
        return;
    }
    std::printf("%.*s", static_cast<int>(n), text);
    std::fflush(stdout);
}
}  // namespace

void console_write(const char* text) {
    ConsoleLock lock;
    if (mono && pen != kAttributePlain) {
        // Without colour a stand-in covers the text, not the blanks padding it.
        for (const char* p = text; *p != '\0';) {
            bool plain = false;
            const std::size_t n = console_next_piece(p, &plain);
            SetConsoleTextAttribute(target(pen_console), plain ? kAttributePlain : pen);
            put(p, n);
            p += n;
        }
        SetConsoleTextAttribute(target(pen_console), pen);
        return;
    }
    put(text, std::strlen(text));
}

void console_set_title(const char* title) {
    ConsoleLock lock;
    SetConsoleTitleA(title);
}

void console_clear() {
    ConsoleLock lock;
    if (page_selected) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(page_buffer, &info)) return;
        const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
        const COORD home = {0, 0};
        DWORD done = 0;
        FillConsoleOutputCharacterA(page_buffer, ' ', cells, home, &done);
        FillConsoleOutputAttribute(page_buffer, info.wAttributes, cells, home, &done);
        SetConsoleCursorPosition(page_buffer, home);
        return;
    }
    std::system("cls");
}

void console_select_screen(ConsoleScreen screen) {
    ConsoleLock lock;
    if (screen == kScreenPage) make_page_buffer();
    page_selected = screen == kScreenPage;
}

void console_show_screen(ConsoleScreen screen) {
    ConsoleLock lock;
    if (screen == kScreenPage) make_page_buffer();
    HANDLE shown = screen == kScreenPage ? page_buffer : console_out;
    if (shown != INVALID_HANDLE_VALUE) SetConsoleActiveScreenBuffer(shown);
}

int console_columns() { return 80; }

// The console's code page is not UTF-8 by default: plain ASCII.
bool console_utf8() { return false; }

bool console_title_shown() { return true; }

// Some console hosts drop a BEL written to the console; Beep blocks for the
// length of the tone, so it sounds on a thread of its own.
void console_bell() {
    HANDLE thread = CreateThread(nullptr, 0, beep_thread, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

void console_close(ConsoleHandle console) {
    ConsoleLock lock;
    if (page_buffer != INVALID_HANDLE_VALUE) {
        if (console_out != INVALID_HANDLE_VALUE) SetConsoleActiveScreenBuffer(console_out);
        CloseHandle(page_buffer);
        page_buffer = INVALID_HANDLE_VALUE;
        page_selected = false;
    }
    if (console == console_out) console_out = INVALID_HANDLE_VALUE;
    if (console != nullptr && console != INVALID_HANDLE_VALUE) CloseHandle(console);
}

bool console_output_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

const char* console_unusable_reason() { return nullptr; }
