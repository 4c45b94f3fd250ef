// Serial port primitives under the ECU link. One implementation per OS
// (serial_win32.cpp, serial_posix.cpp); tests link a scripted fake instead.
#pragma once
#include <cstddef>
#include <cstdint>

// Opaque port handle. Null means "never opened"; port_invalid() is what a
// failed open leaves behind (the Win32 INVALID_HANDLE_VALUE on Windows).
using PortHandle = void*;

PortHandle port_invalid();

// Whose words the messages about ports use: port names, and the command that
// gives a user a device's group.
enum class PortSystem { kWindows, kLinux, kMac };
#if defined(_WIN32)
constexpr PortSystem kThisSystem = PortSystem::kWindows;
#elif defined(__APPLE__)
constexpr PortSystem kThisSystem = PortSystem::kMac;
#else
constexpr PortSystem kThisSystem = PortSystem::kLinux;
#endif

// Turns the command-line port argument into the device name that is opened
// and shown to the user. Windows: "com<arg>" (port_open reaches the device as
// \\.\COM<n>). POSIX: an argument holding a '/' is a device path used as it
// stands; a positive number N names /dev/ttyS{N-1}; a bare name whose
// /dev/<name> is a character device, or that a serial device goes by
// (tty*, cu.*, serial*), names /dev/<name>; anything else stays as given
// and names no device (port_open refuses a name without a '/'). Windows also takes "COM5" and "com5" for 5.
// Always NUL-terminates within `size`; returns false when the name did not fit.
bool port_format_name(char* out, std::size_t size, const char* arg);

// Why an open failed, in the words the user is told.
enum class PortFailure : std::uint8_t {
    kNone,
    kNotAPortName,    // the argument names no port at all ("comabc", "com0")
    kNoSuchPort,      // nothing there, or nothing behind the device
    kInUse,           // another program holds it
    kNoPermission,    // POSIX: the device's owner and group only
    kNotASerialPort,  // a file, a directory, a virtual console, /dev/ptmx
    kOwnTerminal,     // POSIX: the terminal this program runs in
    kTerminalInUse,   // POSIX: some session's controlling terminal
    kSystemConsole,   // POSIX: /dev/console, the kernel's serial console
    kOther,           // anything else: the system's own words
};

struct PortOpenError {
    PortFailure failure;
    // kNoPermission: the group whose members may use the device, when
    // joining it would help; "" otherwise.
    char group[32];
    // kOther: the system's message, one line.
    char system_text[96];
};

// Exclusive open of an existing serial device; port_invalid() on failure,
// with the reason in port_open_error().
PortHandle port_open(const char* name);
const PortOpenError& port_open_error();

// Who serves a port. A pseudo-terminal's number goes to whichever program
// asks next once its own program has let it go (another simulator, a serial
// bridge, some program's terminal), so a lost pty is opened again only while
// the program that held its other side at the first open still does. Any
// other device is the same port when it comes back by its name.
struct PortPeer {
    bool pty;             // the port is a pseudo-terminal
    std::int64_t holder;  // the program holding its other side (a pid); 0 when not known
    std::uint64_t since;  // when that program started: a pid is used again
};
// Found without opening the port (Linux: /proc; macOS cannot tell the
// holder; Windows: never a pty).
PortPeer port_peer(const char* name);
// Whether the lost port `name` may be opened again, `first` being what
// port_peer said at the first open: a device that is no pty, yes (an adapter
// plugged back in); a pty only while that same program holds it; never a pty
// whose holder was not known, nor a pty where a device was.
bool port_may_reopen(const char* name, const PortPeer& first);

// Puts the line into raw 8N1 at `baud` with no handshake, DTR and RTS off,
// and the 350 ms total read time-out. Failures are ignored: the port is open.
void port_configure(PortHandle port, std::int32_t baud);

// What the driver says of the line speed it set, read back after
// port_configure.
struct LineSpeedReport {
    std::uint32_t read_back;  // the speed the driver reports; 0 when it tells none
    bool refused;             // the driver refused the speed asked for
    // The driver can set only the rates it lists (Windows: no BAUD_USER), so
    // what it reads back for any other rate is a guess of its own (Wine reads
    // 7812 back as 38400), not the line's real speed.
    bool listed_rates_only;
};
LineSpeedReport port_line_speed(PortHandle port);

// How long the USB adapter behind the port `name` holds received bytes
// before passing them on (an FTDI chip's latency timer), in milliseconds;
// -1 when there is no such adapter or the system does not tell.
// Only read: nothing on the system is changed.
int port_latency_timer_ms(const char* name);

// Drops every received byte that is waiting; the transmit side is untouched.
void port_purge(PortHandle port);

// Writes one byte; returns the number written (0 or 1).
std::uint32_t port_write_byte(PortHandle port, std::uint8_t byte);

// Reads at most one byte into *cell, waiting at most the read time-out.
// Returns the number read (0 or 1). An error or hang-up reads as nothing
// but still waits out the time-out, so a vanished device never spins.
std::uint32_t port_read_byte(PortHandle port, std::uint8_t* cell);

// True once the device behind the port went away (an unplugged adapter):
// the handle will never work again and is best closed at once. False for a
// null or invalid handle.
bool port_vanished(PortHandle port);

// Puts back what the open found (POSIX: the line settings, the exclusive
// mark) and closes.
void port_close(PortHandle port);

// One serial port that is present. `name` is what to give the program
// (stable where the system has such a name); `short_name` a shorter one that
// works as well, for a line with no room.
struct PortEntry {
    char name[112];
    char short_name[40];
};

// Whether `a` goes before `b` in a list of ports.
using PortOrder = bool (*)(const PortEntry& a, const PortEntry& b);

// The serial ports present, found without opening any: the first `max` of
// them in `order` into `out`, in that order. Returns how many there are (may
// be more than `max`).
int port_list(PortEntry* out, int max, PortOrder order);

// Puts `entry` in its place among the `count` (at most `max`) ordered ones
// in `out`, the last one falling off when all `max` are taken. Returns the
// new count.
inline int port_list_insert(PortEntry* out, int max, int count, const PortEntry& entry, PortOrder order) {
    int at = count;
    while (at > 0 && order(entry, out[at - 1])) --at;
    if (at >= max) return count;
    const int last = count < max ? count : max - 1;
    for (int i = last; i > at; --i) out[i] = out[i - 1];
    out[at] = entry;
    return count < max ? count + 1 : count;
}
