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
    int count;
};

void add(found_ports* found, const char* dir, const char* entry, const char* short_name) {
    // A name too long to keep whole would be a wrong path: left out.
    const std::size_t dir_len = std::strlen(dir);
    const std::size_t entry_len = std::strlen(entry);
    const std::size_t short_len = std::strlen(short_name);
    if (dir_len + 1 + entry_len >= sizeof(PortEntry::name) || short_len >= sizeof(PortEntry::short_name)) return;
    if (found->count < found->max) {
        PortEntry& e = found->out[found->count];
        std::memcpy(e.name, dir, dir_len);
        e.name[dir_len] = '/';
        std::memcpy(e.name + dir_len + 1, entry, entry_len + 1);
        std::memcpy(e.short_name, short_name, short_len + 1);
    }
    ++found->count;
}

// A kernel name already listed under its stable name.
bool already_listed(const found_ports& found, const char* kernel_name) {
    const int listed = found.count < found.max ? found.count : found.max;
    for (int i = 0; i < listed; ++i)
        if (std::strcmp(found.out[i].short_name, kernel_name) == 0) return true;
    return false;
}

}  // namespace

int posix_port_list(const char* dev, PortEntry* out, int max) {
    found_ports found{out, max, 0};

    // Linux: the stable names of USB adapters, each a link to its ttyUSBn or
    // ttyACMn; the stable name survives a replug, the kernel name may not.
    char by_id[PATH_MAX];
    std::snprintf(by_id, sizeof by_id, "%s/serial/by-id", dev);
    if (DIR* d = opendir(by_id)) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char link[PATH_MAX], target[PATH_MAX];
            if (std::snprintf(link, sizeof link, "%s/%s", by_id, e->d_name) >= static_cast<int>(sizeof link))
                continue;
            const ssize_t n = readlink(link, target, sizeof target - 1);
            struct stat st{};
            if (n <= 0 || stat(link, &st) != 0) continue;  // a stale link: nothing behind it
            target[n] = '\0';
            add(&found, by_id, e->d_name, base_name(target));
        }
        closedir(d);
    }

    // USB adapters without a stable name (Linux), and the call-out devices
    // of macOS.
    if (DIR* d = opendir(dev)) {
        while (dirent* e = readdir(d)) {
            const bool usb = starts_with(e->d_name, "ttyUSB") || starts_with(e->d_name, "ttyACM");
            const bool callout = starts_with(e->d_name, "cu.");
            if ((usb && !already_listed(found, e->d_name)) || callout) add(&found, dev, e->d_name, e->d_name);
        }
        closedir(d);
    }
    return found.count;
}

int port_list(PortEntry* out, int max) { return posix_port_list("/dev", out, max); }
