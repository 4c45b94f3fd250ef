// End-to-end test library: runs a real program (the monitor, by default) in a
// pseudo-terminal of a fixed size, reads its screen back through libvterm,
// and plays the ECU with the simulator of tools/ecusim running in-process on
// a pseudo-terminal of its own. No GoogleTest inside: benchmarks can use it.
//
//   #include "harness.h"
//   using namespace std::chrono_literals;
//
//   e2e::Session s({.args = {"{port}", "c"}, .simulator = {"--scenario", "idle"}});
//   ASSERT_TRUE(s.ok()) << s.error();
//   ASSERT_TRUE(s.WaitForTextAt(0, 3, "Successfully opened port!")) << s.Dump();
//   EXPECT_EQ(s.Colour(0, 3), 15);
//   s.SendKeys("q");
//   ASSERT_TRUE(s.WaitExit());
//   EXPECT_EQ(s.exit_code(), 0);
//   EXPECT_TRUE(s.TerminalModeRestored());
//
// Options (all optional, designated initialisers in this order):
//   args            the monitor's arguments.
//   simulator       options for the in-process simulator, exactly as ecusim
//                   takes them: {"--scenario", "faults", "--set", "15=0x04",
//                   "--pace", "--trace", "--speed", "4", "--time", "12"}.
//                   --trace lines go to this process's stderr. "--" and a
//                   command are not allowed here (use `command`).
//   with_simulator  false: no simulator, no port ({port} is then left as it
//                   stands, e.g. for running the ecusim program itself).
//   command         a whole command line to run instead of the monitor
//                   with `args`; the first word is searched on PATH. E.g.
//                   {"wine", "path/tarnwickdialer.exe", "5", "c"}.
//   argv0           argv[0] as the program sees it (default: the path run;
//                   without a runner).
//   env             "NAME=VALUE" entries added to (or replacing in) the
//                   environment; TERM=xterm unless given.
//   cwd             working directory of the program.
//   capture_stderr  the program's stderr goes to Stderr() instead of the
//                   terminal.
//   columns, rows   terminal size (default 100 x 30: the monitor's screens
//                   fit whole); Resize() changes it mid-run.
//   before_start    called with the simulator's port after it exists and
//                   before the program starts (e.g. to map a Wine COM port);
//                   its opens of the port are not counted in PortOpens().
// Placeholders, replaced in args and command: {port} the simulator's port
// (only with the simulator), {dialer} the monitor built by this tree,
// {ecusim} the simulator program built by this tree.
//
// Screen: columns and rows count from 0 at the top-left, as the monitor's
// own positions do. Colour() gives the console attribute of a cell's
// foreground (0-15: 1 blue, 2 green, 4 red, 8 bright; so 9, 10, 11, 12, 14,
// 15 as the monitor uses them), -1 for the terminal's default colour.
// Blank and never-written cells read as spaces. Every accessor is safe to
// call at any time, also inside a WaitUntil condition.
//
// Waits return false at their deadline (default kDefaultTimeout); put
// Dump() in the failure message. Nothing here sleeps for a fixed time except
// after the program's exit, when output still in flight is collected until
// the terminal has been quiet for a few tens of milliseconds.
//
// After the exit: exit_code() (-1 when a signal ended it), exit_signal()
// (0 when it exited), TerminalModeRestored() (ICANON and ECHO are back and
// the input, output and local modes are as before the start), SgrReset()
// (the pen is back to the terminal's defaults and the cursor is visible).
//
// Simulator: Requests() is the request log (time, address, answer bytes),
// RequestedAddresses() just the addresses, PortOpens() how often the program
// opened the simulator's port. SetScenario("silent") and SetRegister(15, 4)
// change the ECU while the program runs (a pulled cable, a fault that comes
// up); they act from the next request on. Vanish() closes the simulator's
// side of the line as an unplugged adapter would; Vanish(0x0F) does so when
// request 0x0F arrives, leaving it unanswered. TogglePlug() pulls the adapter
// out for good, pty and all, and plugs a new one in at the next call (with
// "--link" the port's name stays the same).
#pragma once
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace e2e {

inline constexpr int kColumns = 100;
inline constexpr int kRows = 30;
using Duration = std::chrono::steady_clock::duration;
inline constexpr Duration kDefaultTimeout = std::chrono::seconds(10);

// Paths of the programs built by this tree. The monitor is another build
// of it when TD_E2E_DIALER names one (an ARM build), run by the words of
// TD_E2E_RUNNER (e.g. "qemu-aarch64 -L /usr/aarch64-linux-gnu") in front.
const std::string& DialerPath();
const std::vector<std::string>& DialerRunner();
const std::string& EcusimPath();

// Seconds the process has spent on a CPU (/proc/PID/schedstat, a nanosecond
// clock); -1 when unknown.
double CpuSeconds(pid_t pid);

// The console attribute (0-15) of an ANSI palette index (0-15).
int AttributeOfAnsiIndex(int index);

struct Options {
    std::vector<std::string> args{};
    std::vector<std::string> simulator{};
    bool with_simulator = true;
    std::vector<std::string> command{};
    std::string argv0{};
    std::vector<std::string> env{};
    std::string cwd{};
    bool capture_stderr = false;
    int columns = kColumns;
    int rows = kRows;
    std::function<void(const std::string& port)> before_start{};
};

class Session {
public:
    explicit Session(Options options = {});
    // Kills the program if it still runs, stops the simulator.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ok() const;                   // everything started
    const std::string& error() const;  // why not
    const std::string& port() const;   // the simulator's port, "" without one
    pid_t pid() const;

    // Screen.
    std::string Text(int col, int row, int len) const;  // exactly len cells
    std::string Row(int row) const;                     // trailing blanks removed
    int Colour(int col, int row) const;
    int Background(int col, int row) const;
    bool Reverse(int col, int row) const;    // reverse video
    bool Underline(int col, int row) const;
    bool Find(std::string_view text, int* col = nullptr, int* row = nullptr) const;
    std::string Title() const;
    bool CursorVisible() const;
    void Cursor(int* col, int* row) const;
    std::string Dump() const;    // numbered rows, for failure messages
    std::string Output() const;  // every byte the program wrote to the terminal
    std::string Stderr() const;  // with capture_stderr

    // Waits.
    bool WaitForText(std::string_view text, Duration timeout = kDefaultTimeout);
    bool WaitForTextAt(int col, int row, std::string_view text, Duration timeout = kDefaultTimeout);
    bool WaitUntil(const std::function<bool()>& condition, Duration timeout = kDefaultTimeout);
    bool WaitExit(Duration timeout = kDefaultTimeout);
    bool WaitForRequests(std::size_t count, Duration timeout = kDefaultTimeout);

    // Input.
    void SendKeys(std::string_view keys);
    void SendSignal(int sig);
    // The window's new size: the program gets SIGWINCH; the screen read
    // back keeps what fits, as a terminal does.
    void Resize(int columns, int rows);

    // The program's end.
    bool exited() const;
    int exit_code() const;
    int exit_signal() const;
    std::chrono::steady_clock::time_point start_time() const;
    std::chrono::steady_clock::time_point exit_time() const;
    termios SlaveTermios() const;  // the terminal's settings now
    bool TerminalModeRestored() const;
    bool SgrReset() const;

    // Simulator.
    std::vector<ecusim::RequestEvent> Requests() const;
    std::vector<std::uint8_t> RequestedAddresses() const;
    int PortOpens() const;
    bool SetScenario(std::string_view name);  // false: no simulator or no such scenario
    void SetRegister(std::uint8_t address, std::uint8_t value);
    void Vanish(int at_request = -1);
    void TogglePlug();  // pulls the adapter out or plugs it back in (ecusim's SIGUSR1)

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace e2e
