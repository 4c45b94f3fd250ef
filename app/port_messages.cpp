#include "app/port_messages.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// Shortest a port name is cut to; below that it would say nothing.
constexpr std::size_t kShortestName = 12;
constexpr char kEllipsis[] = "...";

// Copies at most `size`-1 bytes and always terminates.
void CopyText(char* out, std::size_t size, const char* text) {
    if (size == 0) return;
    std::snprintf(out, size, "%s", text);
}

// `before` + `name` + `after` in at most `width` characters: the name loses
// its middle first (its start and end tell ports apart), then the end goes.
void Compose(char* out, std::size_t size, int width, const char* before, const char* name,
             const char* after) {
    const std::size_t limit = static_cast<std::size_t>(width);
    const std::size_t fixed = std::strlen(before) + std::strlen(after);
    const std::size_t name_len = std::strlen(name);
    char shortened[128];
    if (fixed + name_len > limit && name_len > kShortestName) {
        std::size_t keep = limit > fixed ? limit - fixed : 0;
        if (keep < kShortestName) keep = kShortestName;
        if (keep >= sizeof shortened) keep = sizeof shortened - 1;
        const std::size_t dots = sizeof kEllipsis - 1;
        if (keep < name_len && keep > dots) {
            const std::size_t head = (keep - dots + 1) / 2;
            const std::size_t tail = keep - dots - head;
            std::snprintf(shortened, sizeof shortened, "%.*s%s%s", static_cast<int>(head), name,
                          kEllipsis, name + name_len - tail);
            name = shortened;
        }
    }
    const std::size_t cut = size < limit + 1 ? size : limit + 1;
    if (cut == 0) return;
    std::snprintf(out, cut, "%s%s%s", before, name, after);
}

// COM12 rather than com12: how Windows itself writes its ports.
void UpperCase(char* text) {
    for (; *text != '\0'; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Natural order: digit runs compare by value.
int CompareNames(const char* a, const char* b) {
    while (*a != '\0' && *b != '\0') {
        if (IsDigit(*a) && IsDigit(*b)) {
            while (*a == '0') ++a;
            while (*b == '0') ++b;
            std::size_t la = 0, lb = 0;
            while (IsDigit(a[la])) ++la;
            while (IsDigit(b[lb])) ++lb;
            if (la != lb) return la < lb ? -1 : 1;
            int c = std::strncmp(a, b, la);
            if (c != 0) return c;
            a += la;
            b += lb;
            continue;
        }
        if (*a != *b) return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
        ++a;
        ++b;
    }
    return *a == *b ? 0 : (*a == '\0' ? -1 : 1);
}

}  // namespace

void ShowSafely(char* out, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0' && n + 1 < size;
         ++p) {
        if (*p < 0x20 || *p == 0x7F) {
            out[n++] = '?';
        } else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
            out[n++] = '?';  // C1 control, UTF-8 encoded
            ++p;
        } else {
            out[n++] = static_cast<char>(*p);
        }
    }
    out[n] = '\0';
}

void PortReasonText(char* out, std::size_t size, const PortOpenError& error, const char* port,
                    const char* argument, PortSystem system, int width) {
    char name[128];
    ShowSafely(name, sizeof name, port);
    const bool windows = system == PortSystem::kWindows;
    if (windows) UpperCase(name);
    char after[160];

    switch (error.failure) {
        case PortFailure::kNotAPortName: {
            char arg[128];
            ShowSafely(arg, sizeof arg, argument);
            Compose(out, size, width, "'", arg,
                    windows ? "' is not a COM port number: give the number Device Manager shows"
                            : "' names no serial port: give its path, e.g. /dev/ttyUSB0");
            return;
        }
        case PortFailure::kNoSuchPort:
            Compose(out, size, width, "", name,
                    windows ? " does not exist on this computer: is the adapter plugged in?"
                            : " does not exist: is the adapter plugged in?");
            return;
        case PortFailure::kInUse:
            Compose(out, size, width, "", name, " is in use by another program: close it and try again");
            return;
        case PortFailure::kNoPermission:
            if (error.group[0] == '\0') {
                CopyText(after, sizeof after, ": ask whoever runs this computer for access");
            } else if (system == PortSystem::kMac) {
                std::snprintf(after, sizeof after,
                              ": sudo dseditgroup -o edit -a $USER -t user %s",
                              error.group);
            } else {
                std::snprintf(after, sizeof after, ": sudo usermod -aG %s $USER, then log in again",
                              error.group);
            }
            Compose(out, size, width, "No access to ", name, after);
            return;
        case PortFailure::kNotASerialPort:
            Compose(out, size, width, "", name, " is not a serial port: give the adapter's port (see below)");
            return;
        case PortFailure::kOwnTerminal:
            Compose(out, size, width, "", name, " is this program's own terminal, not a serial port");
            return;
        case PortFailure::kTerminalInUse:
            Compose(out, size, width, "", name, " is a terminal in use by another program");
            return;
        case PortFailure::kSystemConsole:
            Compose(out, size, width, "", name, " is the system console: give the adapter's port (see below)");
            return;
        case PortFailure::kNone:
        case PortFailure::kOther:
            break;
    }
    char words[sizeof error.system_text];
    ShowSafely(words, sizeof words, error.system_text[0] != '\0' ? error.system_text : "unknown error");
    std::snprintf(after, sizeof after, " could not be opened: %s", words);
    Compose(out, size, width, "", name, after);
}

void PortInText(char* out, std::size_t size, const char* before, const char* port, const char* after,
                PortSystem system, int width) {
    char name[128];
    ShowSafely(name, sizeof name, port);
    if (system == PortSystem::kWindows) UpperCase(name);
    Compose(out, size, width, before, name, after);
}

bool PortBefore(const PortEntry& a, const PortEntry& b) { return CompareNames(a.name, b.name) < 0; }

void SortPorts(PortEntry* entries, int count) {
    for (int i = 1; i < count; ++i) {
        PortEntry moving = entries[i];
        int j = i;
        for (; j > 0 && CompareNames(entries[j - 1].name, moving.name) > 0; --j) entries[j] = entries[j - 1];
        entries[j] = moving;
    }
}

void PortsLineText(char* out, std::size_t size, const PortEntry* entries, int listed, int total,
                   int width) {
    if (total <= 0) {
        Compose(out, size, width, "No serial ports found: is the adapter plugged in?", "", "");
        return;
    }
    char line[256];
    std::size_t limit = static_cast<std::size_t>(width);
    if (limit >= sizeof line) limit = sizeof line - 1;
    // Full names only when every one of them fits; else the short ones, as
    // many as leave room to say how many more there are.
    for (const bool full : {true, false}) {
        std::size_t len = static_cast<std::size_t>(
            std::snprintf(line, sizeof line, "Serial ports on this computer:"));
        int shown = 0;
        for (; shown < listed; ++shown) {
            char name[sizeof entries[shown].name];
            ShowSafely(name, sizeof name, full ? entries[shown].name : entries[shown].short_name);
            char more[32] = "";
            if (!full && shown + 1 < total)
                std::snprintf(more, sizeof more, " ... and %d more", total - shown - 1);
            if (len + 1 + std::strlen(name) + std::strlen(more) > limit) break;
            len += static_cast<std::size_t>(std::snprintf(line + len, sizeof line - len, " %s", name));
        }
        if (full && shown < total) continue;
        if (shown < total) std::snprintf(line + len, sizeof line - len, " ... and %d more", total - shown);
        CopyText(out, size < limit + 1 ? size : limit + 1, line);
        return;
    }
}
