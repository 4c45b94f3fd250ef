// The monitor's start-up, end to end: the real program in a terminal, with
// the simulator on the port when one is opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/texts.h"
#include "harness.h"
#include "startup_screens.h"

namespace {

using namespace std::chrono_literals;
using namespace screens;
using Clock = std::chrono::steady_clock;

// A sleep of the start-up lasts 1200 ms; a wait that must not contain one
// is held to this, one that must contain one to kSleepSeen.
constexpr auto kNoSleep = 1000ms;
constexpr auto kSleepSeen = 1100ms;

long long Ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

void ExpectTerminalGivenBack(const e2e::Session& s) {
    EXPECT_TRUE(s.TerminalModeRestored()) << "terminal left in the program's mode";
    EXPECT_TRUE(s.SgrReset()) << "colours or cursor not given back";
}

TEST(StartUpE2e, HelpScreenWaitsForAKeyThenExitsWithOne) {
    e2e::Session s({.with_simulator = false});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForTextAt(0, 23, "Press a key to continue.")) << s.Dump();
    EXPECT_EQ(s.Row(0), "Lancia Delta Integrale Mk1 etc. Usage: tarnwickdialer [port#]");
    EXPECT_EQ(s.Colour(0, 0), 15);
    ExpectLines(s, kHelpScreen);
    EXPECT_EQ(s.Title(), kTitle);
    // Still waiting for its key.
    EXPECT_FALSE(s.WaitExit(300ms));

    s.SendKeys("~");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_EQ(s.exit_code(), 1);
    EXPECT_FALSE(s.Find("~")) << "the key was echoed" << s.Dump();
    ExpectTerminalGivenBack(s);
}

// The usage line names the program as it was started, cut after its last
// slash; the directories never show.
TEST(StartUpE2e, UsageLineNamesOnlyTheBaseName) {
    const struct {
        std::string argv0;
        std::string shown;
    } kCases[] = {
        {e2e::DialerPath(), "tarnwickdialer"},
        {"./build/../tarnwickdialer", "tarnwickdialer"},
        {"/opt/tools/My Dialer", "My Dialer"},
        {"Tarnwickdialer.exe", "Tarnwickdialer.exe"},
    };
    for (const auto& c : kCases) {
        e2e::Session s({.with_simulator = false, .argv0 = c.argv0});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(s.WaitForTextAt(0, 23, "Press a key to continue.")) << s.Dump();
        EXPECT_EQ(s.Row(0), "Lancia Delta Integrale Mk1 etc. Usage: " + c.shown + " [port#]") << c.argv0;
        EXPECT_EQ(s.Colour(0, 0), 15);
        s.SendKeys(" ");
        ASSERT_TRUE(s.WaitExit());
        EXPECT_EQ(s.exit_code(), 1);
    }
}

TEST(StartUpE2e, MoreThanTwoArgumentsShowTheHelpScreenAndOpenNothing) {
    e2e::Session s({.args = {"{port}", "c", "extra"}, .simulator = {"--scenario", "idle"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForTextAt(0, 23, "Press a key to continue.")) << s.Dump();
    EXPECT_EQ(s.Row(0), "Lancia Delta Integrale Mk1 etc. Usage: tarnwickdialer [port#]");
    ExpectLines(s, kHelpScreen);
    EXPECT_FALSE(s.Find("attempting")) << s.Dump();
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit());
    EXPECT_EQ(s.exit_code(), 1);
    EXPECT_EQ(s.PortOpens(), 0);
    EXPECT_TRUE(s.Requests().empty());
    ExpectTerminalGivenBack(s);
}

TEST(StartUpE2e, FailureScreenInCatModeEndsWithoutASleep) {
    e2e::Session s({.args = {"/dev/nonexistent", "c"}, .with_simulator = false});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForText("Unable to open serial port")) << s.Dump();
    const Clock::time_point failed = Clock::now();
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_LT(Ms(s.exit_time() - failed), Ms(kNoSleep));
    // Two arguments: no sleep before the open either.
    EXPECT_LT(Ms(s.exit_time() - s.start_time()), Ms(kNoSleep));
    EXPECT_EQ(s.exit_code(), 1);
    ExpectLines(s, {{0, kBanner, 15},
                    {1, kCatOpening.c_str(), 15},
                    {2, " attempting to open the port '/dev/nonexistent'", 15}});
    ExpectLines(s, kFailureScreen);
    ExpectLines(s, {{22, "/dev/nonexistent does not exist: is the adapter plugged in?", 12}});
    // Below the reason and the ports present.
    int col = -1, row = -1;
    s.Cursor(&col, &row);
    EXPECT_EQ(row, 24);
    EXPECT_EQ(col, 0);
    ExpectTerminalGivenBack(s);
}

TEST(StartUpE2e, FailureScreenWithOneArgumentSleepsOnlyBeforeTheOpen) {
    e2e::Session s({.args = {"/dev/nonexistent"}, .with_simulator = false});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForText("Unable to open serial port")) << s.Dump();
    const Clock::time_point failed = Clock::now();
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_LT(Ms(s.exit_time() - failed), Ms(kNoSleep));
    EXPECT_GE(Ms(s.exit_time() - s.start_time()), Ms(kSleepSeen));
    EXPECT_EQ(s.exit_code(), 1);
    ExpectLines(s, {{0, kBanner, 15},
                    {1, kPlainOpening.c_str(), 15},
                    {2, " attempting to open COMport '/dev/nonexistent'", 15}});
    ExpectLines(s, kFailureScreen);
    ExpectTerminalGivenBack(s);
}

// A path that is no terminal device is refused like a missing one, and
// nothing is written to it.
TEST(StartUpE2e, ARegularFileIsNotOpenedAsAPort) {
    char dir_template[] = "/tmp/td-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string file = std::string(dir_template) + "/port";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    {
        e2e::Session s({.args = {file, "c"}, .with_simulator = false});
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        EXPECT_EQ(s.exit_code(), 1);
        EXPECT_TRUE(s.Find("Unable to open serial port")) << s.Dump();
    }
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    std::remove(file.c_str());
    rmdir(dir_template);
}

// The argument must fit the 128-character line buffer with "com" and the
// terminator: 124 characters are taken, 125 refused before the screen is
// touched.
TEST(StartUpE2e, TooLongPortArgumentIsRefusedWithOneLine) {
    const struct {
        std::size_t length;
        bool refused;
    } kCases[] = {{124, false}, {125, true}, {4000, true}};
    for (const auto& c : kCases) {
        const std::string arg = "/" + std::string(c.length - 1, 'a');
        e2e::Session s({.args = {arg, "c"}, .with_simulator = false, .capture_stderr = true});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        EXPECT_EQ(s.exit_code(), 1) << c.length;
        if (c.refused) {
            const std::string err = s.Stderr();
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
            EXPECT_EQ(err.back(), '\n');
            EXPECT_NE(err.find(std::to_string(c.length)), std::string::npos) << err;
            EXPECT_NE(err.find("124"), std::string::npos) << err;
            EXPECT_EQ(s.Output(), "") << "the screen was touched";
        } else {
            EXPECT_EQ(s.Stderr(), "");
            EXPECT_TRUE(s.Find("Unable to open serial port")) << s.Dump();
        }
        ExpectTerminalGivenBack(s);
    }
}

// Any second argument means cat mode; the opening's texts stand until the
// dashboard's frame (if any) wipes them, 1200 ms after the open.
TEST(StartUpE2e, CatModeOpeningAgainstTheSimulator) {
    for (const char* second : {"c", "x"}) {
        e2e::Session s({.args = {"{port}", second}, .simulator = {"--scenario", "idle"}});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(s.WaitForText("attempting to open the port")) << s.Dump();
        const Clock::time_point attempting = Clock::now();
        ASSERT_TRUE(s.WaitForTextAt(0, 3, "Successfully opened port!")) << s.Dump();
        const Clock::time_point opened = Clock::now();
        EXPECT_LT(Ms(opened - attempting), Ms(kNoSleep)) << "no sleep before the open in cat mode";
        ExpectLines(s, {{0, kBanner, 15},
                        {1, kCatOpening.c_str(), 15},
                        {2, (" attempting to open the port '" + s.port() + "'").c_str(), 15},
                        {3, "Successfully opened port!", 15}});
        EXPECT_EQ(s.Text(0, 3, 35), "Successfully opened port!          ");
        EXPECT_EQ(s.PortOpens(), 1);

        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        EXPECT_EQ(s.exit_code(), 0);
        EXPECT_GE(Ms(s.exit_time() - opened), Ms(kSleepSeen)) << "the sleep after the open";
        ExpectTerminalGivenBack(s);
    }
}

TEST(StartUpE2e, PlainOpeningSleepsBeforeAndAfterTheOpen) {
    e2e::Session s({.args = {"{port}"}, .simulator = {"--scenario", "idle"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForText("attempting to open COMport")) << s.Dump();
    const Clock::time_point attempting = Clock::now();
    // Keys typed during the start-up are neither echoed nor lost.
    s.SendKeys("zz");
    ASSERT_TRUE(s.WaitForTextAt(0, 3, "Successfully opened port!")) << s.Dump();
    const Clock::time_point opened = Clock::now();
    EXPECT_GE(Ms(opened - attempting), Ms(kSleepSeen)) << "the sleep before the open";
    ExpectLines(s, {{0, kBanner, 15},
                    {1, kPlainOpening.c_str(), 15},
                    {2, (" attempting to open COMport '" + s.port() + "'").c_str(), 15},
                    {3, "Successfully opened port!", 15}});
    EXPECT_FALSE(s.Find("zz")) << s.Dump();

    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    EXPECT_GE(Ms(s.exit_time() - opened), Ms(kSleepSeen)) << "the sleep after the open";
    EXPECT_FALSE(s.Find("zz")) << s.Dump();
    ExpectTerminalGivenBack(s);
}

// Ended by a signal during the start-up: 128+N, the terminal given back.
TEST(StartUpE2e, SignalsDuringTheStartUpGiveTheTerminalBack) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        e2e::Session s({.args = {"{port}"}, .simulator = {"--scenario", "off"}});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(s.WaitForText("attempting to open COMport")) << s.Dump();
        s.SendSignal(sig);
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        EXPECT_EQ(s.exit_code(), 128 + sig) << "signal " << sig;
        ExpectTerminalGivenBack(s);
    }
}

// The simulator's own way to show the monitor: ecusim -- tarnwickdialer {port} c.
TEST(StartUpE2e, EcusimRunsTheMonitorOnItsPort) {
    e2e::Session s({.with_simulator = false,
                    .command = {"{ecusim}", "--scenario", "idle", "--", "{dialer}", "{port}", "c"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForText("attempting to open the port '/dev/pts/")) << s.Dump();
    ASSERT_TRUE(s.WaitForTextAt(0, 3, "Successfully opened port!")) << s.Dump();
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    ExpectTerminalGivenBack(s);

    e2e::Session failing({.with_simulator = false,
                          .command = {"{ecusim}", "--", "{dialer}", "/dev/nonexistent", "c"}});
    ASSERT_TRUE(failing.WaitExit()) << failing.Dump();
    EXPECT_TRUE(failing.Find("Unable to open serial port")) << failing.Dump();
    EXPECT_EQ(failing.exit_code(), 1);
}

}  // namespace
