// The serial ports present on Windows: the serial drivers name each port they
// serve under HARDWARE\DEVICEMAP\SERIALCOMM, so nothing needs opening.
#include <windows.h>

#include <cstdio>

#include "platform/serial.h"

int port_list(PortEntry* out, int max) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    int count = 0;
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
        if (count < max) {
            std::snprintf(out[count].name, sizeof out[count].name, "%s", data);
            std::snprintf(out[count].short_name, sizeof out[count].short_name, "%s", data);
        }
        ++count;
    }
    RegCloseKey(key);
    return count;
}
