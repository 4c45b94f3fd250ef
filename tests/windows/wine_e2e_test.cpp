// The Windows program end to end under Wine: tarnwickdialer.exe in a
// terminal, its console rendered by Wine's console host into the terminal and
// read back through libvterm, the ECU played by the simulator on a pty that
// Wine maps to COM12. The expected screens are the Linux tests' own.
//
// Only what a Windows console defines is compared: the text and foreground
// colour of each cell, the title, the cursor, exit codes, and the requests on
// the wire. Wine writes the console's black background as the terminal's
// default one, and after the exit leaves the terminal's modes as it found
// them, which on Windows is the console's business, not the program's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "app/texts.h"
#include "dashboard_screens.h"
#include "harness.h"
#include "reliability.h"
#include "startup_screens.h"

namespace {

using namespace std::chrono_literals;
using namespace screens;

// Wine starts slowly, more so right after a COM port was mapped (a new
// wineserver); these bounds are far above what a run takes.
constexpr auto kWineStart = 60s;
constexpr auto kWineExit = 30s;

// Above 9: reached only as \\.\COM12, as USB adapters often are.
constexpr int kComPort = 12;

std::vector<std::string> WineCommand(const std::vector<std::string>& args) {
    std::vector<std::string> command = {TD_WINE_TOOL, "run", TD_WIN_DIALER};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

std::string ComLink(int n) { return std::string(TD_WINEPREFIX) + "/dosdevices/com" + std::to_string(n); }

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return "";
    return std::string(target, static_cast<std::size_t>(n));
}

// Points COMn at `device` through the registry. A new wineserver is needed
// for it to apply, so this is skipped when the port already leads there.
bool MapComPort(int n, const std::string& device) {
    if (LinkTarget(ComLink(n)) == device) return true;
    const std::string command = std::string(TD_WINE_TOOL) + " map-com " + std::to_string(n) + " '" +
                                device + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A COM number above 9 that nothing is behind: no link in the prefix and no
// serial device that Wine would map to it by itself (COMn is /dev/ttyS{n-1}).
int UnmappedComPort() {
    for (int n = 10; n <= 32; ++n) {
        struct stat st;
        const std::string device = "/dev/ttyS" + std::to_string(n - 1);
        if (lstat(ComLink(n).c_str(), &st) != 0 && stat(device.c_str(), &st) != 0) return n;
    }
    return 0;
}

TEST(WindowsE2e, HelpScreenWaitsForAKeyThenExitsWithOne) {
    e2e::Session s({.with_simulator = false, .command = WineCommand({})});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(s.WaitForTextAt(0, 23, "Press a key to continue.", kWineStart)) << s.Dump();
    // Wine hands the program a Windows path: only its last part shows.
    EXPECT_EQ(s.Row(0), "Lancia Delta Integrale Mk1 etc. Usage: tarnwickdialer.exe [port#]");
    EXPECT_EQ(s.Colour(0, 0), 15);
    ExpectLines(s, kHelpScreen);
    EXPECT_EQ(s.Title(), kTitle);
    EXPECT_FALSE(s.WaitExit(300ms));

    s.SendKeys("~");
    ASSERT_TRUE(s.WaitExit(kWineExit)) << s.Dump();
    EXPECT_EQ(s.exit_code(), 1);
    EXPECT_FALSE(s.Find("~")) << "the key was echoed" << s.Dump();
}

// On a console of the classic 80 columns: every start-up line fits its row.
// A file named like the port in the working folder is not taken for it. The
// ports line lists what Wine made of its port links.
TEST(WindowsE2e, FailureScreenForAComPortWithNoMapping) {
    const int port = UnmappedComPort();
    ASSERT_NE(port, 0) << "every COM number from 10 to 32 is in use";
    const std::string name = "com" + std::to_string(port);
    std::string present = "Serial ports on this computer:";
    for (int n = 1; n <= 256; ++n) {
        struct stat st;
        if (lstat(ComLink(n).c_str(), &st) == 0) present += " COM" + std::to_string(n);
    }
    char dir[] = "/tmp/td-wine-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/" + name;
    std::fclose(std::fopen(file.c_str(), "w"));
    {
        e2e::Session s({.with_simulator = false, .command = WineCommand({std::to_string(port), "c"}), .cwd = dir,
                        .columns = 80});
        ASSERT_TRUE(s.WaitExit(kWineStart)) << s.Dump();
        EXPECT_EQ(s.exit_code(), 1);
        ExpectLines(s, {{0, kBanner, 15},
                        {1, kCatOpening.c_str(), 15},
                        {2, (" attempting to open the port '" + name + "'").c_str(), 15}});
        ExpectLines(s, kFailureScreen);
        EXPECT_EQ(s.Row(21), "");
        const std::string reason = "COM" + std::to_string(port) + " does not exist on this computer: is the adapter plugged in?";
        ExpectLines(s, {{22, reason.c_str(), 12}, {23, present.c_str(), 11}});
        // Below the reason and the ports, where the prompt overwrites nothing.
        int col = -1, row = -1;
        s.Cursor(&col, &row);
        EXPECT_EQ(col, 0);
        EXPECT_EQ(row, 24);
    }
    struct stat st {};
    EXPECT_TRUE(stat(file.c_str(), &st) == 0 && st.st_size == 0) << "the monitor wrote into " << file;
    std::remove(file.c_str());
    rmdir(dir);
}

TEST(WindowsE2e, DashboardAfterTheFirstCycleAndTheRequestsOnTheWire) {
    struct Case {
        const char* name;
        const std::vector<std::pair<int, int>>* registers;
        std::vector<Place> (*screen)(bool);
        bool cat;
        const char* quit;
        bool log;  // recording, with a marker, through to the way out
    };
    for (const Case& c : {Case{"running", &kRunning, RunningScreen, false, "q", false},
                          Case{"running", &kRunning, RunningScreen, true, "Q", false},
                          // Ctrl-C ends it like q, mid-cycle, with Windows' own exit code.
                          Case{"stopped", &kStopped, StoppedScreen, true, "\x03", true}}) {
        SCOPED_TRACE(std::string(c.name) + (c.cat ? " cat" : " no cat"));
        std::vector<std::string> args = {std::to_string(kComPort)};
        if (c.cat) args.push_back("c");
        // Wine's Z: drive is the root: a Windows name for a file of this machine.
        const std::string recording = reliability::NewRecordingPath("wine");
        const std::string windows_name = "Z:" + recording;
        if (c.log) args.insert(args.begin(), {"--log", windows_name});
        bool mapped = false;
        e2e::Session s({.simulator = SetAll(*c.registers),
                        .command = WineCommand(args),
                        .before_start = [&](const std::string& port) {
                            mapped = MapComPort(kComPort, port);
                        }});
        ASSERT_TRUE(s.ok()) << s.error();
        ASSERT_TRUE(mapped) << "COM" << kComPort << " could not be mapped to " << s.port();
        // The second cycle's spinner: the first cycle has written everything.
        ASSERT_TRUE(s.WaitForTextAt(16, 3, "|", kWineStart)) << s.Dump();
        ExpectScreen(s, c.screen(c.cat));
        EXPECT_EQ(s.Colour(16, 3), kYellow);
        EXPECT_EQ(s.Text(0, 0, 35), "Delta Integrale 8v, 16v & Evo1 ECUs");
        EXPECT_EQ(s.Text(0, 1, 14), c.cat ? "For support & " : "PayPal donatio");
        const std::string title = std::string(TD_TITLE_PREFIX) + " - recording to " + windows_name;
        EXPECT_EQ(s.Title(), c.log ? title : std::string(kTitle));
        if (c.log) {
            s.SendKeys("m");
            ASSERT_TRUE(s.WaitUntil([&] { return s.Title() == title + ", 1 mark"; })) << s.Title();
            // The marked row is the next one: written when the cycle after it starts.
            const std::size_t size = (c.cat ? kCatCycle : kCycle).size();
            ASSERT_TRUE(s.WaitForRequests((s.Requests().size() / size + 2) * size + 1, kWineExit));
        }

        s.SendKeys(c.quit);
        ASSERT_TRUE(s.WaitExit(kWineExit)) << s.Dump();
        const bool ctrl_c = c.quit[0] == '\x03';
        EXPECT_EQ(s.exit_code(), ctrl_c ? 0x3A : 0);  // STATUS_CONTROL_C_EXIT, as a POSIX parent sees it
        EXPECT_EQ(s.PortOpens(), 1);
        // Whole cycles, each the same requests in the same order.
        const auto& cycle = c.cat ? kCatCycle : kCycle;
        const auto requests = s.RequestedAddresses();
        ASSERT_GE(requests.size(), cycle.size());
        if (!ctrl_c) {
            EXPECT_EQ(requests.size() % cycle.size(), 0u) << requests.size();
        }
        for (std::size_t i = 0; i < requests.size(); ++i)
            ASSERT_EQ(requests[i], cycle[i % cycle.size()]) << "request " << i;
        if (c.log) {
            // A row for each finished cycle (the last may be cut by Ctrl-C),
            // one of them marked, lines ended by "\n" alone.
            const int cycles = static_cast<int>(requests.size() / cycle.size());
            const int rows = reliability::CompleteRows(recording);
            EXPECT_TRUE(rows == cycles || rows == cycles - 1) << rows << " rows, " << cycles << " cycles";
            const auto lines = reliability::RecordingLines(recording);
            int marked = 0;
            // The Mark column is the one before the last (Unanswered).
            for (const auto& line : lines) {
                const std::size_t last = line.rfind(',');
                const std::size_t mark = last == std::string::npos || last == 0 ? std::string::npos : line.rfind(',', last - 1);
                marked += mark != std::string::npos && line.substr(mark + 1, last - mark - 1) == "1";
            }
            EXPECT_EQ(marked, 1);
            EXPECT_EQ(lines[0].find('\r'), std::string::npos);
            // Its report: the Windows program writes the Linux program's page.
            const std::string page = recording + ".exe.html", native = recording + ".html";
            std::remove(page.c_str());
            std::remove(native.c_str());
            EXPECT_EQ(std::system((std::string(TD_WINE_TOOL) + " run " + TD_WIN_DIALER + " --report " + windows_name +
                                   " Z:" + page + " >/dev/null 2>&1").c_str()), 0);
            EXPECT_EQ(std::system((e2e::DialerPath() + " --report " + recording + " " + native + " >/dev/null").c_str()), 0);
            EXPECT_GT(reliability::RecordingLines(native).size(), 100u);
            EXPECT_EQ(reliability::RecordingLines(page), reliability::RecordingLines(native));
        }
        // Cycle period under Wine against an instantly answering ECU, for the
        // record: the floor is the 10 ms pause after each request.
        const auto events = s.Requests();
        const std::size_t n = events.size() / cycle.size();
        if (n >= 2) {
            const double period = (events[(n - 1) * cycle.size()].seconds - events[0].seconds) /
                                  static_cast<double>(n - 1);
            std::printf("cycle period under Wine (%s, %zu requests): %.1f ms over %zu cycles\n",
                        c.cat ? "cat" : "no cat", cycle.size(), period * 1000.0, n - 1);
        }
        // The closing line breaks leave the cursor below the dashboard.
        int col = -1, row = -1;
        s.Cursor(&col, &row);
        EXPECT_EQ(col, 0);
        EXPECT_EQ(row, 25);
    }
}

// A key typed while the start-up sleeps waits in the console's queue, unechoed,
// and the q ends the program before its first cycle.
TEST(WindowsE2e, QuitTypedDuringTheStartUpRunsNoCycle) {
    bool mapped = false;
    e2e::Session s({.simulator = {"--scenario", "silent"},
                    .command = WineCommand({std::to_string(kComPort), "c"}),
                    .before_start = [&](const std::string& port) {
                        mapped = MapComPort(kComPort, port);
                    }});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(mapped);
    ASSERT_TRUE(s.WaitForText("Successfully opened port!", kWineStart)) << s.Dump();
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit(kWineExit)) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    EXPECT_TRUE(s.RequestedAddresses().empty());
    EXPECT_EQ(s.Text(0, 3, 15), "Hit 'q' to quit");
    EXPECT_EQ(s.Text(0, 17, 27), "You specified... cat fitted");
}

// Runs `reg` in the prefix with `args`; true when it succeeded.
bool Reg(const std::string& args) {
    return std::system((std::string(TD_WINE_TOOL) + " run reg " + args + " >/dev/null 2>&1").c_str()) == 0;
}

// The adapter pulled out and plugged back in: COM5 (given as Device Manager
// writes it) leads to the simulator's link, and the pty behind it is a new
// one after the return. The title and the link line say the port is lost
// while it is, and the dashboard comes back by itself. COM5 is an FTDI
// adapter left at its 16 ms latency timer.
TEST(WindowsE2e, ReplugComesBackByItself) {
    char dir[] = "/tmp/td-wine-replug-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string ftdi = "\"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A50285BIA\"";
    const std::string parameters = ftdi.substr(0, ftdi.size() - 1) + "\\0000\\Device Parameters\"";
    ASSERT_TRUE(Reg("add " + parameters + " /v PortName /t REG_SZ /d COM5 /f"));
    ASSERT_TRUE(Reg("add " + parameters + " /v LatencyTimer /t REG_DWORD /d 16 /f"));
    {
        std::vector<std::string> simulator = SetAll(kRunning);
        simulator.insert(simulator.end(), {"--link", std::string(dir) + "/ecu"});
        bool mapped = false;
        e2e::Session s({.simulator = simulator, .command = WineCommand({"COM5", "c"}),
                        .before_start = [&](const std::string& port) { mapped = MapComPort(5, port); }});
        ASSERT_TRUE(mapped) << s.error();
        ASSERT_TRUE(s.WaitForTextAt(16, 3, "|", kWineStart)) << s.Dump();
        const std::string hint = "Answers wait 16 ms: Device Manager>COM5>Port Settings>Advanced>Latency Timer=1";
        EXPECT_EQ(s.Row(20), hint);
        EXPECT_EQ(s.Colour(0, 20), kYellow);

        s.TogglePlug();
        const std::string lost = std::string(TD_TITLE_PREFIX) + " Port lost, waiting for com5";
        ASSERT_TRUE(s.WaitUntil([&] { return s.Title() == lost; })) << s.Title();
        ASSERT_TRUE(s.WaitForTextAt(0, 21, "Port lost: waiting for COM5")) << s.Dump();
        EXPECT_EQ(s.Colour(0, 21), kRed);
        const std::size_t before = s.Requests().size();
        std::this_thread::sleep_for(2s);
        s.TogglePlug();
        const auto back = std::chrono::steady_clock::now();
        ASSERT_TRUE(s.WaitForRequests(before + 1)) << s.Dump();
        std::printf("under Wine, first request %.2f s after the return\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count());
        ASSERT_TRUE(s.WaitForRequests(before + 3 * kCatCycle.size())) << s.Dump();
        std::vector<Place> screen = RunningScreen(true);
        screen.push_back({0, 20, hint, kYellow});
        ExpectScreen(s, screen);
        EXPECT_EQ(s.Title(), kTitle);
        s.SendKeys("q");
        ASSERT_TRUE(s.WaitExit(kWineExit)) << s.Dump();
        EXPECT_EQ(s.exit_code(), 0);
    }
    Reg("delete " + ftdi + " /f");
    rmdir(dir);
}

}  // namespace

// The history page on its own screen buffer: h shows it with the wiggle's
// faults, Tab brings the dashboard back whole; the tone is in the title.
TEST(WindowsE2e, HistoryPageAndBackWithTheTone) {
    bool mapped = false;
    e2e::Session s({.simulator = {"--scenario", "wiggle"},
                    .command = WineCommand({std::to_string(kComPort), "c", "--beep"}),
                    .before_start = [&](const std::string& port) { mapped = MapComPort(kComPort, port); }});
    ASSERT_TRUE(s.ok()) << s.error();
    ASSERT_TRUE(mapped) << "COM" << kComPort << " could not be mapped to " << s.port();
    ASSERT_TRUE(s.WaitForTextAt(16, 3, "|", kWineStart)) << s.Dump();
    EXPECT_EQ(s.Title(), std::string(TD_TITLE_PREFIX) + " - tone on");
    s.SendKeys("h");
    ASSERT_TRUE(s.WaitForTextAt(0, 15, "Fault memory")) << s.Dump();
    ASSERT_TRUE(s.WaitForText("Water temp sensor    Open circuit", kWineExit)) << s.Dump();
    EXPECT_EQ(s.Text(0, 10, 7), "Battery");
    // Cycles later the dashboard's texts, written meanwhile, are still on its own buffer.
    ASSERT_TRUE(s.WaitForText("Throttle posn sensor Open circuit", kWineExit)) << s.Dump();
    for (int row = 0; row < 25; ++row) EXPECT_EQ(s.Row(row).find("degrees"), std::string::npos) << s.Dump();
    s.SendKeys("\t");
    ASSERT_TRUE(s.WaitUntil([&] {
        return s.Text(0, 5, 5) == "Revs:" && s.Text(0, 13, 15) == "Air temp sensor" &&
               s.Text(0, 23, 20) == "ALWAYS FREE DOWNLOAD" && s.Text(31, 19, 5) == "State";
    })) << s.Dump();
    s.SendKeys("q");
    ASSERT_TRUE(s.WaitExit(kWineExit)) << s.Dump();
    EXPECT_EQ(s.exit_code(), 0);
    int col = -1, row = -1;
    s.Cursor(&col, &row);
    EXPECT_EQ(row, 25);
}
