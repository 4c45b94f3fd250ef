// dialer_bench: how close the monitor runs to the line's own limit.
//
// Runs the real monitor in a pseudo-terminal against the in-process
// simulator for a fixed number of cycles per case and prints, per case:
// cycles per second, mean and worst cycle period, their ratio to the floor
// (10 ms after every request: 17 requests a cycle, 20 in cat mode), the
// monitor's CPU time per cycle and as a share of one core, its peak resident
// memory, and the bytes it wrote to the terminal per cycle. A recording case
// (--log into the working folder) gives the row size, the bytes an hour, the
// fsync cost and the period against the same case unrecorded. Then the silent
// line: seconds per request against the 0.7 s of the two read time-outs.
//
//   dialer_bench [--cycles N] [--silent-requests N] [--only TEXT] [--dialer PATH] [--quick]
//
// Cycle times come from the simulator's request log (the time each request
// byte arrived); CPU time from /proc/PID/schedstat (nanoseconds on a CPU);
// peak memory from VmHWM in /proc/PID/status, read just before the quit.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "history/history.h"
#include "platform/console_grid.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPauseAfterRequest = 0.010;  // seconds, the link's fixed sleep
constexpr double kReadTimeout = 0.350;        // seconds, each of two reads
constexpr int kPlainRequests = 17;
constexpr int kCatRequests = 20;
int warm_up_cycles = 2;

struct Case {
    std::string name;
    bool cat;
    std::vector<std::string> simulator;
    int cycles;  // 0: the common count
    bool log = false;  // recording with --log into the working folder
    bool page = false; // the history page shown (h typed at the start)
};

struct Figures {
    bool ok = false;
    std::string error;
    int cycles = 0;
    double mean_period = 0;   // seconds
    double median_period = 0; // seconds
    double worst_period = 0;  // seconds
    double floor = 0;         // seconds
    double cpu_per_cycle = 0; // seconds
    double cpu_share = 0;     // of one core
    long peak_rss_kib = 0;
    double bytes_per_cycle = 0;
    double median_exchange = 0;  // seconds from one request to the next
    int exit_code = -1;
    double bytes_per_row = 0;    // of the recording, with --log
};

// The monitor to run: this tree's, unless --dialer names another build.
std::string dialer_path;

// A "Name:   value kB" line of /proc/PID/status; -1 when missing.
long StatusKib(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) != 0) continue;
        std::istringstream fields(line.substr(name.size() + 1));
        long kib = -1;
        fields >> kib;
        return kib;
    }
    return -1;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Where each spinner glyph went out: "\x1b[4;17H" places the cursor at
// column 16, row 3, and nothing else is written there.
std::vector<std::size_t> SpinnerWrites(const std::string& output) {
    static const std::string kAt = "\x1b[4;17H";
    std::vector<std::size_t> at;
    for (std::size_t p = output.find(kAt); p != std::string::npos; p = output.find(kAt, p + 1))
        at.push_back(p);
    return at;
}

Figures RunCycles(const Case& c, int cycles) {
    Figures f;
    const int per_cycle = c.cat ? kCatRequests : kPlainRequests;
    f.floor = per_cycle * kPauseAfterRequest;
    std::vector<std::string> command = {dialer_path, "{port}"};
    if (c.cat) command.push_back("c");
    // In the working folder: on the disk a user records to, not a tmpfs.
    const std::string recording = "dialer_bench-" + std::to_string(getpid()) + ".csv";
    unlink(recording.c_str());
    if (c.log) command.insert(command.end(), {"--log", recording});

    e2e::Session s({.simulator = c.simulator, .command = command});
    if (!s.ok()) {
        f.error = s.error();
        return f;
    }
    // Typed during the start-up, read before the first cycle.
    if (c.page) s.SendKeys("h");
    // Generous: a slow case may take a few times the floor per cycle.
    const auto budget = [&](int n) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
            5.0 + n * f.floor * 4));
    };
    const std::size_t first = static_cast<std::size_t>(warm_up_cycles * per_cycle + 1);
    const std::size_t last = static_cast<std::size_t>((warm_up_cycles + cycles) * per_cycle + 1);
    if (!s.WaitForRequests(first, budget(warm_up_cycles) + 3s)) {
        f.error = "no cycles came" + s.Dump();
        return f;
    }
    const double cpu0 = e2e::CpuSeconds(s.pid());
    const Clock::time_point t0 = Clock::now();
    const std::size_t bytes0 = s.Output().size();
    if (!s.WaitForRequests(last, budget(cycles))) {
        f.error = "the cycles did not finish in time";
        return f;
    }
    const std::size_t bytes1 = s.Output().size();
    const double cpu1 = e2e::CpuSeconds(s.pid());
    const Clock::time_point t1 = Clock::now();
    f.peak_rss_kib = StatusKib(s.pid(), "VmHWM");
    s.SendKeys("q");
    if (!s.WaitExit(budget(1))) {
        f.error = "no exit after q";
        return f;
    }
    f.exit_code = s.exit_code();

    const std::vector<ecusim::RequestEvent> log = s.Requests();
    std::vector<double> starts;
    for (std::size_t i = first - 1; i < last && i < log.size(); i += static_cast<std::size_t>(per_cycle)) {
        if (log[i].address != 0x01) {
            f.error = "the request log is out of step with the cycles";
            return f;
        }
        starts.push_back(log[i].seconds);
    }
    if (starts.size() != static_cast<std::size_t>(cycles) + 1) {
        f.error = "short request log";
        return f;
    }
    f.cycles = cycles;
    std::vector<double> exchanges;
    for (std::size_t i = first; i < last && i < log.size(); ++i)
        exchanges.push_back(log[i].seconds - log[i - 1].seconds);
    std::sort(exchanges.begin(), exchanges.end());
    if (!exchanges.empty()) f.median_exchange = exchanges[exchanges.size() / 2];
    f.mean_period = (starts.back() - starts.front()) / cycles;
    std::vector<double> periods;
    for (std::size_t i = 1; i < starts.size(); ++i) periods.push_back(starts[i] - starts[i - 1]);
    std::sort(periods.begin(), periods.end());
    f.worst_period = periods.back();
    f.median_period = periods[periods.size() / 2];
    if (cpu0 >= 0 && cpu1 >= 0) {
        f.cpu_per_cycle = (cpu1 - cpu0) / cycles;
        f.cpu_share = (cpu1 - cpu0) / Seconds(t1 - t0);
    }
    const std::vector<std::size_t> spins = SpinnerWrites(s.Output());
    const std::size_t a = warm_up_cycles, b = warm_up_cycles + static_cast<std::size_t>(cycles);
    if (spins.size() > b) f.bytes_per_cycle = static_cast<double>(spins[b] - spins[a]) / cycles;
    // The page hides the spinner: the bytes written while the cycles ran.
    if (c.page) f.bytes_per_cycle = static_cast<double>(bytes1 - bytes0) / cycles;
    f.ok = f.exit_code == 0;
    if (!f.ok) f.error = "exit code " + std::to_string(f.exit_code);
    if (c.log) {
        std::ifstream in(recording, std::ios::binary);
        std::string header;
        std::getline(in, header);
        std::string row;
        long rows = 0, bytes = 0;
        while (std::getline(in, row)) ++rows, bytes += static_cast<long>(row.size()) + 1;
        unlink(recording.c_str());
        if (rows == 0) {
            f.ok = false;
            f.error = "nothing recorded";
        } else {
            f.bytes_per_row = static_cast<double>(bytes) / static_cast<double>(rows);
        }
    }
    return f;
}

// Runs minutes apart differ by more than a small cost on a shared machine:
// `with` and `without` alternate, round after round, and the means compare.
void PrintAlternating(const Case& with_case, const Case& without_case, int cycles, const char* with_name,
                      const char* without_name) {
    double with = 0, without = 0;
    int rounds = 0;
    for (int round = 0; round < 3; ++round) {
        const Figures a = RunCycles(without_case, cycles);
        const Figures b = RunCycles(with_case, cycles);
        if (!a.ok || !b.ok) continue;
        without += a.mean_period;
        with += b.mean_period;
        ++rounds;
    }
    if (rounds > 0)
        std::printf("  cycle period over %d alternating rounds of %d cycles: %.2f ms %s, %.2f ms %s (%+.2f %%)\n",
                    rounds, cycles, with / rounds * 1e3, with_name, without / rounds * 1e3, without_name,
                    (with / without - 1) * 100);
}


// What forcing a recording to the disk costs: a row written and fsync'd,
// as the monitor does every 2 s, on the working folder's disk.
double MedianFsyncSeconds(int times, std::size_t row_bytes) {
    const std::string path = "dialer_bench-fsync-" + std::to_string(getpid()) + ".csv";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return -1;
    const std::string row(row_bytes - 1, '7');
    std::vector<double> took;
    for (int i = 0; i < times; ++i) {
        if (write(fd, (row + "\n").data(), row_bytes) != static_cast<ssize_t>(row_bytes)) break;
        const Clock::time_point t0 = Clock::now();
        fsync(fd);
        took.push_back(Seconds(Clock::now() - t0));
    }
    close(fd);
    unlink(path.c_str());
    if (took.empty()) return -1;
    std::sort(took.begin(), took.end());
    return took[took.size() / 2];
}

struct SilentFigures {
    bool ok = false;
    std::string error;
    int requests = 0;
    double mean = 0;
    double worst = 0;
    double cpu_share = 0;
};

// A silent ECU: every request waits out both read time-outs.
SilentFigures RunSilent(int requests) {
    SilentFigures f;
    e2e::Session s({.simulator = {"--scenario", "silent"}, .command = {dialer_path, "{port}", "c"}});
    if (!s.ok()) {
        f.error = s.error();
        return f;
    }
    if (!s.WaitForRequests(1, 10s)) {
        f.error = "no request came" + s.Dump();
        return f;
    }
    const double cpu0 = e2e::CpuSeconds(s.pid());
    const Clock::time_point t0 = Clock::now();
    const auto budget = std::chrono::seconds(2 + requests);
    if (!s.WaitForRequests(static_cast<std::size_t>(requests) + 1, budget)) {
        f.error = "requests did not come in time";
        return f;
    }
    const double cpu1 = e2e::CpuSeconds(s.pid());
    const Clock::time_point t1 = Clock::now();
    // q would wait for the end of a 14 s cycle; a signal ends it at once.
    s.SendSignal(SIGTERM);
    s.WaitExit(5s);
    const std::vector<ecusim::RequestEvent> log = s.Requests();
    for (int i = 1; i <= requests; ++i) {
        const double d = log[static_cast<std::size_t>(i)].seconds - log[static_cast<std::size_t>(i) - 1].seconds;
        f.worst = std::max(f.worst, d);
    }
    f.requests = requests;
    f.mean = (log[static_cast<std::size_t>(requests)].seconds - log[0].seconds) / requests;
    if (cpu0 >= 0 && cpu1 >= 0) f.cpu_share = (cpu1 - cpu0) / Seconds(t1 - t0);
    f.ok = s.exit_code() == 128 + SIGTERM;
    if (!f.ok) f.error = "exit code " + std::to_string(s.exit_code());
    return f;
}

// What the machine itself adds to a 10 ms sleep (the monitor asks for exact
// wake-ups too): the part of the overhead no program can remove.
struct SleepLatency {
    double median = 0;  // seconds
    double mean = 0;
};

SleepLatency MeasureSleepLatency(int sleeps) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<double> late;
    for (int i = 0; i < sleeps; ++i) {
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        timespec until = start;
        until.tv_nsec += 10 * 1000 * 1000;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        timespec end{};
        clock_gettime(CLOCK_MONOTONIC, &end);
        late.push_back(static_cast<double>(end.tv_sec - until.tv_sec) +
                       static_cast<double>(end.tv_nsec - until.tv_nsec) / 1e9);
    }
    SleepLatency s;
    std::sort(late.begin(), late.end());
    s.median = late[late.size() / 2];
    for (double d : late) s.mean += d;
    s.mean /= static_cast<double>(late.size());
    return s;
}

std::string Machine() {
    std::string model = "unknown CPU";
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname u{};
    uname(&u);
    char text[512];
    std::snprintf(text, sizeof text, "%s, %ld cores online, %s %s %s", model.c_str(),
                  sysconf(_SC_NPROCESSORS_ONLN), u.sysname, u.release, u.machine);
    return text;
}

void Usage() {
    std::puts(
        "Usage: dialer_bench [--cycles N] [--silent-requests N] [--only TEXT] [--dialer PATH] [--quick]\n"
        "  --cycles N           measured cycles per case (default 100; the adapter cases half)\n"
        "  --silent-requests N  measured requests on the silent line (default 8, 0.71 s each)\n"
        "  --only TEXT          only the cases whose name holds TEXT (\"silent\" for that one)\n"
        "  --dialer PATH        the monitor to measure (default: the one built with this)\n"
        "  --quick              a smoke run: two cases for 2 cycles, 1 silent request");
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 100;
    int silent_requests = 8;
    std::string only;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto number = [&](int* out) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v < 1 || v > 100000) return false;
            *out = static_cast<int>(v);
            return true;
        };
        if (a == "--cycles") {
            if (!number(&cycles)) return Usage(), 2;
        } else if (a == "--silent-requests") {
            if (!number(&silent_requests)) return Usage(), 2;
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--dialer" && i + 1 < argc) {
            dialer_path = argv[++i];
        } else if (a == "--quick") {
            quick = true;
            cycles = 2;
            silent_requests = 1;
            warm_up_cycles = 1;
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (dialer_path.empty()) dialer_path = e2e::DialerPath();
    const int adapter_cycles = std::max(1, cycles / 2);

    // The drive scenario keeps every value moving, as on the road.
    const std::vector<std::string> drive = {"--scenario", "drive"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> o = drive;
        o.insert(o.end(), extra.begin(), extra.end());
        return o;
    };
    const std::vector<Case> cases = {
        {"instant", false, drive, 0},
        {"instant, cat", true, drive, 0},
        {"paced", false, with({"--pace"}), 0},
        {"paced, cat", true, with({"--pace"}), 0},
        {"paced, cat, --log", true, with({"--pace"}), 0, true},
        {"paced, cat, history page", true, with({"--pace"}), 0, false, true},
        {"paced, adapter 16 ms (low latency off)", false, with({"--pace", "--latency", "16"}), adapter_cycles},
        {"paced, adapter 1 ms (low latency on)", false, with({"--pace", "--latency", "1"}), adapter_cycles},
        {"paced, cat, adapter 16 ms (low latency off)", true, with({"--pace", "--latency", "16"}),
         adapter_cycles},
        {"paced, cat, adapter 1 ms (low latency on)", true, with({"--pace", "--latency", "1"}), adapter_cycles},
    };

    // The smoke run only shows that every kind of case still runs.
    auto wanted = [&](const std::string& name) {
        if (quick)
            return name == "instant" || name.find("cat, adapter 16") != std::string::npos ||
                   name.find("--log") != std::string::npos || name.find("history page") != std::string::npos;
        return only.empty() || name.find(only) != std::string::npos;
    };

    std::printf("dialer_bench: %s\n", Machine().c_str());
    std::printf("monitor: %s (%s build)\n", dialer_path.c_str(),
                dialer_path == e2e::DialerPath() ? TD_BENCH_BUILD : "another");
    const SleepLatency latency = MeasureSleepLatency(quick ? 5 : 100);
    std::printf("this machine: a 10 ms sleep ends %.0f us late (median; mean %.0f us)\n",
                latency.median * 1e6, latency.mean * 1e6);
    std::printf("floor: 10 ms after each request, %d requests a cycle (%d in cat mode); "
                "%d warm-up cycles not counted\n\n",
                kPlainRequests, kCatRequests, warm_up_cycles);
    std::printf("%-44s %6s %7s %8s %8s %8s %6s %6s %7s %7s %8s %6s\n", "case", "cycles", "cyc/s", "mean ms",
                "median", "worst ms", "ratio", "over", "CPU ms", "CPU %", "RSS KiB", "bytes");
    std::fflush(stdout);

    bool all_ok = true;
    std::optional<Figures> recorded;
    const Case* recorded_case = nullptr;
    // The recording case's twin, unrecorded: what its period is held against.
    const Case* unrecorded_case = nullptr;
    const Case* page_case = nullptr;
    for (const Case& c : cases)
        if (c.name == "paced, cat") unrecorded_case = &c;
    for (const Case& c : cases) {
        if (!wanted(c.name)) continue;
        const Figures f = RunCycles(c, c.cycles > 0 ? c.cycles : cycles);
        if (c.log && f.ok) recorded = f, recorded_case = &c;
        if (c.page && f.ok) page_case = &c;
        if (!f.ok) {
            std::printf("%-44s FAILED: %s\n", c.name.c_str(), f.error.c_str());
            all_ok = false;
            continue;
        }
        std::printf("%-44s %6d %7.2f %8.2f %8.2f %8.2f %6.4f %6.0f %7.3f %7.3f %8ld %6.0f\n", c.name.c_str(),
                    f.cycles, 1.0 / f.mean_period, f.mean_period * 1e3, f.median_period * 1e3,
                    f.worst_period * 1e3,
                    f.mean_period / f.floor, (f.median_exchange - kPauseAfterRequest) * 1e6,
                    f.cpu_per_cycle * 1e3, f.cpu_share * 100, f.peak_rss_kib, f.bytes_per_cycle);
        std::fflush(stdout);
    }

    if (recorded) {
        const double fsync_seconds = MedianFsyncSeconds(quick ? 3 : 50, static_cast<std::size_t>(recorded->bytes_per_row));
        const double syncs_per_cycle = recorded->mean_period / 2.0;  // one fsync every 2 s
        std::printf("\nrecording (--log, paced, cat): %.0f bytes a row, %.2f MB an hour at %.2f rows/s;\n"
                    "  fsync on this disk %.3f ms (median), every 2 s: %.1f us a cycle",
                    recorded->bytes_per_row, recorded->bytes_per_row * 3600 / recorded->mean_period / 1e6,
                    1.0 / recorded->mean_period, fsync_seconds * 1e3, fsync_seconds * syncs_per_cycle * 1e6);
        std::printf("\n");
        if (unrecorded_case != nullptr && !quick)
            PrintAlternating(*recorded_case, *unrecorded_case, cycles, "recording", "not");
    }

    if (page_case != nullptr) {
        std::printf("\nhistory page: the history takes %zu bytes, the page's cell grid %zu more\n",
                    sizeof(History), sizeof(ConsoleGrid));
        // The same alternation as for the recording: the page against the dashboard.
        if (unrecorded_case != nullptr && !quick)
            PrintAlternating(*page_case, *unrecorded_case, cycles, "page shown", "dashboard");
    }

    if (quick || only.empty() || std::string("silent").find(only) != std::string::npos) {
        const double expected = 2 * kReadTimeout;
        const SilentFigures f = RunSilent(silent_requests);
        if (!f.ok) {
            std::printf("\nsilent line: FAILED: %s\n", f.error.c_str());
            all_ok = false;
        } else {
            std::printf("\nsilent line, %d requests: mean %.4f s, worst %.4f s per request; "
                        "ratio %.4f to 0.7 s (two 350 ms time-outs), %.4f to 0.71 s "
                        "(with the 10 ms pause); CPU %.3f %%\n",
                        f.requests, f.mean, f.worst, f.mean / expected,
                        f.mean / (expected + kPauseAfterRequest), f.cpu_share * 100);
        }
    }
    std::printf("\ncolumns: cyc/s cycles per second; mean/median/worst cycle period; ratio = mean / floor;\n"
                "over = median time from one request to the next beyond the 10 ms pause, in us\n"
                "(the machine's own sleep lateness above is part of it);\n"
                "CPU ms = user+sys CPU time per cycle; CPU %% = of one core while cycling;\n"
                "RSS = peak resident set (VmHWM); bytes = written to the terminal per cycle.\n");
    return all_ok ? 0 : 1;
}
