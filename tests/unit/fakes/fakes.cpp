#include "fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/link.h"
#include "platform/console.h"
#include "platform/keyboard.h"
#include "platform/serial.h"
#include "platform/sleep.h"

namespace fake {

std::vector<std::string> events;
std::uint64_t clock_ms = 0;
Port port;
Console console;
std::deque<int> keys;
int key_polls_before_keys = 0;
bool input_ended = false;
Files files;

namespace {
PortHandle const kOpenHandle = reinterpret_cast<PortHandle>(0x5000);
ConsoleHandle const kConsoleHandle = reinterpret_cast<ConsoleHandle>(0x6000);

std::string Hex(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}
}  // namespace

std::string Console::text(int col, int row, int len) const {
    std::string s;
    for (int i = 0; i < len && col + i < kCols; ++i) s += grid.cells[row][col + i].ch;
    return s;
}

std::function<std::vector<std::optional<std::uint8_t>>(std::uint8_t)> EchoEcu(
    std::vector<std::uint8_t> values) {
    values.resize(256, 0);
    return [values](std::uint8_t request) {
        return std::vector<std::optional<std::uint8_t>>{request, values[request]};
    };
}

void Reset() {
    link_close();
    link_on_port_loss(nullptr);
    link_on_exchange(nullptr);
    events.clear();
    clock_ms = 0;
    port = Port{};
    console = Console{};
    for (ConsoleGrid* g : {&console.grid, &console.page}) {
        grid_clear(*g);
        g->attribute = 7;
    }
    keys.clear();
    key_polls_before_keys = 0;
    input_ended = false;
    files = Files{};
    rs232 = nullptr;
    txcount = 0;
    rxcount = 0;
}

std::vector<std::string> EventsStartingWith(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
}

}  // namespace fake

using fake::events;

// ---- serial ----
PortHandle port_invalid() { return reinterpret_cast<PortHandle>(static_cast<std::intptr_t>(-1)); }

bool port_format_name(char* out, std::size_t size, const char* arg) {
    int n = std::snprintf(out, size, "com%s", arg);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

PortHandle port_open(const char* name) {
    events.push_back(std::string("open ") + name);
    if (!fake::port.present.count(name)) return port_invalid();
    fake::port.open = true;
    fake::port.vanished = false;
    return fake::kOpenHandle;
}

const PortOpenError& port_open_error() { return fake::port.open_error; }

PortPeer port_peer(const char*) { return PortPeer{}; }

bool port_may_reopen(const char*, const PortPeer&) { return true; }

bool port_vanished(PortHandle port) { return port == fake::kOpenHandle && fake::port.open && fake::port.vanished; }

int port_list(PortEntry* out, int max, PortOrder order) {
    int kept = 0;
    for (const PortEntry& e : fake::port.listed) kept = port_list_insert(out, max, kept, e, order);
    return static_cast<int>(fake::port.listed.size());
}

void port_configure(PortHandle port, std::int32_t baud) {
    events.push_back("configure " + std::to_string(baud));
    fake::port.configured = port == fake::kOpenHandle;
}

LineSpeedReport port_line_speed(PortHandle) { return fake::port.speed; }

int port_latency_timer_ms(const char*) { return fake::port.latency_ms; }

void port_purge(PortHandle) {
    events.push_back("purge");
    fake::port.reads.clear();
}

std::uint32_t port_write_byte(PortHandle port, std::uint8_t byte) {
    events.push_back("write " + fake::Hex(byte));
    if (port != fake::kOpenHandle) return 0;
    if (fake::port.ecu) {
        auto answer = fake::port.ecu(byte);
        fake::port.reads.assign(answer.begin(), answer.end());
    }
    return 1;
}

std::uint32_t port_read_byte(PortHandle port, std::uint8_t* cell) {
    events.push_back("read");
    if (port != fake::kOpenHandle || fake::port.reads.empty()) {
        fake::clock_ms += 350;
        return 0;
    }
    auto next = fake::port.reads.front();
    fake::port.reads.pop_front();
    if (!next) {
        fake::clock_ms += 350;
        return 0;
    }
    *cell = *next;
    return 1;
}

void port_close(PortHandle) {
    events.push_back("close");
    fake::port.open = false;
}

// ---- sleep ----
void sleep_ms(std::uint32_t ms) {
    events.push_back("sleep " + std::to_string(ms));
    fake::clock_ms += ms;
}

std::uint64_t clock_ms() { return fake::clock_ms; }

// ---- keyboard ----
bool key_waiting() {
    if (fake::key_polls_before_keys > 0) {
        --fake::key_polls_before_keys;
        return false;
    }
    return !fake::keys.empty();
}

int key_read() {
    events.push_back("key");
    if (fake::keys.empty()) return -1;
    int k = fake::keys.front();
    fake::keys.pop_front();
    return k;
}

// ---- console ----
ConsoleHandle console_open() {
    events.push_back("console open");
    return fake::kConsoleHandle;
}

void console_ask_mono() { events.push_back("console mono"); }

namespace {
ConsoleGrid& written() { return fake::console.page_selected ? fake::console.page : fake::console.grid; }
}  // namespace

void console_set_attribute(ConsoleHandle, std::uint16_t attribute) {
    written().attribute = static_cast<std::uint8_t>(attribute);
}

void console_set_cursor(ConsoleHandle, std::int16_t x, std::int16_t y) { grid_set_cursor(written(), x, y); }

void console_write(const char* text) {
    auto& g = written();
    if (fake::console.page_selected) {
        grid_write(g, text);
        return;
    }
    events.push_back("text " + std::to_string(g.cursor_x) + "," + std::to_string(g.cursor_y) + "," +
                     std::to_string(g.attribute) + " " + text);
    grid_write(g, text);
}

void console_set_title(const char* title) { fake::console.title = title; }

void console_clear() {
    if (fake::console.page_selected) {
        grid_clear(fake::console.page);
        return;
    }
    events.push_back("clear");
    grid_clear(fake::console.grid);
    ++fake::console.clears;
}

void console_close(ConsoleHandle) {
    events.push_back("console close");
    fake::console.closed = true;
}

bool console_output_is_terminal() { return true; }

void console_select_screen(ConsoleScreen screen) { fake::console.page_selected = screen == kScreenPage; }

void console_show_screen(ConsoleScreen screen) {
    events.push_back(screen == kScreenPage ? "show page" : "show dashboard");
    fake::console.page_shown = screen == kScreenPage;
}

int console_columns() { return 80; }
bool console_utf8() { return false; }
bool console_title_shown() { return true; }

void console_bell() {
    events.push_back("bell");
    ++fake::console.bells;
}

const char* console_unusable_reason() { return nullptr; }

bool key_input_ended() { return fake::keys.empty() && fake::input_ended; }

// ---- files: one open at a time, as the program has ----
namespace {
std::string open_file;
}

FileHandle file_create_new(const char* path, FileFailure* why) {
    events.push_back(std::string("file create ") + path);
    FileError error = fake::files.create_fails;
    if (error == FileError::kNone && (fake::files.contents.count(path) || fake::files.folders.count(path)))
        error = FileError::kExists;
    if (error != FileError::kNone) {
        *why = {error, 0};
        return nullptr;
    }
    fake::files.contents[path] = "";
    fake::files.open = true;
    open_file = path;
    return reinterpret_cast<FileHandle>(0x7000);
}

bool file_write_all(FileHandle, const char* data, std::size_t size, FileFailure* why) {
    std::string& to = fake::files.contents[open_file];
    const std::size_t n = std::min(size, fake::files.space);
    to.append(data, n);
    fake::files.space -= n;
    if (n == size) return true;
    *why = {FileError::kNoSpace, 0};
    return false;
}

bool file_truncate(FileHandle, unsigned long long size, FileFailure*) {
    std::string& to = fake::files.contents[open_file];
    if (size < to.size()) {
        fake::files.space += to.size() - size;
        to.resize(size);
    }
    return true;
}

bool file_sync(FileHandle, FileFailure*) {
    ++fake::files.syncs;
    return true;
}

void file_close(FileHandle) {
    events.push_back("file close");
    fake::files.open = false;
}

// Reading: from the files by name, one at a time.
namespace {
std::string read_file;
std::size_t read_at = 0;
}

FileHandle file_open_read(const char* path, FileFailure* why) {
    if (!fake::files.contents.count(path)) {
        *why = {fake::files.folders.count(path) ? FileError::kNotAFile : FileError::kNoFile, 0};
        return nullptr;
    }
    read_file = path;
    read_at = 0;
    return reinterpret_cast<FileHandle>(0x7001);
}

long file_read(FileHandle, char* buffer, std::size_t size, FileFailure*) {
    const std::string& from = fake::files.contents[read_file];
    const std::size_t n = std::min(size, from.size() - read_at);
    std::memcpy(buffer, from.data() + read_at, n);
    read_at += n;
    return static_cast<long>(n);
}

void file_close_read(FileHandle) {}

void file_remove(const char* path) { fake::files.contents.erase(path); }
bool file_is_folder(const char* path) { return fake::files.folders.count(path) != 0; }
char file_separator() { return '/'; }
LocalTime local_time_now() { return {2026, 12, 9, 14, 3, 27}; }
void file_release_from_exit_path() {}
