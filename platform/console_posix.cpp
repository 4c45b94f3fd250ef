// VT/ANSI console on a POSIX terminal, and the one owner of the terminal's
// state: whatever way the process ends, the terminal is given back as found.
//
// On a terminal the screens live in a cell grid (console_grid.h) laid out as
// a Windows console buffer would hold them; the terminal is shown the part
// of the grid that fits it, cell by cell as cells change, and never scrolls
// or wraps. Written elsewhere (a file, a pipe), the text goes out as it is.
#include "platform/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console_grid.h"
#include "platform/console_posix.h"
#include "platform/file.h"
#include "platform/serial_posix.h"

namespace {

termios saved_tio;
volatile sig_atomic_t have_saved_tio = 0;
volatile sig_atomic_t mode_applied = 0;
// Set once anything was written: the terminal's own attributes are owed back.
volatile sig_atomic_t reset_owed = 0;
bool opened = false;
// Standard output is a terminal: the grid is in use.
volatile sig_atomic_t on_terminal = 0;

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

char* put_text(char* p, const char* text) {
    while (*text != '\0') *p++ = *text++;
    return p;
}

// Windows attribute bits are blue=1, green=2, red=4; ANSI wants red=1,
// green=2, blue=4.
unsigned ansi_colour(unsigned nibble) {
    return ((nibble & 4) ? 1u : 0u) | (nibble & 2) | ((nibble & 1) ? 4u : 0u);
}

// No colour (NO_COLOR, --mono): decided once, when the console is opened.
bool mono_asked = false;
bool mono = false;

// SGR of a console attribute: foreground and background, never the
// terminal's defaults; without colour, the terminal's own colours, in
// reverse video or underlined. At most 12 bytes.
char* put_sgr(char* p, unsigned attribute) {
    if (mono) {
        if (attribute & kAttributeReverse) return put_text(p, "\x1b[0;7m");
        if (attribute & kAttributeUnderline) return put_text(p, "\x1b[0;4m");
        return put_text(p, "\x1b[0m");
    }
    unsigned fg = attribute & 0x0F;
    unsigned bg = (attribute >> 4) & 0x0F;
    p = put_text(p, "\x1b[");
    p = put_number(p, ((fg & 8) ? 90u : 30u) + ansi_colour(fg));
    *p++ = ';';
    p = put_number(p, ((bg & 8) ? 100u : 40u) + ansi_colour(bg));
    *p++ = 'm';
    return p;
}

// CUP to 0-based column x, row y. At most 16 bytes.
char* put_cup(char* p, unsigned x, unsigned y) {
    p = put_text(p, "\x1b[");
    p = put_number(p, y + 1);
    *p++ = ';';
    p = put_number(p, x + 1);
    *p++ = 'H';
    return p;
}

// ---- What the terminal shows ----

// The dashboard's grid and the page's. The terminal shows one; the console
// calls write to one, which may be the other: its changes wait until it shows.
ConsoleGrid grids[2];
ConsoleGrid* volatile shown_grid = &grids[kScreenDashboard];
ConsoleGrid* written_grid = &grids[kScreenDashboard];

struct Shown {
    // The terminal's size.
    volatile sig_atomic_t columns = 80;
    volatile sig_atomic_t rows = 24;
    // Raised by SIGWINCH and SIGCONT: the terminal no longer shows the grid.
    volatile sig_atomic_t repaint_owed = 0;
    // The pen and cursor, as far as known (-1: unknown). Most texts of a
    // cycle share their colour: the same SGR again would only be bytes.
    volatile sig_atomic_t attribute = -1;
    volatile sig_atomic_t x = -1;
    volatile sig_atomic_t y = -1;
    // The last row carries the notice that the window is too small for the
    // grid, written for a grid of this extent.
    volatile sig_atomic_t notice = 0;
    int notice_columns = 0;
    int notice_rows = 0;
    // The terminal's own title is pushed on its title stack (xterm) while
    // ours shows, and popped on the way out; ours kept for after a Ctrl-Z.
    volatile sig_atomic_t title_pushed = 0;
    char title[256];
    std::size_t title_len = 0;
};
Shown shown;

constexpr char kPushTitle[] = "\x1b[22;0t";
constexpr char kPopTitle[] = "\x1b[23;0t";

// Colour of the notice: yellow on black.
constexpr unsigned kNoticeAttribute = 14;
// Screens are made for a console of at least 80x25, the dashboard's size.
constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 25;

// ---- One way out for the bytes ----

// Everything one console call sends, gathered for a single write. On a
// terminal the grid's changes, elsewhere (a file, a pipe) the escapes and
// the text as they come.
char out[16384];
std::size_t out_len = 0;

void out_flush() {
    if (out_len == 0) return;
    if (opened) reset_owed = 1;
    write_all(STDOUT_FILENO, out, out_len);
    out_len = 0;
}

// Room for `len` more bytes, flushing what is gathered when there is not.
char* out_room(std::size_t len) {
    if (out_len + len > sizeof out) out_flush();
    return out + out_len;
}

void out_bytes(const char* data, std::size_t len) {
    if (len > sizeof out) {
        out_flush();
        if (opened) reset_owed = 1;
        write_all(STDOUT_FILENO, data, len);
        return;
    }
    std::memcpy(out_room(len), data, len);
    out_len += len;
}

void out_text(const char* text) { out_bytes(text, std::strlen(text)); }

void out_attribute(unsigned attribute) {
    if (shown.attribute == static_cast<sig_atomic_t>(attribute)) return;
    out_len = static_cast<std::size_t>(put_sgr(out_room(16), attribute) - out);
    shown.attribute = static_cast<sig_atomic_t>(attribute);
}

void out_cup(int x, int y) {
    out_len = static_cast<std::size_t>(put_cup(out_room(16), static_cast<unsigned>(x), static_cast<unsigned>(y)) - out);
}

void out_cursor(int x, int y) {
    if (shown.x == x && shown.y == y) return;
    out_cup(x, y);
    shown.x = x;
    shown.y = y;
}

// ---- The terminal: a grid shown through a window ----

int visible_columns() { return shown.columns < kGridColumns ? shown.columns : kGridColumns; }

// Grid rows the terminal shows: all that fit, less the notice's row.
int visible_rows() {
    int rows = shown.rows - (shown.notice ? 1 : 0);
    return rows < kGridRows ? rows : kGridRows;
}

void out_cell(int x, int y) {
    const GridCell cell = shown_grid->cells[y][x];
    out_cursor(x, y);
    out_attribute(cell.attribute);
    if (grid_cell_is_block(cell)) {
        // A block character: one cell, three bytes of UTF-8.
        char* p = out_room(3);
        p[0] = '\xE2';
        p[1] = '\x96';
        p[2] = cell.ch;
        out_len += 3;
    } else {
        *out_room(1) = cell.ch;
        ++out_len;
    }
    // Autowrap is off: at the last column the cursor stays where it is.
    shown.x = x + 1 < shown.columns ? x + 1 : -1;
}

void out_grid_row(int y, int first, int last) {
    const int columns = visible_columns();
    if (y >= visible_rows()) return;
    for (int x = first; x <= last && x < columns; ++x) out_cell(x, y);
}

void query_size() {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        shown.columns = ws.ws_col;
        shown.rows = ws.ws_row;
    }
}

int needed_columns() {
    return shown_grid->used_columns > kScreenColumns ? shown_grid->used_columns : kScreenColumns;
}
// The whole screen, also while its lower part is still to be drawn.
int needed_rows() { return shown_grid->used_rows > kScreenRows ? shown_grid->used_rows : kScreenRows; }

bool grid_hidden() { return shown_grid->used_columns > shown.columns || shown_grid->used_rows > shown.rows; }

void out_notice() {
    char text[128];
    std::snprintf(text, sizeof text, "Terminal %dx%d: make it at least %dx%d to see the whole screen",
                  static_cast<int>(shown.columns), static_cast<int>(shown.rows), needed_columns(),
                  needed_rows());
    const std::size_t fits = static_cast<std::size_t>(shown.columns);
    if (std::strlen(text) > fits) text[fits] = '\0';
    out_cursor(0, shown.rows - 1);
    out_attribute(mono ? console_mono_attribute(kNoticeAttribute) : kNoticeAttribute);
    // The row cleared first, on black: with autowrap off the cursor stays on
    // the last column, and clearing after the text would take its last letter.
    out_text("\x1b[K");
    out_text(text);
    shown.x = -1;
    shown.notice_columns = needed_columns();
    shown.notice_rows = needed_rows();
}

// The whole visible grid again, on black, when a resize or a continue left
// the terminal showing anything. Returns whether it did.
bool catch_up() {
    if (!on_terminal || !shown.repaint_owed) return false;
    shown.repaint_owed = 0;
    query_size();
    shown.notice = grid_hidden();
    shown.attribute = -1;
    shown.x = -1;
    shown.y = -1;
    if (!shown.title_pushed && shown.title_len > 0) {  // back from a Ctrl-Z
        out_text(kPushTitle);
        shown.title_pushed = 1;
        out_bytes(shown.title, shown.title_len);
    }
    out_text("\x1b[?7l");
    out_attribute(shown_grid->attribute & 0xF0);
    out_text("\x1b[2J");
    const GridCell black{' ', 0};
    for (int y = 0; y < visible_rows(); ++y)
        for (int x = 0; x < visible_columns(); ++x)
            if (!grid_cells_look_alike(shown_grid->cells[y][x], black)) out_cell(x, y);
    if (shown.notice) out_notice();
    grid_forget_changes(*shown_grid);
    return true;
}

// Shows what the last grid change did, and keeps the notice true.
void show_changes() {
    const bool was_shown = shown.notice;
    shown.notice = grid_hidden();
    int row, first, last;
    while (grid_take_changes(*shown_grid, &row, &first, &last)) out_grid_row(row, first, last);
    if (shown.notice) {
        if (!was_shown || shown.notice_columns != needed_columns() || shown.notice_rows != needed_rows())
            out_notice();
    } else if (was_shown) {
        out_grid_row(shown.rows - 1, 0, kGridColumns - 1);
    }
}

// ---- The terminal's state, and every way out ----

// Puts stdin into key-at-a-time, no-echo mode; ISIG stays so Ctrl-C works.
// Without IXON, Ctrl-S is a key like any other rather than freezing the
// output, and q with it, until Ctrl-Q. Async-signal-safe.
void apply_mode() {
    if (!have_saved_tio) return;
    termios tio = saved_tio;
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &tio);
    mode_applied = 1;
}

// Async-signal-safe and idempotent. On a terminal the size notice goes, the
// terminal's own title comes back, and the cursor goes to column 0 of a fresh
// row below everything written, so the prompt never lands inside the screen;
// a terminal too short for that gets a line break on its last row.
void restore_terminal() {
    shown.attribute = -1;
    shown.x = -1;
    shown.y = -1;
    if (mode_applied) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_tio);
        mode_applied = 0;
    }
    if (!reset_owed) return;
    reset_owed = 0;
    if (on_terminal) query_size();
    char seq[128];
    char* p = put_text(seq, "\x1b[0m\x1b[?25h");
    if (on_terminal) {
        p = put_text(p, "\x1b[?7h");
        if (shown.notice) {
            p = put_cup(p, 0, static_cast<unsigned>(shown.rows - 1));
            p = put_text(p, "\x1b[2K");
            shown.notice = 0;
        }
        if (shown.title_pushed) {
            p = put_text(p, kPopTitle);
            shown.title_pushed = 0;
        }
        const int below = grid_row_below(*shown_grid);
        if (below < shown.rows) {
            p = put_cup(p, 0, static_cast<unsigned>(below));
        } else {
            p = put_cup(p, 0, static_cast<unsigned>(shown.rows - 1));
            p = put_text(p, "\r\n");
        }
    }
    write_all(STDOUT_FILENO, seq, static_cast<std::size_t>(p - seq));
}

void restore_at_exit() {
    file_release_from_exit_path();
    restore_terminal();
    opened = false;
}

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void on_terminate(int sig) {
    posix_port_release_from_signal();
    file_release_from_exit_path();
    restore_terminal();
    _exit(128 + sig);
}

void on_crash(int sig) {
    posix_port_release_from_signal();
    file_release_from_exit_path();
    restore_terminal();
    signal(sig, SIG_DFL);
    raise(sig);
}

// Without SA_NODEFER the re-raised stop would stay pending until the handler
// returned, then re-enter the reinstalled handler forever.
constexpr int kStopFlags = SA_RESTART | SA_NODEFER;

void on_stop(int sig) {
    int saved_errno = errno;
    restore_terminal();
    signal(sig, SIG_DFL);
    raise(sig);  // stops here until SIGCONT (the handler runs with SA_NODEFER)
    install(sig, on_stop, kStopFlags);
    errno = saved_errno;
}

void on_continue(int) {
    int saved_errno = errno;
    apply_mode();
    if (on_terminal) shown.repaint_owed = 1;
    errno = saved_errno;
}

void on_resize(int) { shown.repaint_owed = 1; }

}  // namespace

bool console_output_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

const char* console_unusable_reason() {
    const char* term = std::getenv("TERM");
    if (isatty(STDOUT_FILENO) && term != nullptr && std::strcmp(term, "dumb") == 0)
        return "this terminal (TERM=dumb) cannot place the cursor; run it in a terminal that can";
    return nullptr;
}

void console_ask_mono() { mono_asked = true; }

ConsoleHandle console_open() {
    if (!opened) {
        opened = true;
        const char* no_color = std::getenv("NO_COLOR");
        mono = mono_asked || (no_color != nullptr && no_color[0] != '\0');
        if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_tio) == 0) {
            have_saved_tio = 1;
            apply_mode();
        }
        if (isatty(STDOUT_FILENO)) {
            for (ConsoleGrid& g : grids) {
                g.attribute = 7;
                grid_clear(g);
            }
            query_size();
            on_terminal = 1;
            // Autowrap off: a text reaching the window's edge must not wrap
            // or scroll the terminal. Given back with the rest at exit.
            out_text("\x1b[?7l");
            out_text(kPushTitle);
            shown.title_pushed = 1;
            out_flush();
        }
        std::atexit(restore_at_exit);
        static const int kTerminating[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
        static const int kCrashing[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
        for (int sig : kTerminating) install(sig, on_terminate, 0);
        for (int sig : kCrashing) install(sig, on_crash, SA_NODEFER);
        install(SIGTSTP, on_stop, kStopFlags);
        install(SIGCONT, on_continue, SA_RESTART);
        install(SIGWINCH, on_resize, SA_RESTART);
    }
    return reinterpret_cast<ConsoleHandle>(static_cast<std::intptr_t>(STDOUT_FILENO + 1));
}

namespace {
// The attribute texts are written in now (after the stand-ins for mono).
std::uint16_t pen = kAttributePlain;

// On a terminal the pen and the cursor are the grid's until text is placed;
// elsewhere their escapes wait in the buffer for the text that follows, so a
// positioned coloured text is one write.
void set_pen(std::uint16_t attribute) {
    if (!on_terminal && written_grid == &grids[kScreenPage]) return;
    if (on_terminal)
        written_grid->attribute = attribute;
    else
        out_attribute(attribute);
}
}  // namespace

void console_set_attribute(ConsoleHandle, std::uint16_t attribute) {
    pen = mono ? console_mono_attribute(attribute) : attribute;
    set_pen(pen);
}

void console_set_cursor(ConsoleHandle, std::int16_t x, std::int16_t y) {
    if (!on_terminal && written_grid == &grids[kScreenPage]) return;
    if (on_terminal)
        grid_set_cursor(*written_grid, x, y);
    else
        out_cup(x < 0 ? 0 : x, y < 0 ? 0 : y);
}

namespace {
void write_text(const char* text) {
    if (on_terminal) {
        catch_up();
        grid_write(*written_grid, text);
        if (written_grid == shown_grid) show_changes();
    } else if (written_grid == &grids[kScreenPage]) {
        return;  // a file or a pipe gets the dashboard alone
    } else {
        out_text(text);
    }
    out_flush();
}
}  // namespace

void console_write(const char* text) {
    if (!mono || pen == kAttributePlain) {
        write_text(text);
        return;
    }
    // Without colour a stand-in covers the text, not the blanks padding it.
    const std::uint16_t stand_in = pen;
    char piece[256];
    for (const char* p = text; *p != '\0';) {
        bool plain = false;
        std::size_t n = console_next_piece(p, &plain);
        if (n >= sizeof piece) n = sizeof piece - 1;
        std::memcpy(piece, p, n);
        piece[n] = '\0';
        set_pen(plain ? kAttributePlain : stand_in);
        write_text(piece);
        p += n;
    }
    set_pen(stand_in);
}

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
    if (on_terminal) {
        std::memcpy(shown.title, seq, n);
        shown.title_len = n;
    }
    out_bytes(seq, n);
    out_flush();
}

void console_clear() {
    // Erase fills with the current background, as "cls" fills with the
    // current attribute; then home the cursor.
    if (on_terminal && written_grid != shown_grid) {
        grid_clear(*written_grid);
        return;
    }
    if (!on_terminal && written_grid == &grids[kScreenPage]) return;
    if (on_terminal) {
        catch_up();
        grid_clear(*written_grid);
        shown.notice = 0;
        out_attribute(written_grid->attribute);
        shown.x = 0;
        shown.y = 0;
    }
    out_text("\x1b[2J\x1b[H");
    out_flush();
}

void console_close(ConsoleHandle) {
    catch_up();
    out_flush();
    restore_terminal();
}

void console_select_screen(ConsoleScreen screen) { written_grid = &grids[screen]; }

void console_show_screen(ConsoleScreen screen) {
    if (!on_terminal || shown_grid == &grids[screen]) return;
    catch_up();
    shown_grid = &grids[screen];
    shown.repaint_owed = 1;
    catch_up();
    out_flush();
}

int console_columns() { return on_terminal ? static_cast<int>(shown.columns) : kScreenColumns; }

bool console_utf8() {
    // The first of these that is set names the character set.
    static const char* const kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* name : kNames) {
        const char* value = std::getenv(name);
        if (value == nullptr || value[0] == '\0') continue;
        return strcasestr(value, "UTF-8") != nullptr || strcasestr(value, "utf8") != nullptr;
    }
    return false;
}

bool console_title_shown() {
    const char* term = std::getenv("TERM");
    return term == nullptr || std::strcmp(term, "linux") != 0;
}

void console_bell() {
    out_text("\a");
    out_flush();
}

void posix_console_refresh() {
    if (catch_up()) out_flush();
}
