// VT/ANSI console on a POSIX terminal, and the one owner of the terminal's
// state: whatever way the process ends, the terminal is given back as found.
#include "platform/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include "platform/serial_posix.h"

namespace {

// Attribute and cursor changes wait here and go out in the same write as
// the text that follows them, so a positioned coloured text is one write.
char pending[64];
std::size_t pending_len = 0;

termios saved_tio;
volatile sig_atomic_t have_saved_tio = 0;
volatile sig_atomic_t mode_applied = 0;
volatile sig_atomic_t resumed = 0;
// Set once anything was written: the terminal's own attributes are owed back.
volatile sig_atomic_t reset_owed = 0;
// The attribute the terminal is in (as of the escapes written or pending),
// or -1 when unknown. Most texts of a cycle share their colour: the same
// SGR again would only be bytes on the line. Any reset makes it unknown.
volatile sig_atomic_t known_attribute = -1;
bool opened = false;

const char kResetSequence[] = "\x1b[0m\x1b[?25h";

void write_all(int fd, const char* data, std::size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

// Only short fixed sequences come here. Should many pile up without text
// in between, the older ones go out first: each may still matter.
void append_pending(const char* text) {
    std::size_t len = std::strlen(text);
    if (len > sizeof pending) return;
    if (pending_len + len > sizeof pending) {
        write_all(STDOUT_FILENO, pending, pending_len);
        pending_len = 0;
    }
    std::memcpy(pending + pending_len, text, len);
    pending_len += len;
}

// Small unsigned decimal, no stdio: also used where snprintf is not welcome.
char* put_number(char* p, unsigned value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 10);
    while (n > 0) *p++ = digits[--n];
    return p;
}

// Windows attribute bits are blue=1, green=2, red=4; ANSI wants red=1,
// green=2, blue=4.
unsigned ansi_colour(unsigned nibble) {
    return ((nibble & 4) ? 1u : 0u) | (nibble & 2) | ((nibble & 1) ? 4u : 0u);
}

// Puts stdin into key-at-a-time, no-echo mode; ISIG stays so Ctrl-C works.
// Async-signal-safe.
void apply_mode() {
    if (!have_saved_tio) return;
    termios tio = saved_tio;
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &tio);
    mode_applied = 1;
}

// Async-signal-safe and idempotent.
void restore_terminal() {
    known_attribute = -1;
    if (mode_applied) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_tio);
        mode_applied = 0;
    }
    if (reset_owed) {
        reset_owed = 0;
        write_all(STDOUT_FILENO, kResetSequence, sizeof kResetSequence - 1);
    }
}

void restore_at_exit() {
    restore_terminal();
    opened = false;
}

void on_terminate(int sig) {
    posix_port_release_from_signal();
    restore_terminal();
    _exit(128 + sig);
}

void on_crash(int sig) {
    restore_terminal();
    signal(sig, SIG_DFL);
    raise(sig);
}

void on_stop(int sig) {
    int saved_errno = errno;
    restore_terminal();
    signal(sig, SIG_DFL);
    raise(sig);  // stops here until SIGCONT (the handler runs with SA_NODEFER)
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sa.sa_flags = SA_RESTART | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
    errno = saved_errno;
}

void on_continue(int) {
    int saved_errno = errno;
    apply_mode();
    resumed = 1;
    errno = saved_errno;
}

// Writes whatever escapes are pending and then `data`, in one writev.
void emit(const char* data, std::size_t len) {
    iovec iov[2] = {{pending, pending_len}, {const_cast<char*>(data), len}};
    int first = pending_len > 0 ? 0 : 1;
    std::size_t total = pending_len + len;
    pending_len = 0;
    if (total == 0) return;
    if (opened) reset_owed = 1;
    ssize_t n;
    do {
        n = writev(STDOUT_FILENO, iov + first, 2 - first);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || static_cast<std::size_t>(n) == total) return;
    // A short write (a full pipe, a slow terminal): send the rest plainly.
    std::size_t done = static_cast<std::size_t>(n);
    for (int i = first; i < 2; ++i) {
        if (done >= iov[i].iov_len) {
            done -= iov[i].iov_len;
            continue;
        }
        write_all(STDOUT_FILENO, static_cast<const char*>(iov[i].iov_base) + done,
                  iov[i].iov_len - done);
        done = 0;
    }
}

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

}  // namespace

ConsoleHandle console_open() {
    if (!opened) {
        opened = true;
        if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_tio) == 0) {
            have_saved_tio = 1;
            apply_mode();
        }
        std::atexit(restore_at_exit);
        static const int kTerminating[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
        static const int kCrashing[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
        for (int sig : kTerminating) install(sig, on_terminate, 0);
        for (int sig : kCrashing) install(sig, on_crash, SA_NODEFER);
        // Without SA_NODEFER the re-raised stop would stay pending until the
        // handler returned, then re-enter the reinstalled handler forever.
        install(SIGTSTP, on_stop, SA_RESTART | SA_NODEFER);
        install(SIGCONT, on_continue, SA_RESTART);
    }
    return reinterpret_cast<ConsoleHandle>(static_cast<std::intptr_t>(STDOUT_FILENO + 1));
}

void console_set_attribute(ConsoleHandle, std::uint16_t attribute) {
    if (known_attribute == attribute) return;
    known_attribute = attribute;
    char seq[24];
    char* p = seq;
    unsigned fg = attribute & 0x0F;
    unsigned bg = (attribute >> 4) & 0x0F;
    *p++ = '\x1b';
    *p++ = '[';
    p = put_number(p, ((fg & 8) ? 90u : 30u) + ansi_colour(fg));
    *p++ = ';';
    p = put_number(p, ((bg & 8) ? 100u : 40u) + ansi_colour(bg));
    *p++ = 'm';
    *p = '\0';
    append_pending(seq);
}

void console_set_cursor(ConsoleHandle, std::int16_t x, std::int16_t y) {
    char seq[24];
    char* p = seq;
    *p++ = '\x1b';
    *p++ = '[';
    p = put_number(p, static_cast<unsigned>(y < 0 ? 0 : y) + 1);
    *p++ = ';';
    p = put_number(p, static_cast<unsigned>(x < 0 ? 0 : x) + 1);
    *p++ = 'H';
    *p = '\0';
    append_pending(seq);
}

void console_write(const char* text) { emit(text, std::strlen(text)); }

void console_set_title(const char* title) {
    // The title travels inside an OSC string: control characters would end it
    // early or inject sequences, so they are dropped.
    char seq[256];
    std::size_t n = 0;
    seq[n++] = '\x1b';
    seq[n++] = ']';
    seq[n++] = '0';
    seq[n++] = ';';
    for (const char* p = title; *p != '\0' && n < sizeof seq - 2; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != 0x7F) seq[n++] = *p;
    }
    seq[n++] = '\x07';
    emit(seq, n);
}

void console_clear() {
    // Erase fills with the current background, as "cls" fills with the
    // current attribute; then home the cursor.
    static const char kClear[] = "\x1b[2J\x1b[H";
    emit(kClear, sizeof kClear - 1);
}

void console_close(ConsoleHandle) {
    console_write("");
    restore_terminal();
}

bool console_take_resumed() {
    if (!resumed) return false;
    resumed = 0;
    return true;
}
