// Fake platform for unit tests: a scripted ECU behind the serial calls, a
// console that records into the real cell grid, a key queue and a
// virtual clock. Linked in place of the real platform layer.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/console_grid.h"
#include "platform/file.h"
#include "platform/serial.h"

namespace fake {

// Everything the program did to the platform, in order: "purge", "write 0x15",
// "sleep 10", "read", "open com5", "close", "print 40,5,12 <text>", ...
extern std::vector<std::string> events;

// Virtual time in milliseconds, advanced by sleeps and read time-outs.
extern std::uint64_t clock_ms;

struct Port {
    std::set<std::string> present;  // device names that open
    PortOpenError open_error{};     // what a name not present fails with
    // Bytes that will come back for the next reads; nullopt = time-out.
    std::deque<std::optional<std::uint8_t>> reads;
    // When set, each written request replaces the pending answer with this.
    std::function<std::vector<std::optional<std::uint8_t>>(std::uint8_t)> ecu;
    bool configured = false;
    bool open = false;
    bool vanished = false;          // port_vanished() says so while open
    std::vector<PortEntry> listed;  // what port_list finds
    LineSpeedReport speed{};        // what port_line_speed reads back
    int latency_ms = -1;            // what port_latency_timer_ms reads
};
extern Port port;

// The console is the POSIX console's own cell grid: text lands where a
// Windows console buffer puts it.
constexpr int kCols = kGridColumns;
constexpr int kRows = kGridRows;
struct Console {
    ConsoleGrid grid;  // blank cells of colour 0, pen 7 after Reset()
    ConsoleGrid page;  // the history page's screen
    bool page_selected = false;  // the calls write to the page
    bool page_shown = false;
    int bells = 0;
    std::string title;
    int clears = 0;
    bool closed = false;
    // Text of `len` cells from (x, y), and the colour of the first cell.
    std::string text(int x, int y, int len) const;
    std::uint16_t colour(int x, int y) const { return grid.cells[y][x].attribute; }
};
extern Console console;

extern std::deque<int> keys;
// key_waiting() answers "no" this many more times before the queue shows.
extern int key_polls_before_keys;

// No key will come once the queue is empty: standard input has ended.
extern bool input_ended;

// The files the program made, by name; folders that exist; what a create
// fails with (kNone: it works); bytes the disk still takes; syncs made.
struct Files {
    std::map<std::string, std::string> contents;
    std::set<std::string> folders;
    FileError create_fails = FileError::kNone;
    std::size_t space = static_cast<std::size_t>(-1);
    int syncs = 0;
    bool open = false;
};
extern Files files;

// An ECU that answers every request with its echo and then `values[address]`.
std::function<std::vector<std::optional<std::uint8_t>>(std::uint8_t)> EchoEcu(
    std::vector<std::uint8_t> values);

// Clears every fake and the link's module state.
void Reset();

// Only the events whose text starts with `prefix`.
std::vector<std::string> EventsStartingWith(const std::string& prefix);

}  // namespace fake
