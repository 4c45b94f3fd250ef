// A recorded drive (the monitor's --log file) read back for --replay: each
// row turned into the register bytes that make the monitor show that row
// again.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ecusim {

// The registers of one recorded cycle, by address (0 to 21).
using RowRegisters = std::array<std::uint8_t, 22>;

struct ReplayRow {
    double seconds = 0;  // the row's "Time (s)"
    RowRegisters registers{};
    bool silent = false;  // no request of that cycle was answered
    std::uint16_t unanswered = 0;  // the readings (CycleReading bits) left unanswered
};

struct Recording {
    std::vector<ReplayRow> rows;  // never empty once read
    bool cat_mode = false;        // has the lambda columns
    // A last line without its line end (the recorder was killed while
    // writing it): left out. Its line number, 0 when there is none.
    std::size_t cut_short_line = 0;
};

// Reads a whole recording. On a file that is not one, false with *error
// set to "line N: <reason>".
bool ReadRecording(std::FILE* in, Recording* recording, std::string* error);

// The same from a path; *error also covers a file that cannot be opened.
bool LoadRecording(const std::string& path, Recording* recording, std::string* error);

}  // namespace ecusim
