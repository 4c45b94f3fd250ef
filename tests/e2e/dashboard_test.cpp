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

#include "harness.h"

namespace {

using namespace std::chrono_literals;

constexpr int kBlue = 9, kGreen = 10, kCyan = 11, kRed = 12, kYellow = 14;

// One cycle on the wire.
const std::vector<std::uint8_t> kCycle = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                          0x0A, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x15};
const std::vector<std::uint8_t> kCatCycle = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                             0x08, 0x09, 0x0A, 0x0C, 0x0D, 0x0E, 0x12,
                                             0x13, 0x14, 0x0F, 0x10, 0x11, 0x15};

std::vector<std::string> SetAll(const std::vector<std::pair<int, int>>& registers) {
    std::vector<std::string> opts = {"--scenario", "off"};
    for (auto [address, value] : registers) {
        opts.push_back("--set");
        opts.push_back(std::to_string(address) + "=" + std::to_string(value));
    }
    return opts;
}

// A running engine with four sensor faults, every register fixed.
const std::vector<std::pair<int, int>> kRunning = {
    {1, 0x3A}, {2, 0x98}, {3, 0x02}, {4, 0xEE}, {5, 40},   {6, 111},  {7, 100},
    {8, 38},   {9, 175},  {10, 199}, {12, 20},  {13, 0x06}, {14, 0x64}, {15, 0x5C},
    {16, 0x8A}, {17, 0x82}, {18, 0x1F}, {19, 0x40}, {20, 1}, {21, 0xAB}};
// A stopped engine: camshaft short, throttle open, mixture at its lean limit.
const std::vector<std::pair<int, int>> kStopped = {
    {1, 0},  {2, 0},  {3, 0},  {4, 0},    {5, 0},    {6, 0},    {7, 0},
    {8, 39}, {9, 0},  {10, 223}, {12, 0}, {13, 0},   {14, 0},   {15, 0xA3},
    {16, 0x0A}, {17, 0x01}, {18, 0}, {19, 0}, {20, 0}, {21, 0}};

struct Place {
    int x, y;
    std::string text;
    int colour;
};

const std::string kFooter =
    "ALWAYS FREE DOWNLOAD from https://tarnwickdialer.example/download\n"
    "No responsibility can be taken for anything related to how you use them";

std::vector<Place> Frame(bool cat) {
    std::vector<Place> p = {
        {0, 3, "Hit 'q' to quit", kYellow},         {0, 13, "Air temp sensor", kBlue},
        {40, 13, "Knock (pinking)", kBlue},         {0, 14, "Water temp sensor", kBlue},
        {0, 15, "MAP1 sensor", kBlue},              {40, 14, "Throttle posn sensor", kBlue},
        {0, 23, kFooter, kCyan},
    };
    if (cat) {
        p.push_back({0, 17, "You specified... cat fitted", kGreen});
        p.push_back({0, 18, "Mixture ratio limit", kBlue});
        p.push_back({0, 19, "Lambda sensor", kBlue});
        p.push_back({31, 18, "Lambda correction integrator", kBlue});
        p.push_back({31, 19, "State of lambda strategy FLGSMA", kBlue});
    }
    return p;
}

std::vector<Place> RunningScreen(bool cat) {
    std::vector<Place> p = Frame(cat);
    std::vector<Place> v = {
        {0, 5, "Revs:\t\t2000 rpm", kGreen},
        {40, 5, "Injectors:\t3.00 ms", kGreen},
        {0, 6, "Advance:\t10 degrees", kGreen},
        {40, 6, "MAP1,02/03:\t1010 milliBar", kGreen},
        {0, 7, "Air temp:\t36 degrees", kGreen},
        {40, 7, "Water temp:\t108 degrees", kYellow},
        {0, 8, "Throttle:\t33.51 degrees", kGreen},
        {40, 8, "Battery:\t12.50 volts", kYellow},
        {0, 9, "Inj. angle:\t270 degrees", kGreen},
        {40, 9, "VAE:\t\t0 percent", kGreen},
        {0, 12, "Cam & Crank sensors only valid when engine not running", kYellow},
        {17, 22, "Info only, uniram 1, 2, 3, S: 5c, 8a, 82, ab", kGreen},
        {21, 13, "Short circuit", kRed},
        {65, 13, "Pinking", kRed},
        {21, 14, "Open circuit", kRed},
        {21, 15, "Short circuit", kRed},
        {65, 14, "OK", kGreen},
    };
    p.insert(p.end(), v.begin(), v.end());
    if (cat) {
        p.push_back({63, 18, "1.00 %", kGreen});
        p.push_back({64, 19, "closed loop", kGreen});
        p.push_back({21, 18, "OK", kGreen});
        p.push_back({21, 19, "OK", kGreen});
    }
    return p;
}

std::vector<Place> StoppedScreen(bool cat) {
    std::vector<Place> p = Frame(cat);
    std::vector<Place> v = {
        {0, 5, "Revs:\t\t0 rpm", kRed},
        {40, 15, "Camshaft sensor", kBlue},
        {40, 16, "Crankshaft sensor", kBlue},
        {40, 5, "Injectors:\t0.00 ms", kRed},
        {0, 6, "Advance:\t0 degrees", kGreen},
        {40, 6, "MAP1,02/03:\t60 milliBar", kGreen},
        {0, 7, "Air temp:\t125 degrees", kGreen},
        {40, 7, "Water temp:\t105 degrees", kGreen},
        {0, 8, "Throttle:\t-1.41 degrees", kGreen},
        {40, 8, "Battery:\t14.00 volts", kYellow},
        {0, 9, "Inj. angle:\t720 degrees", kGreen},
        {40, 9, "VAE:\t\t-16 percent", kGreen},
        {0, 11,
         "Cam & Crank sensor faults can take up to 8 seconds to show.\n"
         "Reconnecting after disconnected will show as short circuit",
         kYellow},
        {17, 22, "Info only, uniram 1, 2, 3, S: a3, 0a, 01, 00", kGreen},
        {21, 13, "OK", kGreen},
        {65, 13, "OK", kGreen},
        {21, 14, "OK", kGreen},
        {21, 15, "OK", kGreen},
        {65, 14, "Open circuit", kRed},
        {65, 15, "Short circuit", kRed},
        {65, 16, "OK", kGreen},
    };
    p.insert(p.end(), v.begin(), v.end());
    if (cat) {
        p.push_back({63, 18, "0.00 %", kGreen});
        p.push_back({64, 19, "open loop", kYellow});
        p.push_back({21, 18, "Max lean", kRed});
        p.push_back({21, 19, "Faulty", kRed});
    }
    return p;
}

// Rows 2 to 29 hold exactly the places (tabs skip to the next multiple of 8),
// apart from the spinner's cell; every written character has its colour.
void ExpectScreen(const e2e::Session& s, const std::vector<Place>& places) {
    std::vector<std::string> chars(e2e::kRows, std::string(e2e::kColumns, ' '));
    std::vector<std::vector<int>> colours(e2e::kRows, std::vector<int>(e2e::kColumns, -1));
    for (const auto& p : places) {
        int x = p.x, y = p.y;
        for (char c : p.text) {
            if (c == '\n') {
                x = 0;
                ++y;
            } else if (c == '\t') {
                x = (x / 8 + 1) * 8;
            } else {
                chars[y][x] = c;
                colours[y][x] = p.colour;
                ++x;
            }
        }
    }
    for (int y = 2; y < e2e::kRows; ++y) {
        std::string got = s.Text(0, y, e2e::kColumns);
        if (y == 3) got[16] = ' ';
        EXPECT_EQ(got, chars[y]) << "row " << y << "\n" << s.Dump();
        for (int x = 0; x < e2e::kColumns; ++x)
            if (colours[y][x] >= 0 && chars[y][x] != ' ') {
                EXPECT_EQ(s.Colour(x, y), colours[y][x]) << "at " << x << "," << y;
            }
    }
}

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
    for (Case c : {Case{"q", false}, Case{"Q", true}}) {
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

// utime + stime of a process, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    std::string field;
    for (char ch : content.substr(close + 2)) {
        if (ch == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += ch;
        }
    }
    if (fields.size() < 13) return -1;
    return std::stol(fields[11]) + std::stol(fields[12]);
}

// A silent ECU: every request waits out both read time-outs, so a cycle
// takes about 12 s. The q typed during it is acted on at its end, and the
// waiting is done asleep in the reads, not by spinning.
TEST(Dashboard, SilentEcuStillQuitsAfterTheCycleUnderWay) {
    e2e::Session s({.args = {"{port}"}, .simulator = {"--scenario", "silent"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForRequests(1)) << s.Dump();
    s.SendKeys("q");
    const long before = CpuTicks(s.pid());
    ASSERT_TRUE(s.WaitForRequests(5)) << s.Dump();
    const long after = CpuTicks(s.pid());
    ASSERT_GE(before, 0);
    // Four requests take about 2.8 s of waiting; a spinning loop would burn
    // most of that.
    EXPECT_LT(after - before, sysconf(_SC_CLK_TCK) / 2) << "ticks " << (after - before);

    ASSERT_TRUE(s.WaitExit(30s)) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    EXPECT_TRUE(s.TerminalModeRestored());
    EXPECT_EQ(s.RequestedAddresses(), kCycle);
    // The silent cycle's readings went up before the quit.
    EXPECT_EQ(s.Text(40, 8, 20), "Battery:        0.00") << s.Dump();
    EXPECT_EQ(s.Colour(56, 8), kRed);
    EXPECT_EQ(s.Text(17, 22, 44), "Info only, uniram 1, 2, 3, S: 00, 00, 00, 00");
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

// After a stop and continue the screen may hold anything: the next cycle
// starts from a cleared screen and a fresh frame.
TEST(Dashboard, RedrawsAfterAStopAndContinue) {
    e2e::Session s({.args = {"{port}", "c"}, .simulator = SetAll(kRunning)});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(WaitForCycles(s, 1, true)) << s.Dump();
    s.SendSignal(SIGSTOP);
    s.SendSignal(SIGCONT);
    // The clear takes the start-up's rows too; the frame and values return.
    ASSERT_TRUE(s.WaitUntil([&] { return s.Row(0).empty(); })) << s.Dump();
    const std::size_t seen = s.RequestedAddresses().size();
    ASSERT_TRUE(s.WaitForRequests(seen + 2 * kCatCycle.size())) << s.Dump();
    ExpectScreen(s, RunningScreen(true));
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit());
    EXPECT_EQ(s.exit_code(), 0);
}

}  // namespace
