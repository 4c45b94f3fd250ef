#include "harness.h"

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vterm.h>

#include "options.h"

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// After the program ended, output may still be on its way through the pty.
constexpr auto kQuietAfterExit = std::chrono::milliseconds(40);
constexpr int kPollMs = 10;

void SetCloseOnExec(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }
void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// PATH lookup done before the fork: the child may only make
// async-signal-safe calls.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return name;
}

void AppendUtf8(std::string* out, std::uint32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

const std::string& DialerPath() {
    static const std::string path = std::getenv("TD_E2E_DIALER") ? std::getenv("TD_E2E_DIALER") : TD_DIALER_PATH;
    return path;
}

const std::vector<std::string>& DialerRunner() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> split;
        std::istringstream runner(std::getenv("TD_E2E_RUNNER") ? std::getenv("TD_E2E_RUNNER") : "");
        for (std::string word; runner >> word;) split.push_back(word);
        return split;
    }();
    return words;
}

const std::string& EcusimPath() {
    static const std::string path = TD_ECUSIM_PATH;
    return path;
}

double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = -1;
    if (!(in >> ns)) return -1;
    return static_cast<double>(ns) / 1e9;
}

int AttributeOfAnsiIndex(int index) {
    // ANSI: 1 red, 2 green, 4 blue; the console: 1 blue, 2 green, 4 red.
    return ((index & 1) ? 4 : 0) | (index & 2) | ((index & 4) ? 1 : 0) | (index & 8);
}

struct Session::Impl {
    Options options;
    std::string error;
    bool ok = false;

    mutable std::recursive_mutex mutex;
    std::condition_variable_any changed;

    // The terminal.
    int master = -1;
    int slave = -1;  // kept open: the settings stay readable after the exit
    termios initial_tio{};
    VTerm* vt = nullptr;
    VTermScreen* screen = nullptr;
    VTermState* state = nullptr;
    std::string title;
    bool cursor_visible = true;
    std::string output;
    int stderr_pipe = -1;
    std::string stderr_text;

    // The program.
    pid_t pid = -1;
    bool exited = false;
    int status = 0;
    Clock::time_point start_time{};
    Clock::time_point exit_time{};

    // The simulator.
    std::unique_ptr<ecusim::Simulator> sim;
    std::thread sim_thread;
    std::vector<ecusim::RequestEvent> requests;
    int open_watch = -1;
    int port_opens = 0;

    std::thread io_thread;
    bool stopping = false;

    static int OnTermProp(VTermProp prop, VTermValue* val, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (prop == VTERM_PROP_TITLE && val->string != nullptr) self->title = val->string;
        if (prop == VTERM_PROP_CURSORVISIBLE) self->cursor_visible = val->boolean != 0;
        return 1;
    }

    // Answers the terminal owes the program (cursor reports and the like),
    // which Wine's console asks for.
    static void OnOutput(const char* s, std::size_t len, void* user) {
        auto* self = static_cast<Impl*>(user);
        while (len > 0) {
            ssize_t n = write(self->master, s, len);
            if (n <= 0) {
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return;
            }
            s += n;
            len -= static_cast<std::size_t>(n);
        }
    }

    void Feed(const char* data, std::size_t len) {
        std::lock_guard lock(mutex);
        output.append(data, len);
        vterm_input_write(vt, data, len);
        vterm_screen_flush_damage(screen);
    }

    // Reads whatever is waiting; false when nothing was.
    bool Pump(int timeout_ms) {
        pollfd fds[2] = {{master, POLLIN, 0}, {stderr_pipe, POLLIN, 0}};
        int r = poll(fds, 2, timeout_ms);
        if (r <= 0) return false;
        bool got = false;
        char buffer[8192];
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                Feed(buffer, static_cast<std::size_t>(n));
                got = true;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            ssize_t n = read(stderr_pipe, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(mutex);
                stderr_text.append(buffer, static_cast<std::size_t>(n));
                got = true;
            } else if (n == 0) {
                close(stderr_pipe);
                stderr_pipe = -1;
            }
        }
        if (got) changed.notify_all();
        return got;
    }

    void IoLoop() {
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (stopping) return;
            }
            Pump(kPollMs);
            int st = 0;
            pid_t done = waitpid(pid, &st, WNOHANG);
            if (done == pid) {
                const Clock::time_point when = Clock::now();
                Clock::time_point quiet_since = when;
                while (Clock::now() - quiet_since < kQuietAfterExit)
                    if (Pump(kPollMs)) quiet_since = Clock::now();
                {
                    std::lock_guard lock(mutex);
                    status = st;
                    exit_time = when;
                    exited = true;
                }
                changed.notify_all();
                return;
            }
        }
    }

    bool Start();
};

bool Session::Impl::Start() {
    // The simulator first: the program is to find its port ready.
    std::string sim_port;
    if (options.with_simulator) {
        ecusim::ParsedOptions parsed = ecusim::ParseOptions(options.simulator);
        if (!parsed.error.empty()) {
            error = "simulator options: " + parsed.error;
            return false;
        }
        if (!parsed.options.command.empty()) {
            error = "simulator options: no command here; use Options::command";
            return false;
        }
        sim = ecusim::Simulator::Open(parsed.options, &error);
        if (!sim) return false;
        sim->set_observer([this](const ecusim::RequestEvent& event) {
            {
                std::lock_guard lock(mutex);
                requests.push_back(event);
            }
            changed.notify_all();
        });
        sim_port = sim->port();
        // Before the watch: what the test does to the port is not the program's open.
        if (options.before_start) options.before_start(sim_port);
        open_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (open_watch >= 0) inotify_add_watch(open_watch, sim_port.c_str(), IN_OPEN);
        sim_thread = std::thread([this] { sim->Serve(); });
    }

    // The command line.
    std::vector<std::string> words = options.command;
    if (words.empty()) {
        words = DialerRunner();
        words.push_back("{dialer}");
        words.insert(words.end(), options.args.begin(), options.args.end());
    }
    for (std::string& w : words) {
        w = Replace(w, "{dialer}", DialerPath());
        w = Replace(w, "{ecusim}", EcusimPath());
        if (sim) w = Replace(w, "{port}", sim_port);
    }
    const std::string program = FindProgram(words[0]);
    if (!options.argv0.empty() && (!options.command.empty() || DialerRunner().empty())) words[0] = options.argv0;

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<std::string> extra = options.env;
    bool has_term = false;
    for (const std::string& e : extra) has_term = has_term || e.rfind("TERM=", 0) == 0;
    if (!has_term) extra.push_back("TERM=xterm");
    for (const std::string& e : extra) {
        std::string name = e.substr(0, e.find('=') + 1);
        std::erase_if(env, [&](const std::string& old) { return old.rfind(name, 0) == 0; });
        env.push_back(e);
    }
    std::vector<char*> argv, envp;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    // The terminal, with the kernel's default (cooked) settings.
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(options.rows);
    ws.ws_col = static_cast<unsigned short>(options.columns);
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    SetCloseOnExec(master);
    SetCloseOnExec(slave);
    SetNonBlocking(master);
    tcgetattr(slave, &initial_tio);

    vt = vterm_new(options.rows, options.columns);
    vterm_set_utf8(vt, 1);
    vterm_output_set_callback(vt, &Impl::OnOutput, this);
    screen = vterm_obtain_screen(vt);
    state = vterm_obtain_state(vt);
    static const VTermScreenCallbacks callbacks = {
        nullptr, nullptr, nullptr, &Impl::OnTermProp, nullptr, nullptr, nullptr, nullptr};
    vterm_screen_set_callbacks(screen, &callbacks, this);
    vterm_screen_reset(screen, 1);

    int err_pipe[2] = {-1, -1};
    if (options.capture_stderr) {
        if (pipe(err_pipe) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        SetCloseOnExec(err_pipe[0]);
        SetNonBlocking(err_pipe[0]);
    }
    const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();
    const int tty = slave;

    start_time = Clock::now();
    pid = fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        // Async-signal-safe calls only: the parent has threads.
        setsid();
        ioctl(tty, TIOCSCTTY, 0);
        dup2(tty, 0);
        dup2(tty, 1);
        dup2(err_pipe[1] >= 0 ? err_pipe[1] : tty, 2);
        if (cwd != nullptr && chdir(cwd) != 0) _exit(126);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        static const char kMessage[] = "e2e: cannot run the program\n";
        ssize_t n = write(2, kMessage, sizeof kMessage - 1);
        (void)n;
        _exit(127);
    }
    if (err_pipe[1] >= 0) close(err_pipe[1]);
    stderr_pipe = err_pipe[0];
    io_thread = std::thread([this] { IoLoop(); });
    return true;
}

Session::Session(Options options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->ok = impl_->Start();
}

Session::~Session() {
    Impl& d = *impl_;
    if (d.pid > 0 && !exited()) kill(d.pid, SIGKILL);
    if (d.io_thread.joinable()) {
        // The program is dead or dying: let the loop reap it, then leave.
        WaitExit(std::chrono::seconds(5));
        {
            std::lock_guard lock(d.mutex);
            d.stopping = true;
        }
        d.io_thread.join();
    }
    if (d.sim) d.sim->Stop();
    if (d.sim_thread.joinable()) d.sim_thread.join();
    if (d.vt) vterm_free(d.vt);
    for (int fd : {d.master, d.slave, d.stderr_pipe, d.open_watch})
        if (fd >= 0) close(fd);
}

bool Session::ok() const { return impl_->ok; }
const std::string& Session::error() const { return impl_->error; }
const std::string& Session::port() const {
    static const std::string none;
    return impl_->sim ? impl_->sim->port() : none;
}
pid_t Session::pid() const { return impl_->pid; }

std::string Session::Text(int col, int row, int len) const {
    std::lock_guard lock(impl_->mutex);
    std::string text;
    for (int c = col; c < col + len; ++c) {
        VTermScreenCell cell{};
        if (impl_->screen == nullptr || row < 0 || row >= impl_->options.rows || c < 0 ||
            c >= impl_->options.columns ||
            !vterm_screen_get_cell(impl_->screen, VTermPos{row, c}, &cell) || cell.chars[0] == 0 ||
            cell.chars[0] == static_cast<std::uint32_t>(-1)) {
            text.push_back(' ');
        } else {
            AppendUtf8(&text, cell.chars[0]);
        }
    }
    return text;
}

std::string Session::Row(int row) const {
    std::string text = Text(0, row, impl_->options.columns);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

namespace {

int AttributeOf(VTermState* state, VTermColor colour, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&colour) : VTERM_COLOR_IS_DEFAULT_BG(&colour)) return -1;
    if (VTERM_COLOR_IS_INDEXED(&colour))
        return colour.indexed.idx < 16 ? AttributeOfAnsiIndex(colour.indexed.idx) : -1;
    for (int i = 0; i < 16; ++i) {
        VTermColor p{};
        vterm_state_get_palette_color(state, i, &p);
        vterm_state_convert_color_to_rgb(state, &p);
        if (p.rgb.red == colour.rgb.red && p.rgb.green == colour.rgb.green && p.rgb.blue == colour.rgb.blue)
            return AttributeOfAnsiIndex(i);
    }
    return -1;
}

}  // namespace

int Session::Colour(int col, int row) const {
    std::lock_guard lock(impl_->mutex);
    VTermScreenCell cell{};
    if (impl_->screen == nullptr || !vterm_screen_get_cell(impl_->screen, VTermPos{row, col}, &cell))
        return -1;
    return AttributeOf(impl_->state, cell.fg, true);
}

int Session::Background(int col, int row) const {
    std::lock_guard lock(impl_->mutex);
    VTermScreenCell cell{};
    if (impl_->screen == nullptr || !vterm_screen_get_cell(impl_->screen, VTermPos{row, col}, &cell))
        return -1;
    return AttributeOf(impl_->state, cell.bg, false);
}

bool Session::Reverse(int col, int row) const {
    std::lock_guard lock(impl_->mutex);
    VTermScreenCell cell{};
    return impl_->screen != nullptr && vterm_screen_get_cell(impl_->screen, VTermPos{row, col}, &cell) &&
           cell.attrs.reverse;
}

bool Session::Underline(int col, int row) const {
    std::lock_guard lock(impl_->mutex);
    VTermScreenCell cell{};
    return impl_->screen != nullptr && vterm_screen_get_cell(impl_->screen, VTermPos{row, col}, &cell) &&
           cell.attrs.underline != 0;
}

bool Session::Find(std::string_view text, int* col, int* row) const {
    std::lock_guard lock(impl_->mutex);
    for (int r = 0; r < impl_->options.rows; ++r) {
        std::string line = Text(0, r, impl_->options.columns);
        std::size_t at = line.find(text);
        if (at != std::string::npos) {
            if (col) *col = static_cast<int>(at);
            if (row) *row = r;
            return true;
        }
    }
    return false;
}

std::string Session::Title() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->title;
}

bool Session::CursorVisible() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->cursor_visible;
}

void Session::Cursor(int* col, int* row) const {
    std::lock_guard lock(impl_->mutex);
    VTermPos pos{0, 0};
    if (impl_->state) vterm_state_get_cursorpos(impl_->state, &pos);
    if (col) *col = pos.col;
    if (row) *row = pos.row;
}

std::string Session::Dump() const {
    std::lock_guard lock(impl_->mutex);
    std::string text = "\n---- screen ----\n";
    for (int r = 0; r < impl_->options.rows; ++r) {
        char number[16];
        std::snprintf(number, sizeof number, "%2d|", r);
        text += number + Row(r) + "\n";
    }
    text += "---- end ----\n";
    if (!impl_->stderr_text.empty()) text += "stderr: " + impl_->stderr_text + "\n";
    if (impl_->exited) text += "exited, status " + std::to_string(impl_->status) + "\n";
    return text;
}

std::string Session::Output() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->output;
}

std::string Session::Stderr() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stderr_text;
}

bool Session::WaitUntil(const std::function<bool()>& condition, Duration timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(impl_->mutex);
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        // Woken by new output, a request or the exit; the short bound
        // covers conditions on anything else.
        impl_->changed.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(50)));
    }
}

bool Session::WaitForText(std::string_view text, Duration timeout) {
    return WaitUntil([&] { return Find(text); }, timeout);
}

bool Session::WaitForTextAt(int col, int row, std::string_view text, Duration timeout) {
    return WaitUntil([&] { return Text(col, row, static_cast<int>(text.size())) == text; }, timeout);
}

bool Session::WaitExit(Duration timeout) {
    if (!impl_->ok && impl_->pid <= 0) return false;
    return WaitUntil([&] { return impl_->exited; }, timeout);
}

bool Session::WaitForRequests(std::size_t count, Duration timeout) {
    return WaitUntil([&] { return impl_->requests.size() >= count; }, timeout);
}

void Session::SendKeys(std::string_view keys) {
    const char* p = keys.data();
    std::size_t left = keys.size();
    while (left > 0) {
        ssize_t n = write(impl_->master, p, left);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void Session::Resize(int columns, int rows) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->vt == nullptr) return;
    vterm_set_size(impl_->vt, rows, columns);
    impl_->options.columns = columns;
    impl_->options.rows = rows;
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(columns);
    ioctl(impl_->master, TIOCSWINSZ, &ws);
}

void Session::SendSignal(int sig) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->pid > 0 && !impl_->exited) kill(impl_->pid, sig);
}

bool Session::exited() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->exited;
}

int Session::exit_code() const {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->exited || !WIFEXITED(impl_->status)) return -1;
    return WEXITSTATUS(impl_->status);
}

int Session::exit_signal() const {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->exited || !WIFSIGNALED(impl_->status)) return 0;
    return WTERMSIG(impl_->status);
}

std::chrono::steady_clock::time_point Session::start_time() const { return impl_->start_time; }

std::chrono::steady_clock::time_point Session::exit_time() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->exit_time;
}

termios Session::SlaveTermios() const {
    termios tio{};
    if (impl_->slave >= 0) tcgetattr(impl_->slave, &tio);
    return tio;
}

bool Session::TerminalModeRestored() const {
    const termios now = SlaveTermios();
    const termios& before = impl_->initial_tio;
    return (now.c_lflag & ICANON) && (now.c_lflag & ECHO) && now.c_lflag == before.c_lflag &&
           now.c_iflag == before.c_iflag && now.c_oflag == before.c_oflag;
}

bool Session::SgrReset() const {
    std::lock_guard lock(impl_->mutex);
    if (impl_->state == nullptr) return false;
    VTermValue v{};
    vterm_state_get_penattr(impl_->state, VTERM_ATTR_FOREGROUND, &v);
    if (!VTERM_COLOR_IS_DEFAULT_FG(&v.color)) return false;
    vterm_state_get_penattr(impl_->state, VTERM_ATTR_BACKGROUND, &v);
    if (!VTERM_COLOR_IS_DEFAULT_BG(&v.color)) return false;
    for (VTermAttr attr : {VTERM_ATTR_BOLD, VTERM_ATTR_UNDERLINE, VTERM_ATTR_ITALIC, VTERM_ATTR_BLINK,
                           VTERM_ATTR_REVERSE, VTERM_ATTR_STRIKE}) {
        VTermValue a{};
        vterm_state_get_penattr(impl_->state, attr, &a);
        if (a.number != 0) return false;
    }
    return impl_->cursor_visible;
}

std::vector<ecusim::RequestEvent> Session::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<std::uint8_t> Session::RequestedAddresses() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::uint8_t> addresses;
    for (const ecusim::RequestEvent& e : impl_->requests) addresses.push_back(e.address);
    return addresses;
}

bool Session::SetScenario(std::string_view name) {
    std::optional<ecusim::Scenario> scenario = ecusim::ScenarioByName(name);
    if (!impl_->sim || !scenario) return false;
    impl_->sim->ecu().SetScenario(*scenario);
    return true;
}

void Session::SetRegister(std::uint8_t address, std::uint8_t value) {
    if (impl_->sim) impl_->sim->ecu().SetRegister(address, value);
}

void Session::Vanish(int at_request) {
    if (!impl_->sim) return;
    if (at_request >= 0)
        impl_->sim->Vanish(static_cast<std::uint8_t>(at_request));
    else
        impl_->sim->Vanish();
}

void Session::TogglePlug() {
    if (impl_->sim) impl_->sim->TogglePlug();
}

int Session::PortOpens() const {
    std::lock_guard lock(impl_->mutex);
    Impl& d = *impl_;
    if (d.open_watch < 0) return d.port_opens;
    // Events are queued by the open itself, so after the program's exit the
    // count is complete.
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = read(d.open_watch, buffer, sizeof buffer);
        if (n <= 0) break;
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            if (event->mask & IN_OPEN) ++d.port_opens;
            p += sizeof(inotify_event) + event->len;
        }
    }
    return d.port_opens;
}

}  // namespace e2e
