// Shared checks of the fault battery (reliability_*_test.cpp): what "left
// nothing broken" means, CPU use, the port's state, cycle order.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "dashboard_screens.h"
#include "harness.h"

namespace reliability {

using namespace std::chrono_literals;

// The state letter of /proc/PID/stat: 'T' stopped, 'S' asleep, 'R' running.
inline char ProcessState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return '?';
    return text[close + 2];
}

// The first child of a process (a shell's job); -1 when it has none.
inline pid_t ChildOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    long child = -1;
    if (!(in >> child)) return -1;
    return static_cast<pid_t>(child);
}

// The share of one core the process uses over `span` (it must keep running).
inline double CpuShareOver(pid_t pid, std::chrono::milliseconds span) {
    const double before = e2e::CpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(span);
    const double after = e2e::CpuSeconds(pid);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (before < 0 || after < 0) return -1;
    return (after - before) / wall;
}

// Nobody holds the port: it opens and takes the exclusive lock a monitor
// takes, at once.
inline bool PortFree(const std::string& port) {
    int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return locked;
}

// The port's line settings; with `mark`, first changed to ones no monitor
// would choose, so that whether they were put back shows.
inline termios PortSettings(const std::string& port, bool mark = false) {
    termios tio{};
    int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return tio;
    if (mark && tcgetattr(fd, &tio) == 0) {
        tio.c_cflag |= CSTOPB;
        cfsetspeed(&tio, B2400);
        tcsetattr(fd, TCSANOW, &tio);
    }
    tcgetattr(fd, &tio);
    close(fd);
    return tio;
}

// A second monitor started on `port` right now opens it.
inline ::testing::AssertionResult SecondMonitorOpens(const std::string& port) {
    e2e::Session second({.with_simulator = false, .command = {"{dialer}", port, "c"}});
    if (!second.ok()) return ::testing::AssertionFailure() << second.error();
    const bool opened = second.WaitUntil([&] {
        return second.Find("Successfully opened port!") || second.Find("Unable to open serial port");
    });
    const bool good = opened && second.Find("Successfully opened port!");
    const std::string screen = second.Dump();
    second.SendSignal(SIGTERM);
    second.WaitExit();
    if (!good) return ::testing::AssertionFailure() << "the second monitor could not open " << port << screen;
    return ::testing::AssertionSuccess();
}

inline const std::vector<std::uint8_t>& Cycle(bool cat) { return cat ? screens::kCatCycle : screens::kCycle; }

inline bool WaitForCycles(e2e::Session& s, std::size_t cycles, bool cat, e2e::Duration timeout = 10s) {
    return s.WaitForRequests(cycles * Cycle(cat).size(), timeout);
}

// Every request so far came in the cycle's order: none skipped, repeated or
// out of place.
inline ::testing::AssertionResult InCycleOrder(const std::vector<std::uint8_t>& requests, bool cat) {
    const auto& cycle = Cycle(cat);
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (requests[i] != cycle[i % cycle.size()])
            return ::testing::AssertionFailure() << "request " << i << " was 0x" << std::hex
                                                 << int(requests[i]) << ", not 0x" << int(cycle[i % cycle.size()]);
    return ::testing::AssertionSuccess();
}

// The screen holds exactly `places` (as screens::ExpectScreen checks), now.
inline bool ScreenIs(const e2e::Session& s, const std::vector<screens::Place>& places) {
    const screens::Grid want = screens::Layout(places, e2e::kRows, e2e::kColumns);
    const auto& chars = want.chars;
    const auto& colours = want.colours;
    for (int y = 2; y < e2e::kRows; ++y) {
        std::string got = s.Text(0, y, e2e::kColumns);
        if (y == 3) got[16] = ' ';
        if (screens::Masked(got, chars[y]) != chars[y]) return false;
        for (int x = 0; x < e2e::kColumns; ++x)
            if (colours[y][x] >= 0 && chars[y][x] != ' ' && s.Colour(x, y) != colours[y][x]) return false;
    }
    return true;
}

// Waits until the screen settles on `places`; on failure the mismatches.
inline void ExpectScreenSettlesOn(e2e::Session& s, const std::vector<screens::Place>& places,
                                  e2e::Duration timeout = 10s) {
    if (!s.WaitUntil([&] { return ScreenIs(s, places); }, timeout)) screens::ExpectScreen(s, places);
}

// The program ended by itself with `code`, and gave the terminal back.
inline void ExpectLeftClean(const e2e::Session& s, int code) {
    EXPECT_EQ(s.exit_signal(), 0) << "killed by a signal";
    EXPECT_EQ(s.exit_code(), code);
    EXPECT_TRUE(s.TerminalModeRestored()) << "terminal left without echo or line mode";
    if (!s.Output().empty()) {
        EXPECT_TRUE(s.SgrReset()) << "colours or cursor not given back";
        // The prompt comes at column 0 of a row below everything written.
        int col = -1, row = -1;
        s.Cursor(&col, &row);
        EXPECT_EQ(col, 0) << "the prompt would start mid-row" << s.Dump();
        for (int r = row; r < e2e::kRows; ++r) EXPECT_EQ(s.Row(r), "") << "the prompt would land in row " << r;
    }
}

// A new name for a recording in the test's own temporary folder.
inline std::string NewRecordingPath(const std::string& name) {
    const std::string path = ::testing::TempDir() + "td-" + std::to_string(getpid()) + "-" + name + ".csv";
    unlink(path.c_str());
    return path;
}

// The lines of a recording; `cut` gets the last line when it has no "\n"
// (a killed program's row cut short).
inline std::vector<std::string> RecordingLines(const std::string& path, std::string* cut = nullptr) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        lines.push_back(text.substr(from, nl - from));
    if (cut != nullptr) *cut = text.substr(from);
    return lines;
}

// A valid recording up to its last complete row: a header, then rows of as
// many cells as it has, each cell a number. Returns the rows, -1 if invalid.
inline int CompleteRows(const std::string& path) {
    const std::vector<std::string> lines = RecordingLines(path);
    if (lines.empty() || lines[0].rfind("Time (s),Revs (rpm),", 0) != 0) return -1;
    const auto cells = [](const std::string& line) { return std::count(line.begin(), line.end(), ',') + 1; };
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (cells(lines[i]) != cells(lines[0])) return -1;
        std::size_t from = 0;
        for (std::size_t end = 0; from <= lines[i].size(); from = end + 1) {
            end = std::min(lines[i].find(',', from), lines[i].size());
            const std::string cell = lines[i].substr(from, end - from);
            char* stop = nullptr;
            std::strtod(cell.c_str(), &stop);
            if (cell.empty() || *stop != '\0') return -1;
        }
    }
    return static_cast<int>(lines.size()) - 1;
}

}  // namespace reliability
