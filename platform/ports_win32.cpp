// The serial ports present on Windows: the serial drivers name each port they
// serve under HARDWARE\DEVICEMAP\SERIALCOMM, so nothing needs opening.
#include <windows.h>

#include <cstdio>

#include "platform/serial.h"

int port_list(PortEntry* out, int max, PortOrder order) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    int count = 0, kept = 0;
    for (DWORD index = 0;; ++index) {
        char value_name[256];
        DWORD name_size = sizeof value_name;
        char data[64];
        DWORD data_size = sizeof data - 1;
        DWORD type = 0;
        LONG r = RegEnumValueA(key, index, value_name, &name_size, nullptr, &type,
                               reinterpret_cast<BYTE*>(data), &data_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ || data_size == 0) continue;
        data[data_size] = '\0';
        PortEntry entry{};
        std::snprintf(entry.name, sizeof entry.name, "%s", data);
        std::snprintf(entry.short_name, sizeof entry.short_name, "%s", data);
        kept = port_list_insert(out, max, kept, entry, order);
        ++count;
    }
    RegCloseKey(key);
    return count;
}
