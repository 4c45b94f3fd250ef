// Fault battery, the line: the ECU misbehaves or the device goes away while
// the monitor runs. Each case injects one fault after a good first cycle and
// asserts that the monitor keeps cycling in order, shows the right values
// again as soon as the ECU answers properly, and ends cleanly with q.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/texts.h"
#include "dashboard_screens.h"
#include "harness.h"
#include "reliability.h"

namespace {

using namespace std::chrono_literals;
using namespace reliability;
using screens::kRunning;
using screens::RunningScreen;
using screens::SetAll;

struct LineFault {
    const char* name;      // also the simulator scenario injected
    std::size_t requests;  // how many requests it must hit before it ends
    std::function<bool(const ecusim::RequestEvent&)> hit;
    double min_exchange;   // seconds: what the monitor must wait at least
    const char* link_line; // how row 21 starts once a cycle with the fault is over
    const char* during;    // how it starts, in red, while the fault lasts ("": not asked)
};

std::string Name(const ::testing::TestParamInfo<LineFault>& info) { return info.param.name; }
void PrintTo(const LineFault& fault, std::ostream* out) { *out << fault.name; }

class LineFaults : public ::testing::TestWithParam<LineFault> {};

// silent: nothing comes, both reads wait out their 350 ms.
// echo:   only the echo comes; the second read waits out its time-out.
// late:   echo and value come 400 ms late: the first read has given up, the
//         second takes the echo and the value is left waiting when the next
//         request goes out; the purge must drop it, or every later reading
//         would be one byte off.
// stray:  each answer drags 1-3 stray bytes behind it, waiting at the next
//         request; two whole cycles of it must still show the right values.
TEST_P(LineFaults, MonitorKeepsCyclingAndRecovers) {
    const LineFault& fault = GetParam();
    e2e::Session s({.args = {"{port}", "c"}, .simulator = SetAll(kRunning)});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(WaitForCycles(s, 1, true)) << s.Dump();
    ExpectScreenSettlesOn(s, RunningScreen(true));

    ASSERT_TRUE(s.SetScenario(fault.name));
    std::size_t hits = 0;
    auto count_hits = [&] {
        hits = 0;
        for (const ecusim::RequestEvent& e : s.Requests()) hits += fault.hit(e) ? 1 : 0;
        return hits >= fault.requests;
    };
    ASSERT_TRUE(s.WaitUntil(count_hits, 20s)) << hits << " requests hit" << s.Dump();
    // The cycle under way says so, not only its end.
    const std::string during = fault.during;
    if (!during.empty()) {
        EXPECT_TRUE(s.WaitUntil([&] { return s.Text(0, 21, during.size()) == during && s.Colour(0, 21) == screens::kRed; },
                                5s)) << s.Dump();
    }
    if (std::string(fault.name) == "stray") {
        // Two cycles of stray bytes behind every answer, values unchanged.
        ExpectScreenSettlesOn(s, RunningScreen(true));
    }
    ASSERT_TRUE(s.SetScenario("off"));  // the --set registers stay
    // The cycle that met the fault says so on the link line, no more than that.
    const std::string said = fault.link_line;
    ASSERT_TRUE(s.WaitUntil([&] { return s.Text(0, 21, said.size()) == said; }, 15s)) << s.Dump();
    EXPECT_EQ(s.Colour(0, 21), said == "ECU answering: " ? screens::kGreen : screens::kYellow);

    // Back to good answers: two more whole cycles, and the screen is right.
    const std::size_t after = s.Requests().size();
    ASSERT_TRUE(s.WaitForRequests(after + 2 * Cycle(true).size(), 15s)) << s.Dump();
    ExpectScreenSettlesOn(s, RunningScreen(true));

    const std::vector<ecusim::RequestEvent> log = s.Requests();
    EXPECT_TRUE(InCycleOrder(s.RequestedAddresses(), true));
    // Each request hit was waited for as long as the fault needs, no less.
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
        if (!fault.hit(log[i])) continue;
        EXPECT_GE(log[i + 1].seconds - log[i].seconds, fault.min_exchange) << "request " << i;
    }

    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit(15s)) << s.Dump();
    ExpectLeftClean(s, 0);
    EXPECT_TRUE(PortFree(s.port()));
}

INSTANTIATE_TEST_SUITE_P(
    Battery, LineFaults,
    ::testing::Values(
        LineFault{"silent", 2, [](const ecusim::RequestEvent& e) { return e.answer.empty(); }, 0.69, "ECU answered ", "No answer from the ECU for "},
        LineFault{"echo", 2, [](const ecusim::RequestEvent& e) { return e.answer.size() == 1; }, 0.34, "ECU answered ", "No answer from the ECU for "},
        LineFault{"late", 2, [](const ecusim::RequestEvent& e) { return e.late; }, 0.39, "ECU answered ", "No answer from the ECU for "},
        LineFault{"stray", 40, [](const ecusim::RequestEvent& e) { return e.stray > 0; }, 0.0, "ECU answering: ", ""}),
    Name);

// The adapter is pulled out during the fault pass of the second cycle (the
// simulator closes its side of the line when request 0x0F comes). The
// monitor finds out in that exchange, lets the device go and says so in the
// title; from then on no exchange waits for an answer that cannot come, so
// the processor stays idle and q ends the program within a second.
TEST(LineGone, DeviceVanishesMidRun) {
    e2e::Session s({.args = {"{port}"}, .simulator = SetAll(kRunning)});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(WaitForCycles(s, 1, false)) << s.Dump();
    ExpectScreenSettlesOn(s, RunningScreen(false));
    s.Vanish(0x0F);

    const std::string lost = std::string(TD_TITLE_PREFIX) + " Port lost, waiting for " + s.port();
    ASSERT_TRUE(s.WaitUntil([&] { return s.Title() == lost; })) << s.Title();
    const double share = CpuShareOver(s.pid(), 1000ms);
    EXPECT_GE(share, 0);
    EXPECT_LT(share, 0.1) << "the monitor spins on the dead line";
    const auto quit_at = std::chrono::steady_clock::now();
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit(15s)) << s.Dump();
    const double quit = std::chrono::duration<double>(s.exit_time() - quit_at).count();
    std::printf("q while the port is lost: %.2f s\n", quit);
    EXPECT_LT(quit, 1.0);
    ExpectLeftClean(s, 0);
    // Nothing was answered after the cable went.
    const std::vector<std::uint8_t> requests = s.RequestedAddresses();
    EXPECT_EQ(requests.size(), 17u + 13u);
    EXPECT_TRUE(InCycleOrder(requests, false));
    // Every reading since is a zero byte: no faults, the info line all 00,
    // the live values what a zero decodes to.
    EXPECT_EQ(s.Text(17, 22, 44), "Info only, uniram 1, 2, 3, S: 00, 00, 00, 00") << s.Dump();
    EXPECT_EQ(s.Text(21, 13, 13), "OK           ");
    EXPECT_EQ(s.Colour(21, 13), screens::kGreen);
    EXPECT_EQ(s.Text(65, 13, 7), "OK     ");
    EXPECT_TRUE(s.Find("Revs:           0 rpm")) << s.Dump();
}

// The adapter pulled out for 3 s and plugged back in: the simulator serves
// through a link, as /dev/serial/by-id does, and the pty behind it is a new
// one. The monitor lets go of the dead device at once, says so in the title,
// waits without spinning, and reads real values again within 2 s of the
// return.
TEST(LineGone, ReplugComesBackByItself) {
    char dir[] = "/tmp/td-replug-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/ecu";
    {
        std::vector<std::string> simulator = SetAll(kRunning);
        simulator.insert(simulator.end(), {"--link", link, "--unplug", "4:3"});
        e2e::Session s({.args = {"{port}", "c"}, .simulator = simulator});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(WaitForCycles(s, 1, true)) << s.Dump();
        ExpectScreenSettlesOn(s, RunningScreen(true));

        const std::string lost = std::string(TD_TITLE_PREFIX) + " Port lost, waiting for " + link;
        ASSERT_TRUE(s.WaitUntil([&] { return s.Title() == lost; }, 6s)) << s.Title();
        EXPECT_TRUE(s.WaitUntil([&] { return !ScreenIs(s, RunningScreen(true)); }, 2s)) << "no reading fell";
        const double share = CpuShareOver(s.pid(), 1000ms);
        std::printf("CPU while the port is gone: %.2f %% of a core\n", share * 100);
        EXPECT_GE(share, 0);
        EXPECT_LT(share, 0.05) << "the monitor spins while the port is gone";

        // Back 7 s after the simulator started.
        auto back = [&] {
            for (const ecusim::RequestEvent& e : s.Requests())
                if (e.seconds > 7.0) return e.seconds - 7.0;
            return -1.0;
        };
        ASSERT_TRUE(s.WaitUntil([&] { return back() >= 0; }, 5s)) << s.Dump();
        std::printf("first request %.2f s after the return\n", back());
        EXPECT_LT(back(), 2.0);
        ExpectScreenSettlesOn(s, RunningScreen(true));
        EXPECT_EQ(s.Title(), kTitle);
        EXPECT_EQ(s.Output().find("ECU answered"), std::string::npos) << "the return's cycle taken as partly answered";

        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit(15s)) << s.Dump();
        ExpectLeftClean(s, 0);
        EXPECT_TRUE(PortFree(link));
    }
    rmdir(dir);
}

// Another program taking pty number `index` (a lost port's): a process of
// its own that opens ptys until it holds that number. Its pid; -1 when the
// number went to someone else first.
pid_t TakePty(int index) {
    int said[2];
    if (pipe(said) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {  // only async-signal-safe calls from here
        char got = 'n';
        for (int tries = 0, n = -1, unlock = 0; tries < 64 && n < index; ++tries) {
            const int fd = open("/dev/ptmx", O_RDWR | O_NOCTTY);
            if (fd < 0 || ioctl(fd, TIOCGPTN, &n) != 0) break;
            ioctl(fd, TIOCSPTLCK, &unlock);
            if (n == index) got = 'y';
        }
        (void)!write(said[1], &got, 1);
        pause();
        _exit(0);
    }
    char got = 0;
    close(said[1]);
    if (pid < 0 || read(said[0], &got, 1) != 1 || got != 'y') got = 0;
    close(said[0]);
    if (got == 0 && pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    return got == 0 ? -1 : pid;
}

// Whether process `pid` has `device` open.
bool HasOpen(pid_t pid, const std::string& device) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (std::filesystem::read_symlink(fd.path(), error) == device) return true;
    return false;
}

// The simulator's pty goes away and its number goes to another program: the
// waiting monitor never opens it, also when its name is a link left
// dangling, and q still ends it at once. (The simulator's own replug through
// its link comes back: LineGone.ReplugComesBackByItself.)
TEST(LineGone, StrangersPtyIsNeverOpened) {
    for (const bool via_link : {false, true}) {
        SCOPED_TRACE(via_link ? "behind a dangling link" : "directly");
        const std::string link = NewRecordingPath("stranger");
        e2e::Session s({.args = {via_link ? link : "{port}"},
                        .simulator = SetAll(kRunning),
                        .before_start = [&](const std::string& port) { (void)!symlink(port.c_str(), link.c_str()); }});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(WaitForCycles(s, 1, false)) << s.Dump();
        const std::string pty = s.port();
        s.Vanish();
        const std::string lost = std::string(TD_TITLE_PREFIX) + " Port lost, waiting for " + (via_link ? link : pty);
        ASSERT_TRUE(s.WaitUntil([&] { return s.Title() == lost && !HasOpen(s.pid(), pty); })) << s.Title();
        const pid_t stranger = TakePty(std::atoi(pty.substr(std::string("/dev/pts/").size()).c_str()));
        if (stranger < 0) GTEST_SKIP() << pty << " went to some other program first";
        // Two tries to reopen at least; never opened, so never written or set.
        EXPECT_FALSE(s.WaitUntil([&] { return HasOpen(s.pid(), pty); }, 2500ms)) << "the monitor opened " << pty;
        const auto quit_at = std::chrono::steady_clock::now();
        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit(15s)) << s.Dump();
        EXPECT_LT(std::chrono::duration<double>(s.exit_time() - quit_at).count(), 1.0);
        kill(stranger, SIGKILL);
        waitpid(stranger, nullptr, 0);
        ExpectLeftClean(s, 0);
        unlink(link.c_str());
    }
}

}  // namespace
