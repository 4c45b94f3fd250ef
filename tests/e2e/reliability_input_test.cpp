// Fault battery, what the monitor is given: standard input that is not a
// terminal or has ended or is closed, and bad command lines. Each case gives
// its defined screen or message and exit code; none crashes, overruns (the
// test build runs under AddressSanitizer and UBSan) or busy-loops.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dashboard_screens.h"
#include "harness.h"
#include "reliability.h"

namespace {

using namespace std::chrono_literals;
using namespace reliability;
using screens::kRunning;
using screens::RunningScreen;
using screens::SetAll;

// ---- Standard input ----

enum class Stdin { kDevNull, kEndedPipe, kOpenPipe, kClosed };

struct StdinCase {
    const char* name;
    Stdin input;
};

void PrintTo(const StdinCase& c, std::ostream* out) { *out << c.name; }

class StandardInput : public ::testing::TestWithParam<StdinCase> {};

// stdin from /dev/null (not a terminal, at its end at once), from a pipe
// whose writer has gone (end of file), from a pipe kept open (not a
// terminal; a 'q' sent through it quits), or closed altogether. The monitor
// cycles without spinning, the terminal on stdout gets its colours back,
// and SIGTERM (or the q) ends it.
//
// With stdin closed the port must not become descriptor 0: the keyboard
// would then read the stray bytes the stray scenario leaves behind each
// answer as keys, and a stray 'q' would end the program.
TEST_P(StandardInput, NoBusyLoopAndACleanEnd) {
    const StdinCase& c = GetParam();
    int pipe_fds[2] = {-1, -1};
    std::string redirect;
    switch (c.input) {
        case Stdin::kDevNull:
            redirect = "</dev/null";
            break;
        case Stdin::kEndedPipe:
        case Stdin::kOpenPipe:
            ASSERT_EQ(pipe(pipe_fds), 0);
            fcntl(pipe_fds[1], F_SETFD, FD_CLOEXEC);  // only the read end goes to the monitor
            redirect = "<&" + std::to_string(pipe_fds[0]);
            break;
        case Stdin::kClosed:
            redirect = "<&-";
            break;
    }
    if (c.input == Stdin::kEndedPipe) {
        close(pipe_fds[1]);
        pipe_fds[1] = -1;
    }
    const std::vector<std::string> simulator =
        c.input == Stdin::kClosed ? std::vector<std::string>{"--scenario", "stray"} : SetAll(kRunning);
    e2e::Session s({.simulator = simulator,
                    .command = {"sh", "-c", "exec \"$0\" \"$1\" c " + redirect, "{dialer}", "{port}"}});
    if (pipe_fds[0] >= 0) close(pipe_fds[0]);
    ASSERT_TRUE(s.ok()) << s.error();

    ASSERT_TRUE(WaitForCycles(s, 2, true)) << s.Dump();
    // Cycling costs a few per cent of a core at most; a busy loop takes all of it.
    const double share = CpuShareOver(s.pid(), 1000ms);
    EXPECT_GE(share, 0);
    EXPECT_LT(share, 0.3) << "busy loop";
    EXPECT_FALSE(s.exited()) << s.Dump();
    if (c.input == Stdin::kClosed) {
        char link[256] = {};
        const std::string fd0 = "/proc/" + std::to_string(s.pid()) + "/fd/0";
        const ssize_t n = readlink(fd0.c_str(), link, sizeof link - 1);
        EXPECT_TRUE(n < 0 || std::string(link) != s.port()) << "the port took descriptor 0";
    } else {
        ExpectScreenSettlesOn(s, RunningScreen(true));
    }
    EXPECT_TRUE(InCycleOrder(s.RequestedAddresses(), true));

    if (c.input == Stdin::kOpenPipe) {
        ASSERT_EQ(write(pipe_fds[1], "q", 1), 1);
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        ExpectLeftClean(s, 0);
    } else {
        s.SendSignal(SIGTERM);
        ASSERT_TRUE(s.WaitExit()) << s.Dump();
        ExpectLeftClean(s, 128 + SIGTERM);
    }
    EXPECT_TRUE(PortFree(s.port()));
    if (pipe_fds[1] >= 0) close(pipe_fds[1]);
}

INSTANTIATE_TEST_SUITE_P(Battery, StandardInput,
                         ::testing::Values(StdinCase{"DevNull", Stdin::kDevNull},
                                           StdinCase{"EndedPipe", Stdin::kEndedPipe},
                                           StdinCase{"OpenPipe", Stdin::kOpenPipe},
                                           StdinCase{"Closed", Stdin::kClosed}),
                         [](const ::testing::TestParamInfo<StdinCase>& info) { return info.param.name; });

// ---- Command lines ----

enum class Outcome {
    kHelp,     // the help screen, a key, exit 1
    kHelpEnd,  // stdin at its end: the help screen, exit 1 at once
    kAskedHelp,  // the same, asked for: exit 0
    kList,     // the ports, plain lines without a terminal control, exit 0
    kUsage,    // --help into a pipe: the usage as plain text at once, exit 0
    kFailure,  // "Unable to open serial port", exit 1
    kRefused,  // one line on stderr, the screen untouched, exit 1
    kRuns,     // the port opens; q typed during the start-up ends it with 0
};

struct CommandLine {
    const char* name;
    std::vector<std::string> args;  // {file}: a regular file, {dir}: a directory
    Outcome outcome;
    std::vector<std::string> env{};
};

void PrintTo(const CommandLine& c, std::ostream* out) { *out << c.name; }

std::string LongPath(std::size_t length) { return "/" + std::string(length - 1, 'x'); }

class CommandLines : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLines, GiveTheirScreenOrMessageAndExitCode) {
    const CommandLine& c = GetParam();
    char dir[] = "/tmp/td-reliability-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/port";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    std::vector<std::string> args;
    for (std::string a : c.args) {
        if (a == "{file}") a = file;
        if (a == "{dir}") a = dir;
        args.push_back(a);
    }
    {
        e2e::Options options{.args = args, .simulator = SetAll(kRunning), .env = c.env, .capture_stderr = true};
        if (c.outcome == Outcome::kHelpEnd) options.command = {"sh", "-c", "exec \"$0\" </dev/null", "{dialer}"};
        if (c.outcome == Outcome::kUsage)
            options.command = {"sh", "-c", "{ \"$0\" --help; echo \"exit $?\"; } | cat", "{dialer}"};
        e2e::Session s(options);
        ASSERT_TRUE(s.ok()) << s.error();
        switch (c.outcome) {
            case Outcome::kHelp:
            case Outcome::kAskedHelp:
                ASSERT_TRUE(s.WaitForTextAt(0, 23, "Press a key to continue.")) << s.Dump();
                EXPECT_TRUE(s.Find("THIS WILL NOT 'DOUBLE-CLICK' FROM WINDOWS")) << s.Dump();
                s.SendKeys("x");
                ASSERT_TRUE(s.WaitExit()) << s.Dump();
                ExpectLeftClean(s, c.outcome == Outcome::kHelp ? 1 : 0);
                EXPECT_EQ(s.PortOpens(), 0);
                break;
            case Outcome::kUsage:
                ASSERT_TRUE(s.WaitExit(2s)) << s.Dump();
                EXPECT_NE(s.Output().find("Usage: tarnwickdialer PORT [c]"), std::string::npos) << s.Output();
                EXPECT_NE(s.Output().find("exit 0"), std::string::npos) << s.Output();
                [[fallthrough]];
            case Outcome::kList:
                ASSERT_TRUE(s.WaitExit()) << s.Dump();
                ExpectLeftClean(s, 0);
                EXPECT_EQ(s.Output().find('\x1b'), std::string::npos) << "the screen was touched";
                EXPECT_EQ(s.PortOpens(), 0);
                break;
            case Outcome::kHelpEnd:
                ASSERT_TRUE(s.WaitExit(2s)) << s.Dump();
                ExpectLeftClean(s, 1);
                EXPECT_EQ(s.Row(23), "Press a key to continue.") << s.Dump();
                break;
            case Outcome::kFailure:
                ASSERT_TRUE(s.WaitExit()) << s.Dump();
                ExpectLeftClean(s, 1);
                EXPECT_TRUE(s.Find("Unable to open serial port, check you have the correct port! Quitting."))
                    << s.Dump();
                // An argument's control characters never reach the terminal.
                for (const std::string& a : args) {
                    if (a.find('\x1b') != std::string::npos) {
                        EXPECT_EQ(s.Output().find(a), std::string::npos);
                    }
                }
                break;
            case Outcome::kRefused: {
                ASSERT_TRUE(s.WaitExit()) << s.Dump();
                ExpectLeftClean(s, 1);
                EXPECT_EQ(s.Output(), "") << "the screen was touched";
                const std::string err = s.Stderr();
                EXPECT_EQ(err.rfind("tarnwickdialer: ", 0), 0u) << err;
                EXPECT_EQ(err.find('\n'), err.size() - 1) << "more than one line: " << err;
                break;
            }
            case Outcome::kRuns:
                ASSERT_TRUE(s.WaitForText("Successfully opened port!", 5s)) << s.Dump();
                s.SendKeys("q");
                ASSERT_TRUE(s.WaitExit()) << s.Dump();
                ExpectLeftClean(s, 0);
                EXPECT_TRUE(s.RequestedAddresses().empty()) << "a cycle ran after the q";
                break;
        }
        EXPECT_EQ(s.Stderr().find("Sanitizer"), std::string::npos) << s.Stderr();
        EXPECT_EQ(s.Stderr().find("runtime error"), std::string::npos) << s.Stderr();
    }
    // Nothing was written into the regular file.
    struct stat st {};
    EXPECT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    std::remove(file.c_str());
    rmdir(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Battery, CommandLines,
    ::testing::Values(CommandLine{"None", {}, Outcome::kHelp},
                      CommandLine{"One", {"{port}"}, Outcome::kRuns},
                      CommandLine{"Two", {"{port}", "c"}, Outcome::kRuns},
                      CommandLine{"Three", {"{port}", "c", "x"}, Outcome::kHelp},
                      CommandLine{"NoneInputAtEnd", {}, Outcome::kHelpEnd},
                      CommandLine{"DumbTerminal", {"{port}", "c"}, Outcome::kRefused, {"TERM=dumb"}},
                      CommandLine{"EmptyPort", {""}, Outcome::kFailure},
                      CommandLine{"EmptyPortCat", {"", "c"}, Outcome::kFailure},
                      CommandLine{"EmptySecond", {"{port}", ""}, Outcome::kRuns},
                      CommandLine{"Port127", {LongPath(127), "c"}, Outcome::kRefused},
                      CommandLine{"Port128", {LongPath(128), "c"}, Outcome::kRefused},
                      CommandLine{"Port129", {LongPath(129), "c"}, Outcome::kRefused},
                      CommandLine{"Port4096", {LongPath(4096), "c"}, Outcome::kRefused},
                      CommandLine{"Second4096", {"{port}", std::string(4096, 'c')}, Outcome::kRuns},
                      CommandLine{"RegularFile", {"{file}", "c"}, Outcome::kFailure},
                      CommandLine{"NotATty", {"/dev/null", "c"}, Outcome::kFailure},
                      CommandLine{"Directory", {"{dir}", "c"}, Outcome::kFailure},
                      CommandLine{"NoSuchDevice", {"/dev/no-such-port", "c"}, Outcome::kFailure},
                      CommandLine{"OwnTerminal", {"/dev/tty", "c"}, Outcome::kFailure},
                      CommandLine{"EscapeInPort", {"/tmp/x\x1b[31mRED", "c"}, Outcome::kFailure},
                      CommandLine{"Help", {"--help"}, Outcome::kAskedHelp},
                      CommandLine{"List", {"-l"}, Outcome::kList},
                      CommandLine{"HelpIntoAPipe", {}, Outcome::kUsage}),
    [](const ::testing::TestParamInfo<CommandLine>& info) { return info.param.name; });

// A port already held by a running monitor is refused to a second one
// (exclusive open), which shows the failure screen; the first runs on.
TEST(CommandLines, PortHeldByAnotherMonitor) {
    e2e::Session first({.args = {"{port}", "c"}, .simulator = SetAll(kRunning)});
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(WaitForCycles(first, 1, true)) << first.Dump();

    e2e::Session second({.with_simulator = false, .command = {"{dialer}", first.port(), "c"}});
    ASSERT_TRUE(second.ok()) << second.error();
    ASSERT_TRUE(second.WaitExit()) << second.Dump();
    ExpectLeftClean(second, 1);
    EXPECT_TRUE(second.Find("Unable to open serial port")) << second.Dump();

    const std::size_t seen = first.Requests().size();
    ASSERT_TRUE(first.WaitForRequests(seen + Cycle(true).size())) << "the first monitor stopped";
    EXPECT_TRUE(InCycleOrder(first.RequestedAddresses(), true));
    ExpectScreenSettlesOn(first, RunningScreen(true));
    first.SendKeys("q");
    ASSERT_TRUE(first.WaitExit()) << first.Dump();
    ExpectLeftClean(first, 0);
}

}  // namespace
