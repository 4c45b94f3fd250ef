// Fault battery, signals: the monitor ended or stopped from outside at any
// moment. Whatever the moment, the terminal comes back as it was, the port is
// released with its line settings as found so that a second monitor opens it
// at once, and the exit code is 128 + the signal.
#include <gtest/gtest.h>
#include <termios.h>

#include <csignal>
#include <string>
#include <utility>
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

enum class Moment { kSleepBeforeOpen, kSleepAfterOpen, kCycle };

struct SignalCase {
    int sig;
    const char* sig_name;
    Moment moment;
};

void PrintTo(const SignalCase& c, std::ostream* out) {
    static const char* const kMoments[] = {" in the sleep before the open", " in the sleep after the open",
                                           " during a cycle"};
    *out << c.sig_name << kMoments[static_cast<int>(c.moment)];
}

class Signals : public ::testing::TestWithParam<SignalCase> {};

// The start-up sleeps: with one argument the monitor sleeps before it opens
// the port; in cat mode it opens it and then sleeps, holding it. During a
// cycle the monitor is in the middle of an exchange, most likely asleep in
// its 10 ms pause or in a read.
TEST_P(Signals, EndTheMonitorCleanlyAndReleaseThePort) {
    const SignalCase& c = GetParam();
    std::vector<std::string> args = {"{port}"};
    if (c.moment != Moment::kSleepBeforeOpen) args.push_back("c");
    // Recording during a cycle: the signal must leave every row on the disk.
    const std::string recording = NewRecordingPath(std::string("signal-") + c.sig_name);
    if (c.moment == Moment::kCycle) args.push_back("--log=" + recording);
    termios found{};
    e2e::Session s({.args = args, .simulator = SetAll(kRunning),
                    .before_start = [&](const std::string& port) { found = PortSettings(port, true); }});
    ASSERT_TRUE(s.ok()) << s.error();
    switch (c.moment) {
        case Moment::kSleepBeforeOpen:
            ASSERT_TRUE(s.WaitForText("attempting to open COMport")) << s.Dump();
            break;
        case Moment::kSleepAfterOpen:
            ASSERT_TRUE(s.WaitForTextAt(0, 3, "Successfully opened port!")) << s.Dump();
            break;
        case Moment::kCycle:
            ASSERT_TRUE(s.WaitForRequests(Cycle(true).size() + 5)) << s.Dump();
            break;
    }
    s.SendSignal(c.sig);
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    ExpectLeftClean(s, 128 + c.sig);
    if (c.moment != Moment::kCycle) {
        EXPECT_TRUE(s.RequestedAddresses().empty());
    }
    if (c.moment == Moment::kSleepBeforeOpen) {
        EXPECT_EQ(s.PortOpens(), 0);
    }
    EXPECT_TRUE(InCycleOrder(s.RequestedAddresses(), true));
    if (c.moment == Moment::kCycle) {
        // One row per finished cycle; the last may have been cut by the signal
        // between its last answer and its row.
        const int cycles = static_cast<int>(s.RequestedAddresses().size() / Cycle(true).size());
        const int rows = CompleteRows(recording);
        EXPECT_TRUE(rows == cycles || rows == cycles - 1) << rows << " rows, " << cycles << " cycles";
    }
    const termios left = PortSettings(s.port());
    EXPECT_TRUE(left.c_cflag == found.c_cflag && cfgetospeed(&left) == cfgetospeed(&found)) << "line settings not put back";
    EXPECT_TRUE(PortFree(s.port()));
    EXPECT_TRUE(SecondMonitorOpens(s.port()));
}

std::string SignalCaseName(const ::testing::TestParamInfo<SignalCase>& info) {
    static const char* const kMoments[] = {"_BeforeOpen", "_AfterOpen", "_Cycle"};
    return std::string(info.param.sig_name) + kMoments[static_cast<int>(info.param.moment)];
}

INSTANTIATE_TEST_SUITE_P(Battery, Signals,
                         ::testing::ValuesIn([] {
                             std::vector<SignalCase> cases;
                             for (Moment m : {Moment::kSleepBeforeOpen, Moment::kSleepAfterOpen, Moment::kCycle})
                                 for (auto [sig, name] : {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"},
                                                          std::pair{SIGHUP, "SIGHUP"}, std::pair{SIGQUIT, "SIGQUIT"}})
                                     cases.push_back({sig, name, m});
                             return cases;
                         }()),
                         SignalCaseName);

// Ctrl-Z typed mid-run, under a shell with job control as at a prompt (a
// session leader's own group would be orphaned, and there the kernel ignores
// Ctrl-Z). While stopped, the shell has a terminal with echo and line mode:
// what is typed shows and a line is read. fg brings the dashboard back in the
// monitor's own mode, redrawn from a cleared screen, still cycling in order.
TEST(Stop, CtrlZLeavesAUsableShellAndFgRedraws) {
    e2e::Session s({.simulator = SetAll(kRunning),
                    .command = {"sh", "-c", "set -m; \"$0\" \"$1\" c; read typed; fg; exit $?", "{dialer}",
                                "{port}"}});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForRequests(Cycle(true).size() + 3)) << s.Dump();
    ExpectScreenSettlesOn(s, RunningScreen(true));
    const pid_t monitor = ChildOf(s.pid());
    ASSERT_GT(monitor, 0);

    s.SendKeys("\x1a");  // the terminal turns it into SIGTSTP
    ASSERT_TRUE(s.WaitUntil([&] { return ProcessState(monitor) == 'T'; })) << s.Dump();
    EXPECT_TRUE(s.TerminalModeRestored()) << "stopped with the terminal in the monitor's mode";
    // The reset went out before the stop; the terminal may still be reading it.
    EXPECT_TRUE(s.WaitUntil([&] { return s.SgrReset(); })) << "stopped with the dashboard's colours in force";
    s.SendKeys("echo typed at the shell");
    EXPECT_TRUE(s.WaitForText("echo typed at the shell")) << "no echo while stopped" << s.Dump();
    s.SendKeys("\n");  // the shell's read ends, then fg

    ASSERT_TRUE(s.WaitUntil([&] {
        const termios tio = s.SlaveTermios();
        return ProcessState(monitor) != 'T' && (tio.c_lflag & (ICANON | ECHO)) == 0;
    })) << "not resumed in the monitor's terminal mode";
    // Redrawn from a cleared screen: the typed line is gone and every place
    // holds its text again.
    ASSERT_TRUE(s.WaitUntil([&] { return !s.Find("echo typed at the shell"); })) << s.Dump();
    ExpectScreenSettlesOn(s, RunningScreen(true));
    EXPECT_EQ(s.Text(0, 0, 35), "Delta Integrale 8v, 16v & Evo1 ECUs") << s.Dump();
    const std::size_t seen = s.Requests().size();
    ASSERT_TRUE(s.WaitForRequests(seen + Cycle(true).size())) << "no cycles after fg" << s.Dump();
    EXPECT_TRUE(InCycleOrder(s.RequestedAddresses(), true));

    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit()) << s.Dump();
    ExpectLeftClean(s, 0);  // the shell passes on the monitor's exit code
    EXPECT_TRUE(PortFree(s.port()));
}

}  // namespace
