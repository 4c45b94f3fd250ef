// The serial ports present on Linux and macOS, read from the device
// directory alone: nothing is opened, so no port is disturbed and the list
// takes no longer than a few directory reads.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/serial.h"
#include "platform/serial_posix.h"

namespace {

bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char* base_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

struct found_ports {
    PortEntry* out;
    int max;
    PortOrder order;
    int kept;   // in `out`, in order
    int count;  // all there are
};

void add(found_ports* found, const char* dir, const char* entry, const char* short_name) {
    // A name too long to keep whole would be a wrong path: left out.
    const std::size_t dir_len = std::strlen(dir);
    const std::size_t entry_len = std::strlen(entry);
    const std::size_t short_len = std::strlen(short_name);
    if (dir_len + 1 + entry_len >= sizeof(PortEntry::name) || short_len >= sizeof(PortEntry::short_name)) return;
    PortEntry e{};
    std::memcpy(e.name, dir, dir_len);
    e.name[dir_len] = '/';
    std::memcpy(e.name + dir_len + 1, entry, entry_len + 1);
    std::memcpy(e.short_name, short_name, short_len + 1);
    found->kept = port_list_insert(found->out, found->max, found->kept, e, found->order);
    ++found->count;
}

// The device name behind the link `dir`/`entry` (ttyUSB0 for a by-id name),
// or null when it is no link or nothing is behind it (unplugged: stale).
const char* link_target(const char* dir, const char* entry, char (&target)[PATH_MAX]) {
    char link[PATH_MAX];
    if (std::snprintf(link, sizeof link, "%s/%s", dir, entry) >= static_cast<int>(sizeof link)) return nullptr;
    const ssize_t n = readlink(link, target, sizeof target - 1);
    struct stat st{};
    if (n <= 0 || stat(link, &st) != 0) return nullptr;
    target[n] = '\0';
    return base_name(target);
}

// The Raspberry Pi's names for the UART on its pins, links to ttyAMA0 or
// ttyS0 whichever the board routes there.
constexpr const char* kPiNames[] = {"serial0", "serial1"};

// A kernel name that a stable name (by-id, serial0) already lists.
bool has_stable_name(const char* dev, const char* by_id, const char* kernel_name) {
    char target[PATH_MAX];
    for (const char* pi : kPiNames) {
        const char* leads_to = link_target(dev, pi, target);
        if (leads_to != nullptr && std::strcmp(leads_to, kernel_name) == 0) return true;
    }
    bool listed = false;
    if (DIR* d = opendir(by_id)) {
        while (!listed) {
            const dirent* e = readdir(d);
            if (e == nullptr) break;
            if (e->d_name[0] == '.') continue;
            const char* leads_to = link_target(by_id, e->d_name, target);
            listed = leads_to != nullptr && std::strcmp(leads_to, kernel_name) == 0;
        }
        closedir(d);
    }
    return listed;
}

}  // namespace

int posix_port_list(const char* dev, PortEntry* out, int max, PortOrder order) {
    found_ports found{out, max, order, 0, 0};
    char target[PATH_MAX];

    // Linux: the stable names of USB adapters, each a link to its ttyUSBn or
    // ttyACMn; the stable name survives a replug, the kernel name may not.
    char by_id[PATH_MAX];
    std::snprintf(by_id, sizeof by_id, "%s/serial/by-id", dev);
    if (DIR* d = opendir(by_id)) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            if (const char* leads_to = link_target(by_id, e->d_name, target)) add(&found, by_id, e->d_name, leads_to);
        }
        closedir(d);
    }
    for (const char* pi : kPiNames)
        if (const char* leads_to = link_target(dev, pi, target)) add(&found, dev, pi, leads_to);

    // USB adapters without a stable name and the Pi's UARTs (Linux), and the
    // call-out devices of macOS.
    if (DIR* d = opendir(dev)) {
        while (dirent* e = readdir(d)) {
            const bool kernel = starts_with(e->d_name, "ttyUSB") || starts_with(e->d_name, "ttyACM") ||
                                starts_with(e->d_name, "ttyAMA");
            const bool callout = starts_with(e->d_name, "cu.");
            if ((kernel && !has_stable_name(dev, by_id, e->d_name)) || callout) add(&found, dev, e->d_name, e->d_name);
        }
        closedir(d);
    }
    return found.count;
}

int port_list(PortEntry* out, int max, PortOrder order) { return posix_port_list("/dev", out, max, order); }
