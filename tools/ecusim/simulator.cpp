#include "simulator.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/inotify.h>
#endif

#include "encoders.h"
#include "platform/serial_posix.h"

namespace ecusim {
namespace {

using Clock = std::chrono::steady_clock;

// 10 bits a byte at 7812 baud.
constexpr auto kByteTime = std::chrono::microseconds(1280);
// Between the end of a request and the start of the ECU's value byte.
constexpr auto kReactionTime = std::chrono::microseconds(1500);
// A new image is worked out at most this often (scenario seconds).
constexpr double kImageRefresh = 0.05;
// The late scenario answers after the monitor's first read (350 ms) has
// given up, well before its second would.
constexpr auto kLateBy = std::chrono::milliseconds(400);

// The low bytes of 16-bit readings: the monitor asks for them straight after
// their high bytes, so the image must not change in between.
bool IsLowHalf(std::uint8_t address) {
    return address == kRevsLow || address == kInjectorsLow || address == kVaeLow ||
           address == kLambdaIntegratorLow;
}

// The bit a recording's "Unanswered (readings)" column gives the reading
// that `address` belongs to (the dashboard's order, then the fault bytes).
std::uint16_t ReadingBitOf(std::uint8_t address) {
    static constexpr signed char kReadingOf[22] = {-1, 0, 0, 1, 1, 2, 3, 4, 5, 6, 7,
                                                   -1, 8, 9, 9, 12, 13, 14, 10, 10, 11, 15};
    const int reading = address < 22 ? kReadingOf[address] : -1;
    return reading < 0 ? 0 : static_cast<std::uint16_t>(1u << reading);
}

void SetCloseOnExec(int fd) {
    int flags = fcntl(fd, F_GETFD);
    if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return;  // the line is gone; the request simply goes unanswered
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

// Only a symbolic link is ever removed or replaced: --link given a file
// or a device node by mistake must not delete it.
bool IsSymlinkOrAbsent(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISLNK(st.st_mode);
}

void UnlinkSymlink(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(path.c_str());
}

}  // namespace

Ecu::Ecu(const SimOptions& options)
    : scenario_(options.scenario),
      overrides_(options.overrides),
      speed_(options.speed),
      frozen_at_(options.frozen_at),
      step_(options.step) {}

RegisterImage Ecu::ImageAt(double seconds) const {
    std::lock_guard lock(mutex_);
    RegisterImage image = EncodeState(ScenarioState(scenario_, seconds));
    for (const RegisterOverride& o : overrides_) image[o.address] = o.value;
    return image;
}

void Ecu::SetScenario(Scenario scenario) {
    std::lock_guard lock(mutex_);
    scenario_ = scenario;
    replay_ = nullptr;
    image_time_ = -1;
}

void Ecu::Replay(const std::vector<ReplayRow>* rows) {
    std::lock_guard lock(mutex_);
    replay_ = rows;
    replay_row_ = 0;
    replay_start_.reset();
}

std::size_t Ecu::replay_row() const {
    std::lock_guard lock(mutex_);
    return replay_row_;
}

Answer Ecu::RespondFromRecording(std::uint8_t address, double elapsed) {
    Answer answer;
    const std::vector<ReplayRow>& rows = *replay_;
    if (!replay_start_) {
        replay_start_ = elapsed;
        answer.replay_ended = rows.size() == 1;
    } else if (step_) {
        if (address == kRevsHigh && replay_row_ + 1 < rows.size() &&
            (elapsed - *replay_start_) * speed_ >= rows[replay_row_ + 1].seconds - rows.front().seconds) {
            ++replay_row_;
            answer.replay_ended = replay_row_ + 1 == rows.size();
        }
    } else {
        // A row with answers moves on only at a cycle's first request, so a
        // cycle reads it whole; a row with unanswered readings at any
        // request, or its silent exchanges would hold the clock back for a
        // whole slow cycle.
        const ReplayRow& now = rows[replay_row_];
        if (address == kRevsHigh || now.silent || now.unanswered != 0) {
            const double due = rows.front().seconds + (elapsed - *replay_start_) * speed_;
            std::size_t row = replay_row_;
            while (row + 1 < rows.size() && rows[row + 1].seconds <= due) ++row;
            if (row != replay_row_) {
                replay_row_ = row;
                answer.replay_ended = row + 1 == rows.size();
            }
        }
    }
    const ReplayRow& row = rows[replay_row_];
    if (row.silent || (row.unanswered & ReadingBitOf(address)) != 0) return answer;
    std::uint8_t value = address < row.registers.size() ? row.registers[address] : 0;
    for (const RegisterOverride& o : overrides_)
        if (o.address == address) value = o.value;
    answer.bytes = {address, value};
    return answer;
}

void Ecu::SetRegister(std::uint8_t address, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    overrides_.push_back({address, value});
    image_time_ = -1;
}

Answer Ecu::Respond(std::uint8_t address, double elapsed) {
    {
        std::lock_guard lock(mutex_);
        if (replay_ != nullptr) return RespondFromRecording(address, elapsed);
    }
    Answer answer;
    Scenario scenario;
    bool refresh;
    const double t = frozen_at_ ? *frozen_at_ : elapsed * speed_;
    {
        std::lock_guard lock(mutex_);
        scenario = scenario_;
        refresh = image_time_ < 0 || (!IsLowHalf(address) && std::fabs(t - image_time_) >= kImageRefresh);
        if (refresh) image_time_ = t;
    }
    if (scenario == Scenario::kSilent) return answer;
    answer.bytes.push_back(address);
    if (scenario == Scenario::kEcho) return answer;

    if (refresh) image_ = ImageAt(t);
    answer.bytes.push_back(image_[address]);

    answer.late = scenario == Scenario::kLate;
    if (scenario == Scenario::kStray) {
        const std::size_t count = 1 + stray_random_() % 3;
        for (std::size_t i = 0; i < count; ++i)
            answer.bytes.push_back(static_cast<std::uint8_t>(stray_random_() & 0xFF));
        answer.stray = count;
    }
    return answer;
}

Simulator::Simulator(const SimOptions& options)
    : options_(options), ecu_(options), start_(Clock::now()) {
    for (const Unplug& u : options.unplugs) {
        plug_events_.push_back({u.at, true});
        plug_events_.push_back({u.at + u.span, false});
    }
    std::stable_sort(plug_events_.begin(), plug_events_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::unique_ptr<Simulator> Simulator::Open(const SimOptions& options, std::string* error) {
    std::unique_ptr<Simulator> sim(new Simulator(options));
    // A file that is no recording is refused before any port exists.
    if (!options.replay.empty()) {
        if (!LoadRecording(options.replay, &sim->recording_, error)) return nullptr;
        sim->ecu_.Replay(&sim->recording_.rows);
    }
    // The end of a replay said mid-screen would land in the monitor's
    // dashboard; said into a log or another terminal it is wanted at once.
    struct stat out{}, err{};
    sim->replay_end_note_held_ = !options.command.empty() && isatty(STDERR_FILENO) && isatty(STDOUT_FILENO) &&
                                 fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
                                 out.st_rdev == err.st_rdev;
    int wake[2];
    if (pipe(wake) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    sim->wake_read_ = wake[0];
    sim->wake_write_ = wake[1];
    SetCloseOnExec(wake[0]);
    SetCloseOnExec(wake[1]);
    fcntl(wake[1], F_SETFL, fcntl(wake[1], F_GETFL) | O_NONBLOCK);

    bool ok = options.device.empty() ? sim->OpenPty(error) : sim->OpenDevice(error);
    if (!ok) return nullptr;
    return sim;
}

bool Simulator::OpenPty(std::string* error) {
    // The POSIX calls rather than openpty(), whose header differs between
    // Linux and macOS.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) close(master);
        return false;
    }
    io_fd_ = master;
    SetCloseOnExec(master);
    const char* slave_name = ptsname(master);
    if (slave_name == nullptr) {
        *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const std::string name = slave_name;
    // Holding the slave open keeps the master from seeing a hang-up each
    // time the monitor closes the port, so one simulator serves many runs.
    slave_fd_ = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave_fd_ < 0 || tcgetattr(slave_fd_, &raw) != 0) {
        *error = "cannot open the pseudo-terminal " + name + ": " + std::strerror(errno);
        return false;
    }
    cfmakeraw(&raw);
    tcsetattr(slave_fd_, TCSANOW, &raw);
    pty_name_ = name;
    port_ = options_.link.empty() ? pty_name_ : options_.link;
    if (!options_.link.empty() && !PointLink(error)) return false;
#if defined(__linux__)
    // The monitor opens the port exclusively (TIOCEXCL). On a pty that mark
    // outlives the monitor, because this end keeps the line alive, and would
    // refuse the next run; so it is lifted whenever the monitor lets go.
    watch_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_fd_ >= 0 && inotify_add_watch(watch_fd_, name.c_str(), IN_CLOSE_WRITE) < 0) {
        close(watch_fd_);
        watch_fd_ = -1;
    }
#endif
    return true;
}

bool Simulator::OpenDevice(std::string* error) {
    const std::string& path = options_.device;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open device '" + path + "': " + std::strerror(errno);
        return false;
    }
    io_fd_ = fd;
    if (!isatty(fd)) {
        *error = "'" + path + "' is not a serial device";
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = "device '" + path + "' is in use by another program";
        return false;
    }
    ioctl(fd, TIOCEXCL);

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        *error = "cannot read the line settings of '" + path + "': " + std::strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = "cannot set up '" + path + "': " + std::strerror(errno);
        return false;
    }
    posix_set_custom_baud(fd, 7812);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    tcflush(fd, TCIOFLUSH);
    port_ = path;
    return true;
}

// The link is replaced in one step: whoever opens it finds the old
// pseudo-terminal or the new one, never nothing.
bool Simulator::PointLink(std::string* error) {
    const std::string temporary = options_.link + ".ecusim-new";
    for (const std::string& path : {options_.link, temporary}) {
        if (!IsSymlinkOrAbsent(path)) {
            *error = "--link '" + path + "' is already there and is not a symbolic link; only a link is replaced";
            return false;
        }
    }
    UnlinkSymlink(temporary);
    if (symlink(pty_name_.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), options_.link.c_str()) != 0) {
        *error = "cannot make the link '" + options_.link + "': " + std::strerror(errno);
        UnlinkSymlink(temporary);
        return false;
    }
    return true;
}

void Simulator::PullOut() {
    if (unplugged_) return;
    unplugged_ = true;
    CloseLine();
    if (watch_fd_ >= 0) close(watch_fd_);
    watch_fd_ = -1;
    if (!options_.link.empty()) UnlinkSymlink(options_.link);
    Trace("unplugged", nullptr, 0, 0);
}

void Simulator::PlugBackIn() {
    if (!unplugged_) return;
    std::string error;
    if (!OpenPty(&error)) {
        Trace(("cannot plug back in: " + error).c_str(), nullptr, 0, 0);
        return;
    }
    unplugged_ = false;
    Trace(("plugged in as " + pty_name_).c_str(), nullptr, 0, 0);
}

void Simulator::TogglePlug() {
    const char c = 'p';
    ssize_t n = write(wake_write_, &c, 1);
    (void)n;
}

Simulator::~Simulator() {
    for (int fd : {io_fd_, slave_fd_, watch_fd_, wake_read_, wake_write_})
        if (fd >= 0) close(fd);
    if (!options_.link.empty()) UnlinkSymlink(options_.link);
}

void Simulator::Stop() {
    const char c = 's';
    ssize_t n = write(wake_write_, &c, 1);
    (void)n;  // a full pipe already says "stop"
}

double Simulator::Elapsed(Clock::time_point when) const {
    return std::chrono::duration<double>(when - start_).count();
}

void Simulator::Trace(const char* what, const std::uint8_t* bytes, std::size_t count,
                      std::size_t stray) {
    if (!options_.trace || trace_out_ == nullptr) return;
    char line[256];
    int n = std::snprintf(line, sizeof line, "ecusim %11.6f %s", Elapsed(Clock::now()), what);
    for (std::size_t i = 0; i < count && n > 0 && n < static_cast<int>(sizeof line) - 16; ++i) {
        if (stray > 0 && i == count - stray) n += std::snprintf(line + n, sizeof line - n, " +stray");
        n += std::snprintf(line + n, sizeof line - n, " %02x", bytes[i]);
    }
    std::fprintf(trace_out_, "%s\n", line);
    std::fflush(trace_out_);
}

void Simulator::WriteBytes(const std::uint8_t* bytes, std::size_t count, std::size_t stray) {
    if (count == 0) return;
    WriteAll(io_fd_, bytes, count);
    Trace("tx", bytes, count, stray);
}

void Simulator::Vanish(std::optional<std::uint8_t> at_request) {
    if (at_request) {
        vanish_at_ = *at_request;
        return;
    }
    const char c = 'v';
    ssize_t n = write(wake_write_, &c, 1);
    (void)n;
}

void Simulator::CloseLine() {
    Trace("line closed", nullptr, 0, 0);
    for (int* fd : {&io_fd_, &slave_fd_})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    pending_.clear();
    held_.clear();
}

void Simulator::Deliver(std::vector<std::uint8_t> bytes, std::size_t stray, Clock::time_point now) {
    if (options_.latency_ms <= 0) {
        WriteBytes(bytes.data(), bytes.size(), stray);
        return;
    }
    // The adapter's latency timer runs freely; at each tick whatever it has
    // received goes to the host. So bytes wait for the next tick.
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(options_.latency_ms));
    const auto since = now - start_;
    const auto ticks = (since.count() + period.count() - 1) / period.count();
    const Clock::time_point due = start_ + period * ticks;
    auto at = std::upper_bound(held_.begin(), held_.end(), due,
                               [](Clock::time_point t, const Pending& p) { return t < p.due; });
    held_.insert(at, Pending{due, std::move(bytes), stray, true});
}

void Simulator::HandleRequest(std::uint8_t address, Clock::time_point now) {
    Trace("rx", &address, 1, 0);
    // A new request means the monitor has given up on the last one: what is
    // still owed for it would only land in the middle of this exchange.
    if (!pending_.empty()) {
        std::size_t dropped = 0;
        for (const Pending& p : pending_) dropped += p.bytes.size();
        char what[48];
        std::snprintf(what, sizeof what, "dropped %zu late byte(s)", dropped);
        Trace(what, nullptr, 0, 0);
        pending_.clear();
    }

    Answer answer = ecu_.Respond(address, Elapsed(now));
    if (observer_) observer_(RequestEvent{Elapsed(now), address, answer.bytes, answer.stray, answer.late});
    if (answer.replay_ended) {
        char note[160];
        std::snprintf(note, sizeof note, "ecusim: end of the recording (%zu rows, %.3f s): holding the last row",
                      recording_.rows.size(), recording_.rows.back().seconds);
        replay_end_note_ = note;
        Trace("end of the recording", nullptr, 0, 0);
        if (!replay_end_note_held_) {
            std::fprintf(stderr, "%s\n", note);
            std::fflush(stderr);
        }
    }
    if (answer.bytes.empty()) return;

    if (answer.late) {
        // Not called back by the next request: the monitor finds the rest
        // of a late answer waiting when it asks again.
        const Clock::time_point due = now + kLateBy;
        auto at = std::upper_bound(held_.begin(), held_.end(), due,
                                   [](Clock::time_point t, const Pending& p) { return t < p.due; });
        held_.insert(at, Pending{due, std::move(answer.bytes), answer.stray});
        return;
    }
    if (!options_.pace) {
        Deliver(std::move(answer.bytes), answer.stray, now);
        return;
    }
    // On the real line the echo comes back while the request is still
    // going out, one byte time after the monitor wrote it; the value
    // follows after the ECU's reaction and its own byte time. Stray bytes
    // ride with the value.
    pending_.push_back({now + kByteTime, {answer.bytes[0]}, 0});
    if (answer.bytes.size() > 1)
        pending_.push_back({now + 2 * kByteTime + kReactionTime,
                            std::vector<std::uint8_t>(answer.bytes.begin() + 1, answer.bytes.end()),
                            answer.stray});
}

void Simulator::ReleaseExclusive() {
#if defined(__linux__)
    alignas(inotify_event) char buffer[4096];
    while (read(watch_fd_, buffer, sizeof buffer) > 0) {
    }
    ioctl(slave_fd_, TIOCNXCL);
#endif
}

void Simulator::Serve() {
    for (;;) {
        timespec timeout{};
        timespec* timeout_ptr = nullptr;
        std::optional<Clock::time_point> next;
        if (!pending_.empty()) next = pending_.front().due;
        if (!held_.empty() && (!next || held_.front().due < *next)) next = held_.front().due;
        if (next_plug_event_ < plug_events_.size()) {
            const Clock::time_point due =
                start_ + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(plug_events_[next_plug_event_].first));
            if (!next || due < *next) next = due;
        }
        if (next) {
            auto left = *next - Clock::now();
            if (left < Clock::duration::zero()) left = Clock::duration::zero();
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout_ptr = &timeout;
        }
        pollfd fds[3] = {{wake_read_, POLLIN, 0}, {io_fd_, POLLIN, 0}, {watch_fd_, POLLIN, 0}};
#if defined(__linux__)
        int r = ppoll(fds, 3, timeout_ptr, nullptr);
#else
        // Without ppoll, round up to whole milliseconds.
        int timeout_ms = -1;
        if (timeout_ptr != nullptr)
            timeout_ms = static_cast<int>(timeout.tv_sec * 1000 + (timeout.tv_nsec + 999999) / 1000000);
        int r = poll(fds, 3, timeout_ms);
#endif
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) {
            char commands[16];
            ssize_t n = read(wake_read_, commands, sizeof commands);
            bool stop = n <= 0;
            for (ssize_t i = 0; i < n; ++i) {
                if (commands[i] == 'v')
                    CloseLine();
                else if (commands[i] == 'p')
                    unplugged_ ? PlugBackIn() : PullOut();
                else
                    stop = true;
            }
            if (stop) return;
        }
        if (fds[2].revents & POLLIN) ReleaseExclusive();
        if (fds[1].revents & POLLIN) {
            std::uint8_t buffer[256];
            ssize_t n = read(io_fd_, buffer, sizeof buffer);
            const Clock::time_point now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == vanish_at_) {
                    vanish_at_ = -1;
                    CloseLine();
                    break;
                }
                HandleRequest(buffer[i], now);
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // A device that went away: wait for it rather than spin.
            timespec pause{0, 50 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        const Clock::time_point now = Clock::now();
        while (next_plug_event_ < plug_events_.size() && Elapsed(now) >= plug_events_[next_plug_event_].first)
            plug_events_[next_plug_event_++].second ? PullOut() : PlugBackIn();
        while (!pending_.empty() && pending_.front().due <= now) {
            Pending p = std::move(pending_.front());
            pending_.erase(pending_.begin());
            Deliver(std::move(p.bytes), p.stray, now);
        }
        while (!held_.empty() && held_.front().due <= now) {
            Pending p = std::move(held_.front());
            held_.erase(held_.begin());
            if (p.in_adapter)
                WriteBytes(p.bytes.data(), p.bytes.size(), p.stray);
            else
                Deliver(std::move(p.bytes), p.stray, now);
        }
    }
}

}  // namespace ecusim
