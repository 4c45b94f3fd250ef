// The simulated ECU: what it answers (Ecu) and the port it answers on
// (Simulator). Used by the ecusim program and, in-process, by the
// end-to-end test library.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "options.h"
#include "replay.h"
#include "scenario.h"

namespace ecusim {

// What goes back on the line for one request.
struct Answer {
    std::vector<std::uint8_t> bytes;  // echo, value, then any stray bytes
    std::size_t stray = 0;            // how many of the trailing bytes are stray
    bool late = false;                // sent only after the monitor's read time-out
    bool replay_ended = false;        // this request took the recording's last row
};

// The register model. Scenario time runs from construction (scaled by
// --speed) unless --time froze it.
class Ecu {
public:
    explicit Ecu(const SimOptions& options);

    // The answer to a request for `address` arriving `elapsed` seconds after
    // the simulator started.
    Answer Respond(std::uint8_t address, double elapsed);

    // The registers at scenario time `seconds`, overrides applied.
    RegisterImage ImageAt(double seconds) const;

    // Answers from `rows` (not empty; kept by the caller while the Ecu
    // lives) instead of the scenario. The rows' clock starts at the first
    // request and runs --speed times faster; the row answered is the last
    // whose time has come, rows the monitor was too slow for skipped. It
    // moves on at a cycle's first request (revs high), so that a cycle reads
    // one row whole, or at any request while the row has unanswered
    // readings. With --step a cycle's first request moves on one row at
    // most, once its time has come: none is left out. The last row is held.
    void Replay(const std::vector<ReplayRow>* rows);
    // The row being answered from (0 before the first cycle).
    std::size_t replay_row() const;

    // Changes while serving (from any thread), for tests that pull the
    // cable or raise a fault mid-run. Take effect from the next request.
    // A scenario set here ends a replay.
    void SetScenario(Scenario scenario);
    void SetRegister(std::uint8_t address, std::uint8_t value);  // like --set

private:
    Answer RespondFromRecording(std::uint8_t address, double elapsed);  // mutex_ held

    mutable std::mutex mutex_;
    Scenario scenario_;
    std::vector<RegisterOverride> overrides_;
    double speed_;
    std::optional<double> frozen_at_;
    RegisterImage image_{};
    double image_time_ = -1;
    std::minstd_rand stray_random_{0x5EED};
    const std::vector<ReplayRow>* replay_ = nullptr;  // null: the scenario plays
    std::size_t replay_row_ = 0;
    std::optional<double> replay_start_;  // elapsed seconds of the first request
    bool step_;
};

// One request as the simulator saw it.
struct RequestEvent {
    double seconds;                   // since the simulator started
    std::uint8_t address;
    std::vector<std::uint8_t> answer;  // as scheduled, stray bytes included
    std::size_t stray = 0;
    bool late = false;                 // sent after the monitor's read time-out
};

class Simulator {
public:
    // Opens the port: a new pseudo-terminal, or options.device set to
    // 7812 baud 8N1 raw. Null, with *error set, when that fails.
    static std::unique_ptr<Simulator> Open(const SimOptions& options, std::string* error);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The path the monitor is to open.
    const std::string& port() const { return port_; }

    // With --replay: the recording as read.
    const Recording& recording() const { return recording_; }
    // Once the last row was reached: the line that says so. Written at once
    // to stderr, unless held: options.command is set and stderr is the
    // terminal the command draws on; RunCommand writes it after the command
    // ended.
    const std::string& replay_end_note() const { return replay_end_note_; }
    bool replay_end_note_held() const { return replay_end_note_held_; }

    // Where --trace lines go (stderr unless changed); only used with trace on.
    void set_trace_output(std::FILE* out) { trace_out_ = out; }
    // Called on the serving thread for every request.
    void set_observer(std::function<void(const RequestEvent&)> observer) {
        observer_ = std::move(observer);
    }

    // Answers requests until Stop() is called.
    void Serve();
    // Makes Serve() return soon. Async-signal-safe; may be called before
    // Serve() starts, which then returns at once.
    void Stop();

    // The register model, also while serving (see Ecu::SetScenario).
    Ecu& ecu() { return ecu_; }

    // The device goes away, as when the cable is pulled: the serving thread
    // closes its side of the line (both ends of its pseudo-terminal hold)
    // and answers nothing more. From any thread; Serve() goes on until Stop().
    // With an address, that happens when that request arrives (unanswered).
    void Vanish(std::optional<std::uint8_t> at_request = std::nullopt);

    // Pulls the adapter out (the pseudo-terminal goes away, and the --link
    // with it), or plugs it back in: a new pseudo-terminal under the same
    // link. From any thread, also from a signal handler.
    void TogglePlug();

private:
    Simulator(const SimOptions& options);
    bool OpenPty(std::string* error);
    bool OpenDevice(std::string* error);
    void HandleRequest(std::uint8_t address, std::chrono::steady_clock::time_point now);
    void WriteBytes(const std::uint8_t* bytes, std::size_t count, std::size_t stray);
    // Bytes on the line towards the monitor: through the adapter model.
    void Deliver(std::vector<std::uint8_t> bytes, std::size_t stray, std::chrono::steady_clock::time_point now);
    void CloseLine();
    void Trace(const char* what, const std::uint8_t* bytes, std::size_t count, std::size_t stray);
    double Elapsed(std::chrono::steady_clock::time_point when) const;
    void ReleaseExclusive();
    bool PointLink(std::string* error);
    void PullOut();
    void PlugBackIn();

    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> bytes;
        std::size_t stray;
        bool in_adapter = false;  // held_: written as it stands when due
    };

    SimOptions options_;
    Ecu ecu_;
    Recording recording_;  // --replay
    std::string replay_end_note_;
    bool replay_end_note_held_ = false;
    std::string port_;
    int io_fd_ = -1;         // pty master, or the device
    int slave_fd_ = -1;      // pty only: held open so the line never hangs up
    int watch_fd_ = -1;      // pty only: notices the monitor closing the port
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::FILE* trace_out_ = stderr;
    std::function<void(const RequestEvent&)> observer_;
    std::chrono::steady_clock::time_point start_;
    std::vector<Pending> pending_;  // paced bytes not yet sent, in order
    // Bytes already on their way that a new request cannot call back: late
    // answers, and what the adapter holds until its latency timer fires.
    // Ordered by due time.
    std::vector<Pending> held_;
    std::atomic<int> vanish_at_{-1};  // request address that pulls the cable
    std::string pty_name_;            // the pseudo-terminal now behind the port
    bool unplugged_ = false;
    // --unplug as a timeline: seconds since the start, pulled (true) or back.
    std::vector<std::pair<double, bool>> plug_events_;
    std::size_t next_plug_event_ = 0;
};

}  // namespace ecusim
