// The test library itself, against plain shell commands: what every other
// end-to-end test reads back must be what the terminal shows.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

// Every SGR foreground code the console writer can send, and the console
// attribute it stands for (1 blue, 2 green, 4 red, 8 bright).
TEST(Harness, ColourReadsBackAsTheConsoleAttribute) {
    const struct {
        int sgr;
        int attribute;
    } kColours[] = {{30, 0}, {31, 4},  {32, 2},  {33, 6},  {34, 1},  {35, 5},  {36, 3},  {37, 7},
                    {90, 8}, {91, 12}, {92, 10}, {93, 14}, {94, 9},  {95, 13}, {96, 11}, {97, 15}};
    std::string script;
    for (const auto& c : kColours) script += "\033[" + std::to_string(c.sgr) + ";40mX";
    script += "\033[0mD";
    e2e::Session s({.with_simulator = false, .command = {"printf", script}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitExit());
    int col = 0;
    for (const auto& c : kColours) {
        EXPECT_EQ(s.Colour(col, 0), c.attribute) << "SGR " << c.sgr;
        EXPECT_EQ(s.Background(col, 0), 0) << "SGR " << c.sgr;
        ++col;
    }
    EXPECT_EQ(s.Colour(col, 0), -1);  // after SGR 0: the terminal's own colour
    EXPECT_EQ(s.Text(0, 0, col + 1), std::string(col, 'X') + "D");
}

TEST(Harness, PlacesTextByCursorPositionAndReadsTheTitle) {
    e2e::Session s(
        {.with_simulator = false, .command = {"printf", "\033]0;A title\007\033[6;41Hhere\033[30;1Hlast"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitExit());
    EXPECT_EQ(s.Text(40, 5, 4), "here");
    EXPECT_EQ(s.Row(29), "last");
    EXPECT_EQ(s.Row(0), "");
    EXPECT_EQ(s.Title(), "A title");
    int col = -1, row = -1;
    ASSERT_TRUE(s.Find("here", &col, &row));
    EXPECT_EQ(col, 40);
    EXPECT_EQ(row, 5);
}

TEST(Harness, ExitCodesSignalsAndTerminalState) {
    {
        e2e::Session s({.with_simulator = false, .command = {"sh", "-c", "exit 7"}});
        ASSERT_TRUE(s.WaitExit());
        EXPECT_EQ(s.exit_code(), 7);
        EXPECT_EQ(s.exit_signal(), 0);
        EXPECT_TRUE(s.TerminalModeRestored());
    }
    {
        // A program that leaves the terminal raw and coloured is caught.
        e2e::Session s({.with_simulator = false,
                        .command = {"sh", "-c", "stty raw -echo; printf '\\033[91mred'; echo ready; exec sleep 30"}});
        ASSERT_TRUE(s.WaitForText("ready")) << s.Dump();
        s.SendSignal(SIGKILL);
        ASSERT_TRUE(s.WaitExit());
        EXPECT_EQ(s.exit_code(), -1);
        EXPECT_EQ(s.exit_signal(), SIGKILL);
        EXPECT_FALSE(s.TerminalModeRestored());
        EXPECT_FALSE(s.SgrReset());
    }
}

TEST(Harness, KeysReachTheProgramAndStderrCanBeCaptured) {
    e2e::Session s({.with_simulator = false,
                    .command = {"sh", "-c", "read line; echo \"got $line\"; echo oops >&2; exit 3"},
                    .capture_stderr = true});
    ASSERT_TRUE(s.ok()) << s.error();
    s.SendKeys("abc\n");
    ASSERT_TRUE(s.WaitExit());
    EXPECT_TRUE(s.Find("got abc")) << s.Dump();
    EXPECT_EQ(s.Stderr(), "oops\n");
    EXPECT_FALSE(s.Find("oops"));
    EXPECT_EQ(s.exit_code(), 3);
}

TEST(Harness, SimulatorPortAnswersAndLogsRequests) {
    // The shell plays the monitor: raw line, request 10, read echo and value.
    e2e::Session s({.simulator = {"--scenario", "off", "--set", "10=0xC8"},
                    .command = {"sh", "-c",
                                "exec 3<>{port}; stty raw -echo <&3; printf '\\012' >&3; "
                                "od -An -tx1 -N2 <&3"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    EXPECT_TRUE(s.Find("0a c8")) << s.Dump();
    ASSERT_EQ(s.RequestedAddresses(), std::vector<std::uint8_t>{0x0A});
    EXPECT_EQ(s.Requests()[0].answer, (std::vector<std::uint8_t>{0x0A, 0xC8}));
    EXPECT_GE(s.PortOpens(), 1);
}

TEST(Harness, SimulatorCanBeChangedWhileTheProgramRuns) {
    // Three requests of register 10, one answer each, with a change before
    // the second and the third.
    e2e::Session s({.simulator = {"--scenario", "off", "--set", "10=0xC8"},
                    .command = {"sh", "-c",
                                "exec 3<>{port}; stty raw -echo <&3; for i in 1 2 3; do read go; "
                                "printf '\\012' >&3; od -An -tx1 -N2 <&3; done"}});
    ASSERT_TRUE(s.ok()) << s.error();
    s.SendKeys("\n");
    ASSERT_TRUE(s.WaitForRequests(1)) << s.Dump();
    s.SetRegister(10, 0x11);
    s.SendKeys("\n");
    ASSERT_TRUE(s.WaitForRequests(2)) << s.Dump();
    ASSERT_TRUE(s.SetScenario("echo"));
    EXPECT_FALSE(s.SetScenario("nope"));
    s.SendKeys("\n");
    ASSERT_TRUE(s.WaitForRequests(3)) << s.Dump();
    const auto requests = s.Requests();
    EXPECT_EQ(requests[0].answer, (std::vector<std::uint8_t>{0x0A, 0xC8}));
    EXPECT_EQ(requests[1].answer, (std::vector<std::uint8_t>{0x0A, 0x11}));
    EXPECT_EQ(requests[2].answer, (std::vector<std::uint8_t>{0x0A}));
}

TEST(Harness, BadSimulatorOptionsAreReported) {
    e2e::Session s({.simulator = {"--scenario", "nope"}});
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.error().find("nope"), std::string::npos) << s.error();
}

}  // namespace
