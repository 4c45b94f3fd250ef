// The live dashboard end to end: the real monitor in a terminal against the
// simulator, read back cell by cell with its colours.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "dashboard_screens.h"
#include "harness.h"

namespace {

using namespace std::chrono_literals;
using namespace screens;

bool WaitForCycles(e2e::Session& s, std::size_t cycles, bool cat, e2e::Duration timeout = 10s) {
    return s.WaitForRequests(cycles * (cat ? kCatCycle : kCycle).size(), timeout);
}

TEST(Dashboard, EveryPlaceAfterTheFirstCycle) {
    struct Case {
        const char* name;
        const std::vector<std::pair<int, int>>* registers;
        std::vector<Place> (*screen)(bool);
        bool cat;
    };
    // The stopped screen without cat mode is the unit tests' business.
    for (const Case& c : {Case{"running", &kRunning, RunningScreen, false},
                          Case{"running", &kRunning, RunningScreen, true},
                          Case{"stopped", &kStopped, StoppedScreen, true}}) {
        SCOPED_TRACE(std::string(c.name) + (c.cat ? " cat" : " no cat"));
        std::vector<std::string> args = {"{port}"};
        if (c.cat) args.push_back("c");
        e2e::Session s({.args = args, .simulator = SetAll(*c.registers)});
        ASSERT_TRUE(s.ok()) << s.error();
        // The second cycle's spinner: the first cycle has written everything.
        ASSERT_TRUE(s.WaitForTextAt(16, 3, "|")) << s.Dump();
        ExpectScreen(s, c.screen(c.cat));
        EXPECT_EQ(s.Colour(16, 3), kYellow);
        // The start-up's first two rows stay.
        EXPECT_EQ(s.Text(0, 0, 35), "Delta Integrale 8v, 16v & Evo1 ECUs");
        EXPECT_EQ(s.Text(0, 1, 14), c.cat ? "For support & " : "PayPal donatio");
        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit());
        EXPECT_EQ(s.exit_code(), 0);
    }
}

// NO_COLOR: the same screen in the terminal's own colours, alarms in
// reverse video, warnings underlined, and not one colour sequence sent.
TEST(Dashboard, NoColourShowsAlarmsReversedAndWarningsUnderlined) {
    e2e::Session s({.args = {"{port}", "c"}, .simulator = SetAll(kRunning), .env = {"NO_COLOR=1"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForTextAt(16, 3, "|")) << s.Dump();
    const Grid want = Layout(RunningScreen(true), e2e::kRows, e2e::kColumns);
    for (int y = 2; y < e2e::kRows; ++y) {
        std::string got = s.Text(0, y, e2e::kColumns);
        if (y == 3) got[16] = ' ';
        EXPECT_EQ(Masked(got, want.chars[y]), want.chars[y]) << "row " << y;
        for (int x = 0; x < e2e::kColumns; ++x)
            if (want.colours[y][x] >= 0 && want.chars[y][x] != ' ') {
                EXPECT_EQ(s.Colour(x, y), -1) << x << "," << y;
                EXPECT_EQ(s.Reverse(x, y), want.colours[y][x] == kRed) << x << "," << y;
                EXPECT_EQ(s.Underline(x, y), want.colours[y][x] == kYellow) << x << "," << y;
            }
        // The blanks padding a row's last text out stay plain.
        for (int x = static_cast<int>(s.Row(y).size()); x < e2e::kColumns; ++x)
            EXPECT_FALSE(s.Reverse(x, y) || s.Underline(x, y)) << x << "," << y;
    }
    EXPECT_EQ(s.Output().find(";40m"), std::string::npos) << "a colour was sent";  // each comes with black
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit());
}

TEST(Dashboard, SpinnerTurnsOneGlyphPerCycle) {
    e2e::Session s({.args = {"{port}", "c"}, .simulator = {"--scenario", "idle"}});
    ASSERT_TRUE(s.ok()) << s.error();
    for (const char* glyph : {"\\", "|", "/", "-", "\\", "|"}) {
        ASSERT_TRUE(s.WaitForTextAt(16, 3, glyph)) << glyph << "\n" << s.Dump();
        EXPECT_EQ(s.Colour(16, 3), kYellow);
        EXPECT_EQ(s.Text(0, 3, 16), "Hit 'q' to quit ");
    }
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit());
}

TEST(Dashboard, QuitKeysEndWithExitZeroAndARestoredTerminal) {
    struct Case {
        const char* key;
        bool cat;
    };
    // Ctrl-S before the q: no flow control may hold the way out until Ctrl-Q.
    for (Case c : {Case{"q", false}, Case{"Q", true}, Case{"\x13q", false}}) {
        const bool cat = c.cat;
        SCOPED_TRACE(std::string(c.key) + (cat ? " cat" : " no cat"));
        std::vector<std::string> args = {"{port}"};
        if (cat) args.push_back("c");
        e2e::Session s({.args = args, .simulator = {"--scenario", "idle"}});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(WaitForCycles(s, 1, cat)) << s.Dump();
        s.SendKeys(c.key);
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        EXPECT_EQ(s.exit_code(), 0);
        EXPECT_TRUE(s.TerminalModeRestored());
        EXPECT_TRUE(s.SgrReset());
        // Whole cycles only: the one under way finished before the quit.
        const auto requests = s.RequestedAddresses();
        const auto& cycle = cat ? kCatCycle : kCycle;
        EXPECT_EQ(requests.size() % cycle.size(), 0u) << requests.size();
        // The closing line breaks leave the cursor below the dashboard.
        int col = -1, row = -1;
        s.Cursor(&col, &row);
        EXPECT_EQ(col, 0);
        EXPECT_EQ(row, 25);
    }
}

TEST(Dashboard, OtherKeysDoNotQuitAndOnlyTheLastKeyCounts) {
    e2e::Session s({.args = {"{port}"}, .simulator = {"--scenario", "idle"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(WaitForCycles(s, 1, false)) << s.Dump();
    s.SendKeys("qx");
    const std::size_t seen = s.RequestedAddresses().size();
    ASSERT_TRUE(s.WaitForRequests(seen + 2 * kCycle.size())) << "stopped after q then x\n" << s.Dump();
    EXPECT_FALSE(s.exited());
    s.SendKeys("xQ");
    ASSERT_TRUE(s.WaitExit());
    EXPECT_EQ(s.exit_code(), 0);
}

TEST(Dashboard, RequestsOnTheWireCycleAfterCycle) {
    for (bool cat : {false, true}) {
        SCOPED_TRACE(cat ? "cat" : "no cat");
        std::vector<std::string> args = {"{port}"};
        if (cat) args.push_back("c");
        e2e::Session s({.args = args, .simulator = {"--scenario", "idle"}});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(WaitForCycles(s, 5, cat)) << s.Dump();
        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit());
        const auto& cycle = cat ? kCatCycle : kCycle;
        const auto requests = s.Requests();
        ASSERT_GE(requests.size(), 5 * cycle.size());
        ASSERT_EQ(requests.size() % cycle.size(), 0u);
        for (std::size_t i = 0; i < requests.size(); ++i)
            ASSERT_EQ(requests[i].address, cycle[i % cycle.size()]) << "request " << i;

        // Cycle period against an instantly answering ECU, for the record: the
        // floor is the 10 ms pause after each request.
        const std::size_t n = requests.size() / cycle.size();
        const double period =
            (requests[(n - 1) * cycle.size()].seconds - requests[0].seconds) / static_cast<double>(n - 1);
        std::printf("cycle period (%s, %zu requests): %.1f ms over %zu cycles, floor %.0f ms\n",
                    cat ? "cat" : "no cat", cycle.size(), period * 1000.0, n - 1, 10.0 * cycle.size());
        RecordProperty(cat ? "cycle_ms_cat" : "cycle_ms", std::to_string(period * 1000.0));
    }
}

// A silent ECU: every request waits out both read time-outs, so a cycle
// takes about 12 s. The q typed during it is acted on at its end, and the
// waiting is done asleep in the reads, not by spinning.
TEST(Dashboard, SilentEcuStillQuitsAfterTheCycleUnderWay) {
    e2e::Session s({.args = {"{port}"}, .simulator = {"--scenario", "silent"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForRequests(1)) << s.Dump();
    // Row 21 says so after the first silent exchange, not at the cycle's end.
    const std::string silent_start = "No answer from the ECU yet (";
    EXPECT_TRUE(s.WaitUntil([&] { return s.Text(0, 21, silent_start.size()) == silent_start; }, 1500ms)) << s.Dump();
    s.SendKeys("q");
    const double before = e2e::CpuSeconds(s.pid());
    ASSERT_TRUE(s.WaitForRequests(5)) << s.Dump();
    const double after = e2e::CpuSeconds(s.pid());
    ASSERT_GE(before, 0);
    // Four requests take about 2.8 s of waiting; a spinning loop would burn
    // most of that.
    EXPECT_LT(after - before, 0.5) << "CPU seconds " << (after - before);

    ASSERT_TRUE(s.WaitExit(30s)) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    EXPECT_TRUE(s.TerminalModeRestored());
    EXPECT_EQ(s.RequestedAddresses(), kCycle);
    // The silent cycle's readings went up before the quit.
    EXPECT_EQ(s.Text(40, 8, 20), "Battery:        0.00") << s.Dump();
    EXPECT_EQ(s.Colour(56, 8), kRed);
    EXPECT_EQ(s.Text(17, 22, 44), "Info only, uniram 1, 2, 3, S: 00, 00, 00, 00");
    EXPECT_EQ(s.Text(0, 21, silent_start.size()), silent_start);
    EXPECT_EQ(s.Colour(0, 21), kRed);
}

TEST(Dashboard, QuitDuringTheStartUpSleepRunsNoCycle) {
    e2e::Session s({.args = {"{port}", "c"}, .simulator = {"--scenario", "silent"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForText("Successfully opened port!")) << s.Dump();
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    EXPECT_TRUE(s.RequestedAddresses().empty());
    EXPECT_EQ(s.Text(0, 3, 15), "Hit 'q' to quit");
    EXPECT_EQ(s.Text(0, 17, 27), "You specified... cat fitted");
}

TEST(Dashboard, TerminatingSignalsRestoreTheTerminal) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        e2e::Session s({.args = {"{port}", "c"}, .simulator = {"--scenario", "idle"}});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(WaitForCycles(s, 1, true)) << s.Dump();
        s.SendSignal(sig);
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        EXPECT_EQ(s.exit_code(), 128 + sig);
        EXPECT_TRUE(s.TerminalModeRestored());
        EXPECT_TRUE(s.SgrReset());
    }
}

// A terminal smaller than the screen shows what fits where a full-size one
// has it, never scrolls, and says on its last row what it hides; after a
// resize the whole screen comes back, rows 0 and 1 and the black included.
// Ended there by Ctrl-C, the prompt comes on a fresh last row.
TEST(Dashboard, SmallAndResizedTerminals) {
    e2e::Session s({.args = {"{port}", "c"}, .simulator = SetAll(kRunning), .columns = 80, .rows = 24});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(WaitForCycles(s, 2, true)) << s.Dump();
    const Grid want = Layout(RunningScreen(true), e2e::kRows, e2e::kColumns);
    auto rows_fit = [&](int columns, int rows) {
        if (s.Text(0, 0, 35) != "Delta Integrale 8v, 16v & Evo1 ECUs") return false;
        if (s.Text(0, 1, 14) != "For support & ") return false;
        for (int y = 2; y < rows; ++y) {
            std::string got = s.Text(0, y, columns);
            if (y == 3) got[16] = ' ';
            const std::string row = want.chars[y].substr(0, static_cast<std::size_t>(columns));
            if (Masked(got, row) != row) return false;
            for (int x = 0; x < columns; ++x)
                if (want.colours[y][x] >= 0 && want.chars[y][x] != ' ' && s.Colour(x, y) != want.colours[y][x])
                    return false;
        }
        return true;
    };
    const char kNotice[] = "Terminal 80x24: make it at least 80x25 to see the whole screen";
    EXPECT_TRUE(rows_fit(80, 23)) << s.Dump();
    EXPECT_EQ(s.Row(23), kNotice);
    EXPECT_EQ(s.Colour(0, 23), kYellow);

    s.Resize(60, 20);
    ASSERT_TRUE(s.WaitForTextAt(0, 19, "Terminal 60x20: make it at least 80x25 to see the whole scre")) << s.Dump();
    EXPECT_TRUE(rows_fit(60, 19)) << s.Dump();

    s.Resize(e2e::kColumns, e2e::kRows);
    ASSERT_TRUE(s.WaitUntil([&] { return rows_fit(e2e::kColumns, e2e::kRows); })) << s.Dump();
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 80; ++x) ASSERT_EQ(s.Background(x, y), 0) << x << "," << y;

    s.Resize(80, 24);
    ASSERT_TRUE(s.WaitForTextAt(0, 23, kNotice)) << s.Dump();
    s.SendSignal(SIGINT);
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_EQ(s.exit_code(), 128 + SIGINT);
    int col = -1, row = -1;
    s.Cursor(&col, &row);
    EXPECT_EQ(col, 0);
    EXPECT_EQ(row, 23);
    EXPECT_EQ(s.Row(23), "");
}

}  // namespace
