// The history page in use: a wiggled harness's faults counted and rung for,
// reset, the tone switched off, the dashboard back complete; then the drive
// replayed with one row partly answered gives the same peaks.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "reliability.h"

namespace {

using namespace std::chrono_literals;
using namespace reliability;

// Bells written, the titles' BEL terminators left out.
int Bells(const std::string& out) {
    int bells = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out.compare(i, 2, "\x1b]") == 0) i = out.find('\a', i);
        else if (out[i] == '\a') ++bells;
        if (i == std::string::npos) break;
    }
    return bells;
}

// The fault memory's appearances, summed over its rows.
int Times(const e2e::Session& s) {
    int sum = 0;
    for (int row = 16; row < 23; ++row) sum += std::atoi(s.Text(35, row, 6).c_str());
    return sum;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    return cells;
}

TEST(History, WiggleCountedRungResetAndReplayed) {
    const std::string recording = NewRecordingPath("wiggle");
    e2e::Session s({.args = {"{port}", "c", "--beep", "--log", recording},
                    .simulator = {"--scenario", "wiggle"},
                    .env = {"TERM=linux", "LANG=C.UTF-8"}});
    ASSERT_TRUE(s.ok()) << s.error();
    // No title bar: row 20 says what the title says.
    ASSERT_TRUE(s.WaitUntil([&] { return s.Row(20).find("tone on") != std::string::npos; })) << s.Dump();

    s.SendKeys("h");
    ASSERT_TRUE(s.WaitForTextAt(0, 15, "Fault memory")) << s.Dump();
    EXPECT_NE(s.Row(1).find("tone on"), std::string::npos) << s.Dump();
    // Counted from a moment without a fault, every appearance rings once.
    s.SetScenario("idle");
    ASSERT_TRUE(WaitForCycles(s, s.RequestedAddresses().size() / Cycle(true).size() + 2, true)) << s.Dump();
    s.SendKeys("r");
    ASSERT_TRUE(s.WaitForText("No sensor fault seen since")) << s.Dump();
    const int before = Bells(s.Output());
    s.SetScenario("wiggle");
    ASSERT_TRUE(s.WaitUntil([&] { return Times(s) >= 3 && Bells(s.Output()) - before == Times(s); }, 30s))
        << Bells(s.Output()) - before << " bells\n" << s.Dump();
    EXPECT_EQ(s.Text(21, 16, 12), "Open circuit") << s.Dump();

    s.SendKeys("b");
    ASSERT_TRUE(s.WaitUntil([&] { return s.Row(1).find("tone on") == std::string::npos; })) << s.Dump();
    const int silent_from = Bells(s.Output()), times = Times(s);
    ASSERT_TRUE(s.WaitUntil([&] { return Times(s) >= times + 2; }, 30s)) << s.Dump();
    EXPECT_EQ(Bells(s.Output()), silent_from);

    // The dashboard comes back whole at once, not a cycle later.
    const auto asked = std::chrono::steady_clock::now();
    s.SendKeys("\t");
    ASSERT_TRUE(s.WaitUntil([&] {
        return s.Text(0, 3, 15) == "Hit 'q' to quit" && s.Text(0, 5, 5) == "Revs:" &&
               s.Text(0, 13, 15) == "Air temp sensor" && s.Text(40, 14, 20) == "Throttle posn sensor" &&
               s.Text(0, 23, 20) == "ALWAYS FREE DOWNLOAD" && s.Text(31, 19, 5) == "State";
    })) << s.Dump();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    ExpectLeftClean(s, 0);

    // The row with the lowest battery marked unanswered (bit 7) and played
    // back: the replay leaves the battery unanswered there, and the lowest
    // battery is the next lowest answered one, never 0.00.
    std::vector<std::string> lines = RecordingLines(recording);
    ASSERT_GE(lines.size(), 4u);
    constexpr std::size_t kBattery = 8;
    std::size_t lowest = 1;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i)
        if (std::stod(Cells(lines[i])[kBattery]) < std::stod(Cells(lines[lowest])[kBattery])) lowest = i;
    double next = 99;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (i != lowest) next = std::min(next, std::stod(Cells(lines[i])[kBattery]));
    std::vector<std::string> cells = Cells(lines[lowest]);
    cells[kBattery] = "0.0000";
    cells.back() = "128";
    lines[lowest].clear();
    for (const std::string& c : cells) lines[lowest] += (lines[lowest].empty() ? "" : ",") + c;
    const std::string partly = NewRecordingPath("wiggle-partly");
    std::ofstream(partly) << [&] {
        std::string text;
        for (const std::string& l : lines) text += l + "\n";
        return text;
    }();

    e2e::Session replay({.args = {"{port}", "c"}, .simulator = {"--replay", partly, "--speed", "1000", "--step"}});
    ASSERT_TRUE(replay.ok()) << replay.error();
    ASSERT_TRUE(WaitForCycles(replay, lines.size() + 1, true, 60s)) << replay.Dump();
    replay.SendKeys("h");
    char want[16];
    std::snprintf(want, sizeof want, "%7.2f", next);
    ASSERT_TRUE(replay.WaitForTextAt(0, 10, "Battery")) << replay.Dump();
    EXPECT_EQ(replay.Text(19, 10, 7), want) << replay.Dump();
    EXPECT_NE(replay.Row(23).find(", 1 partly,"), std::string::npos) << replay.Dump();
    replay.SendKeys("q");
    ASSERT_TRUE(replay.WaitExit()) << replay.Dump();
}

}  // namespace
