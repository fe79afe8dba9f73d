#include <windows.h>

#include <cstring>
#include <vector>

#include "port_list.h"
#include "port_list_win32.h"

namespace {

using PortSet = bool[PortInfo::kMaxEntries + 1];

void add_port(const char* name, PortSet& present) {
    const int number = com_port_number(name);
    if (number > 0) {
        present[number] = true;
    }
}

// The serial-port map the port drivers keep: one REG_SZ value "COM<n>" per
// port. Under Wine it also holds the ports mapped in HKLM\Software\Wine\Ports.
void add_registry_ports(PortSet& present) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        char value_name[256];
        DWORD value_name_size = sizeof value_name;
        char data[64];
        DWORD data_size = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, value_name, &value_name_size, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_MORE_DATA) {
            continue;  // too long to be a port name
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        if (type == REG_SZ) {
            data[data_size] = '\0';  // the stored string need not end in NUL
            add_port(data, present);
        }
    }
    RegCloseKey(key);
}

// The DOS device names, which catch ports whose driver skips the map above.
void add_dos_device_ports(PortSet& present) {
    std::vector<char> names(16 * 1024);
    while (QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size())) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= 1024 * 1024) {
            return;
        }
        names.resize(names.size() * 2);
    }
    // A list of NUL-terminated names, ended by an empty one.
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        add_port(name, present);
    }
}

}  // namespace

int com_port_number(const char* name) {
    if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
        (name[2] != 'M' && name[2] != 'm') || name[3] < '1' || name[3] > '9') {
        return -1;
    }
    int number = 0;
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return -1;
        }
        number = number * 10 + (*digit - '0');
        if (number > PortInfo::kMaxEntries) {
            return -1;
        }
    }
    return number;
}

void fill_port_list(const PortPaths& /*paths*/, PortInfo* info) {
    PortSet present = {};
    add_registry_ports(present);
    add_dos_device_ports(present);

    info->clear();
    for (int number = 1; number <= PortInfo::kMaxEntries; ++number) {
        if (present[number]) {
            info->append(number, 1);
        }
    }
}
