// POSIX serial port: termios raw 8N1, poll-based read time-out.
#include "platform/serial.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <dirent.h>
#include <sys/sysmacros.h>
#elif defined(__APPLE__)
#include <sys/sysctl.h>
#endif

#include "platform/serial_posix.h"
#include "platform/sleep.h"

namespace {

constexpr int kReadTimeoutMs = 350;

// Handles carry fd + 1 so that fd 0 is not the null handle.
int fd_of(PortHandle port) {
    if (port == nullptr || port == port_invalid()) return -1;
    return static_cast<int>(reinterpret_cast<std::intptr_t>(port)) - 1;
}

PortHandle handle_of(int fd) {
    return reinterpret_cast<PortHandle>(static_cast<std::intptr_t>(fd) + 1);
}

// The fd the signal handlers may have to release; -1 when none is open.
volatile int open_fd = -1;

// The device went away (an adapter unplugged, a pty whose other side closed):
// set by the first call that finds out, cleared by the next open.
bool vanished = false;

// The errors a device that is gone gives, rather than one still there.
void note_failure(int error) {
    if (error == EIO || error == ENXIO || error == ENODEV) vanished = true;
}

void sleep_until(std::uint64_t deadline) {
    const std::uint64_t now = clock_ms();
    if (now < deadline) sleep_ms(static_cast<std::uint32_t>(deadline - now));
}

bool parse_port_number(const char* arg, unsigned long* number) {
    if (arg[0] < '0' || arg[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long n = std::strtoul(arg, &end, 10);
    if (errno != 0 || *end != '\0' || n == 0 || n > 100000) return false;
    *number = n;
    return true;
}

PortOpenError open_error{};

PortHandle fail(PortFailure failure) {
    open_error.failure = failure;
    return port_invalid();
}

PortFailure failure_of_errno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
        case EIO:  // a ttyS node with no UART behind it
            return PortFailure::kNoSuchPort;
        case EBUSY:
        case EWOULDBLOCK:  // flock: another monitor
            return PortFailure::kInUse;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortFailure::kNoPermission;
        case EISDIR:
        case ENOTTY:
            return PortFailure::kNotASerialPort;
        default:
            return PortFailure::kOther;
    }
}

// The group that may use `name`, when joining it would give access: the
// group may read and write it and is not root's.
void note_group_of(const char* name) {
    open_error.group[0] = '\0';
    struct stat st{};
    if (stat(name, &st) != 0 || st.st_gid == 0) return;
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return;
    group entry{};
    group* found = nullptr;
    char buffer[1024];
    if (getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return;
    std::snprintf(open_error.group, sizeof open_error.group, "%s", found->gr_name);
}

PortHandle fail_errno(int error, const char* name) {
    PortFailure failure = failure_of_errno(error);
    if (failure == PortFailure::kNoPermission) note_group_of(name);
    std::snprintf(open_error.system_text, sizeof open_error.system_text, "%s", std::strerror(error));
    return fail(failure);
}

bool same_device(const char* path, dev_t rdev) {
    struct stat st{};
    return stat(path, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev;
}

#if defined(__linux__)
// The serial ports the kernel writes its console to (console=ttyS0 on a
// server or a virtual machine): a line that is not free for an ECU.
bool kernel_console(dev_t rdev) {
    int fd = open("/sys/class/tty/console/active", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char names[256];
    const ssize_t n = read(fd, names, sizeof names - 1);
    close(fd);
    if (n <= 0) return false;
    names[n] = '\0';
    char* save = nullptr;
    for (char* name = strtok_r(names, " \n", &save); name != nullptr; name = strtok_r(nullptr, " \n", &save)) {
        char path[280];
        std::snprintf(path, sizeof path, "/dev/%s", name);
        if (same_device(path, rdev)) return true;
    }
    return false;
}

// Whether the terminal `rdev` controls some process's session: the device
// number stands in the seventh field of /proc/<pid>/stat. Such a terminal
// is a user's shell or a login line, never a free port, however it came by
// its name (a pty number reused after the simulator ended, for one).
bool controls_a_session(dev_t rdev) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    bool found = false;
    while (!found) {
        const dirent* e = readdir(proc);
        if (e == nullptr) break;
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%.24s/stat", e->d_name);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;  // ended meanwhile
        char text[512];
        const ssize_t n = read(fd, text, sizeof text - 1);
        close(fd);
        if (n <= 0) continue;
        text[n] = '\0';
        // The command name in parentheses may hold anything, ')' included.
        const char* rest = std::strrchr(text, ')');
        char state = 0;
        int ppid = 0, pgrp = 0, session = 0;
        unsigned tty = 0;
        if (rest == nullptr || std::sscanf(rest + 1, " %c %d %d %d %u", &state, &ppid, &pgrp, &session, &tty) != 5)
            continue;
        const unsigned tty_major = (tty >> 8) & 0xFFFu;
        const unsigned tty_minor = (tty & 0xFFu) | ((tty >> 12) & 0xFFF00u);
        found = tty != 0 && tty_major == major(rdev) && tty_minor == minor(rdev);
    }
    closedir(proc);
    return found;
}
#elif defined(__APPLE__)
// Whether the terminal `rdev` controls some process's session: the system
// lists the processes whose controlling terminal it is.
bool controls_a_session(dev_t rdev) {
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_TTY, static_cast<int>(rdev)};
    kinfo_proc procs[1];
    std::size_t len = sizeof procs;
    if (sysctl(mib, 4, procs, &len, nullptr, 0) != 0) return errno == ENOMEM;  // more than one
    return len >= sizeof procs[0];
}
#else
bool controls_a_session(dev_t) { return false; }
#endif

#if defined(__linux__)
// A Unix98 pseudo-terminal (/dev/pts/N: majors 136 to 143) and its number N,
// -1 when the name does not lead to /dev/pts/N.
bool pty_of(const char* name, int* index) {
    struct stat st{};
    if (stat(name, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    if (major(st.st_rdev) < 136 || major(st.st_rdev) > 143) return false;
    *index = -1;
    char real[PATH_MAX];
    if (realpath(name, real) == nullptr || std::strncmp(real, "/dev/pts/", 9) != 0) return true;
    char* end = nullptr;
    const long n = std::strtol(real + 9, &end, 10);
    if (end != real + 9 && *end == '\0' && n >= 0 && n < INT_MAX) *index = static_cast<int>(n);
    return true;
}

// When the process `pid` started (field 22 of /proc/<pid>/stat); 0 unknown.
std::uint64_t started_at(long pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[1024];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    const char* p = std::strrchr(text, ')');
    if (p == nullptr) return 0;
    ++p;
    for (int field = 3; field < 22; ++field) {  // ')' ends field 2
        while (*p == ' ') ++p;
        while (*p != ' ' && *p != '\0') ++p;
    }
    return std::strtoull(p, nullptr, 10);
}

// Whether the process `pid` holds the master side of pty number `index`: a
// /dev/ptmx descriptor whose fdinfo says "tty-index: <index>".
bool holds_pty(long pid, int index) {
    char dir_path[64];
    std::snprintf(dir_path, sizeof dir_path, "/proc/%ld/fd", pid);
    DIR* dir = opendir(dir_path);
    if (dir == nullptr) return false;
    bool found = false;
    while (!found) {
        const dirent* e = readdir(dir);
        if (e == nullptr) break;
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        char path[128];
        char target[64];
        std::snprintf(path, sizeof path, "/proc/%ld/fd/%.20s", pid, e->d_name);
        const ssize_t len = readlink(path, target, sizeof target - 1);
        if (len <= 0) continue;
        target[len] = '\0';
        if (std::strcmp(target, "/dev/ptmx") != 0 && std::strcmp(target, "/dev/pts/ptmx") != 0) continue;
        std::snprintf(path, sizeof path, "/proc/%ld/fdinfo/%.20s", pid, e->d_name);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char info[512];
        const ssize_t n = read(fd, info, sizeof info - 1);
        close(fd);
        if (n <= 0) continue;
        info[n] = '\0';
        const char* line = std::strstr(info, "tty-index:");
        found = line != nullptr && std::strtol(line + 10, nullptr, 10) == index;
    }
    closedir(dir);
    return found;
}

// The program other than this one that holds pty number `index`; 0 none found.
long pty_holder(int index) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    const long self = static_cast<long>(getpid());
    long holder = 0;
    while (holder == 0) {
        const dirent* e = readdir(proc);
        if (e == nullptr) break;
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        const long pid = std::strtol(e->d_name, nullptr, 10);
        if (pid != self && holds_pty(pid, index)) holder = pid;
    }
    closedir(proc);
    return holder;
}
#elif defined(__APPLE__)
// macOS names no pty's master holder to another program, so a pty is known
// as one (/dev/ttysNNN) but never as whose.
bool pty_of(const char* name, int* index) {
    char real[PATH_MAX];
    *index = -1;
    return realpath(name, real) != nullptr && std::strncmp(real, "/dev/ttys", 9) == 0 && real[9] >= '0' &&
           real[9] <= '9';
}
#else
bool pty_of(const char*, int* index) {
    *index = -1;
    return false;
}
#endif

// A terminal that is not a serial line: this program's own (taking it would
// leave the user without a keyboard and the terminal exclusive after the
// exit), the system console, a virtual console, the pty multiplexer, or the
// controlling terminal of another session (whose keystrokes the monitor
// would eat and whose line it would set to 7812 baud raw).
// Nothing is asked of the device but its identity.
PortFailure terminal_refusal(int fd, dev_t rdev) {
    const pid_t own_session = getsid(0);
    const pid_t port_session = tcgetsid(fd);
    if (port_session >= 0 && port_session == own_session) return PortFailure::kOwnTerminal;
    for (int std_fd = STDIN_FILENO; std_fd <= STDERR_FILENO; ++std_fd) {
        struct stat st{};
        if (fstat(std_fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev)
            return PortFailure::kOwnTerminal;
    }
    if (same_device("/dev/tty", rdev)) return PortFailure::kOwnTerminal;
    if (same_device("/dev/console", rdev)) return PortFailure::kSystemConsole;
    if (same_device("/dev/ptmx", rdev)) return PortFailure::kNotASerialPort;
#if defined(__linux__)
    if (major(rdev) == 4 && minor(rdev) < 64) return PortFailure::kNotASerialPort;  // tty0..tty63
    if (kernel_console(rdev)) return PortFailure::kSystemConsole;
#endif
    if (controls_a_session(rdev)) return PortFailure::kTerminalInUse;
    return PortFailure::kNone;
}

// Whatever the open changed, put back; then the descriptor goes.
// Async-signal-safe.
void release(int fd) {
    posix_restore_line(fd);
    ioctl(fd, TIOCNXCL);
    close(fd);
}

// The bare names serial devices go by, present or not: ttyUSB0, ttyACM0,
// ttyAMA0, serial0 (a Raspberry Pi's UART), cu.usbserial-10 on macOS. An
// absent one is a missing device, not a word that names no port.
bool serial_device_word(const char* arg) {
    for (const char* prefix : {"tty", "cu.", "serial"}) {
        const std::size_t len = std::strlen(prefix);
        if (std::strncmp(arg, prefix, len) == 0 && arg[len] != '\0') return true;
    }
    return false;
}

}  // namespace

PortHandle port_invalid() { return reinterpret_cast<PortHandle>(static_cast<std::intptr_t>(-1)); }

bool port_format_name(char* out, std::size_t size, const char* arg) {
    unsigned long number = 0;
    int n = 0;
    char dev_path[256];
    struct stat st{};
    if (std::strchr(arg, '/') != nullptr) {
        n = std::snprintf(out, size, "%s", arg);
    } else if (parse_port_number(arg, &number)) {
        n = std::snprintf(out, size, "/dev/ttyS%lu", number - 1);
    } else if (arg[0] != '\0' &&
               std::snprintf(dev_path, sizeof dev_path, "/dev/%s", arg) < static_cast<int>(sizeof dev_path) &&
               ((stat(dev_path, &st) == 0 && S_ISCHR(st.st_mode)) || serial_device_word(arg))) {
        n = std::snprintf(out, size, "%s", dev_path);
    } else {
        // Names no device: shown as the user gave it, never opened.
        n = std::snprintf(out, size, "%s", arg);
    }
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

PortHandle port_open(const char* name) {
    open_error = PortOpenError{};
    // Only explicit paths are opened: a bare word must never reach a file
    // in the current directory.
    if (std::strchr(name, '/') == nullptr) return fail(PortFailure::kNotAPortName);

    int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail_errno(errno, name);
    // Started with stdin, stdout or stderr closed, the port would take that
    // number: the keyboard would read answer bytes as keys (a stray 'q'
    // quits) and the dashboard would be written to the ECU. Move it up.
    if (fd <= STDERR_FILENO) {
        int high = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        const int error = errno;
        close(fd);
        if (high < 0) return fail_errno(error, name);
        fd = high;
    }

    // A regular file, a directory or a pipe is not a serial line, nor is
    // every terminal; refuse them before anything is set or written.
    struct stat st{};
    PortFailure refusal = PortFailure::kNotASerialPort;
    if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && isatty(fd)) refusal = terminal_refusal(fd, st.st_rdev);
    if (refusal != PortFailure::kNone) {
        close(fd);
        return fail(refusal);
    }
    // Exclusive use: TIOCEXCL keeps other (non-root) openers out, flock also
    // stops a second monitor run as root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return fail_errno(error, name);
    }
    posix_save_line(fd);
    ioctl(fd, TIOCEXCL);
    vanished = false;

    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    open_fd = fd;
    return handle_of(fd);
}

PortPeer port_peer(const char* name) {
    PortPeer peer{};
    int index = -1;
    peer.pty = pty_of(name, &index);
#if defined(__linux__)
    if (peer.pty && index >= 0) {
        peer.holder = pty_holder(index);
        if (peer.holder != 0) peer.since = started_at(peer.holder);
    }
#endif
    return peer;
}

bool port_may_reopen(const char* name, const PortPeer& first) {
    int index = -1;
    if (!pty_of(name, &index)) return !first.pty;
    if (!first.pty || first.holder <= 0 || index < 0) return false;
#if defined(__linux__)
    return holds_pty(static_cast<long>(first.holder), index) && started_at(static_cast<long>(first.holder)) == first.since;
#else
    return false;
#endif
}

void port_configure(PortHandle port, std::int32_t baud) {
    int fd = fd_of(port);
    if (fd < 0) return;

    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
        tio.c_iflag |= IGNBRK;
        // Reads are timed by poll(); read() itself must return at once.
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);
    }
    posix_set_custom_baud(fd, baud);

    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    posix_set_low_latency(fd);
}

LineSpeedReport port_line_speed(PortHandle port) {
    LineSpeedReport report{};
    const int fd = fd_of(port);
    if (fd >= 0) report.read_back = posix_read_speed(fd);
    return report;
}

int posix_latency_timer_ms(const char* sys, const char* device) {
    // A stable name (/dev/serial/by-id/...) leads to the ttyUSBn that sysfs knows.
    char real[PATH_MAX];
    const char* path = realpath(device, real) != nullptr ? real : device;
    const char* slash = std::strrchr(path, '/');
    const char* tty = slash != nullptr ? slash + 1 : path;
    if (*tty == '\0' || std::strcmp(tty, "..") == 0 || std::strcmp(tty, ".") == 0) return -1;
    char file[PATH_MAX];
    const int n = std::snprintf(file, sizeof file, "%s/class/tty/%s/device/latency_timer", sys, tty);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof file) return -1;
    const int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[16];
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return -1;
    int ms = 0;
    ssize_t i = 0;
    for (; i < got && text[i] >= '0' && text[i] <= '9' && ms < 100000; ++i) ms = ms * 10 + (text[i] - '0');
    return i > 0 ? ms : -1;
}

int port_latency_timer_ms(const char* name) { return posix_latency_timer_ms("/sys", name); }

void port_purge(PortHandle port) {
    int fd = fd_of(port);
    if (fd >= 0 && tcflush(fd, TCIFLUSH) != 0) note_failure(errno);
}

std::uint32_t port_write_byte(PortHandle port, std::uint8_t byte) {
    int fd = fd_of(port);
    if (fd < 0) return 0;
    for (;;) {
        ssize_t n = write(fd, &byte, 1);
        if (n == 1) return 1;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) note_failure(errno);
        return 0;
    }
}

std::uint32_t port_read_byte(PortHandle port, std::uint8_t* cell) {
    const std::uint64_t deadline = clock_ms() + kReadTimeoutMs;
    int fd = fd_of(port);
    if (fd < 0) {
        sleep_until(deadline);
        return 0;
    }
    // After the pause that follows the request the answer is normally
    // waiting already: take it without a poll (VMIN=0 makes this read return
    // at once). Nothing there, or a hang-up, is sorted out by the poll.
    const ssize_t first = read(fd, cell, 1);
    if (first == 1) return 1;
    if (first < 0) note_failure(errno);
    // At the deadline, one last look: a byte that came in time still counts
    // when this process was stopped (Ctrl-Z) or held up past the deadline.
    auto last_look = [&]() -> std::uint32_t { return read(fd, cell, 1) == 1 ? 1 : 0; };
    for (;;) {
        const std::uint64_t now = clock_ms();
        if (now >= deadline) return last_look();
        const auto left = deadline - now;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r == 0) return last_look();
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) vanished = true;
        if (p.revents & POLLIN) {
            ssize_t n = read(fd, cell, 1);
            if (n == 1) return 1;
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n < 0) note_failure(errno);
        }
        // Hang-up, error or end of file: the cable is gone. Treat it as a
        // silent line, time-out included.
        break;
    }
    sleep_until(deadline);
    return 0;
}

const PortOpenError& port_open_error() { return open_error; }

bool port_vanished(PortHandle port) { return fd_of(port) >= 0 && vanished; }

void port_close(PortHandle port) {
    int fd = fd_of(port);
    if (fd < 0) return;
    if (open_fd == fd) open_fd = -1;
    release(fd);
}

void posix_port_release_from_signal() {
    int fd = open_fd;
    if (fd >= 0) {
        open_fd = -1;
        release(fd);
    }
}
