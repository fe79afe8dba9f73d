// A scripted Windows: COM ports, the serial-port map, the DOS device names and
// the SetupAPI device nodes, answering as a test says, put in win32_calls for
// the length of a test (ScriptedWindows). Ports open as "\\.\COM<n>" unless
// the script refuses them; each reads the bytes the test gave it and records
// what was written to it; the simulated device's engine may answer behind
// one.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "serial_link/serial_link.h"
#include "simulator/device_engine.h"
#include "win32_calls.h"

struct ScriptedPort {
    // Opening it.
    DWORD open_error = 0;       // CreateFile fails with it
    DWORD set_state_error = 0;  // SetCommState refuses every setting with it
    // Reading: the bytes the device sent, each with the time (steady_us) from
    // which it is there; 0 for at once.
    std::string input;
    std::int64_t input_from_us = 0;
    bool read_returns_at_once = false;  // ReadFile returns with nothing before its timeout
    // Writing.
    DWORD write_error = 0;  // WriteFile fails with it
    int write_limit = -1;   // WriteFile succeeds, writing at most this many bytes
    // The device behind the port, when there is one: it takes every byte
    // written and its replies are read.
    DeviceEngine* device = nullptr;
    // The adapter pulled: reads return nothing at once, writes reach nobody,
    // ClearCommError still answers, GetCommModemStatus fails. It happens by
    // itself once the device has taken `unplug_after_bytes` bytes.
    bool unplugged = false;
    int unplug_after_bytes = -1;
    int clear_error_failures = 0;  // the next ClearCommError calls that fail

    // What the port saw.
    std::string wire;  // every byte written
    int reads = 0;
    bool open = false;
    DCB state{};  // as the last program left it, then as set
    int states_set = 0;
};

// A device node of SetupAPI.
struct ScriptedNode {
    bool present = true;
    bool interface_only = false;  // found through the COM-port interface only
    std::wstring port_name;       // its key's PortName
    std::wstring friendly_name;
    std::wstring hardware_id;
    int latency_ms = -1;  // its key's LatencyTimer, -1 for none
};

struct ScriptedSystem {
    std::map<int, ScriptedPort> ports;                            // by COM number
    std::vector<std::pair<std::string, std::string>> serial_map;  // device, "COM<n>"
    std::vector<std::string> dos_names;
    std::vector<ScriptedNode> nodes;
};

inline ScriptedSystem* scripted = nullptr;

namespace scripted_calls {

// Handles: a port's is its number plus kPortBase, a device set's the class
// plus kSetBase, a node's key its index plus kKeyBase.
constexpr std::uintptr_t kPortBase = 0x10000;
constexpr std::uintptr_t kSetBase = 0x20000;
constexpr std::uintptr_t kKeyBase = 0x30000;
const HKEY kSerialMapKey = reinterpret_cast<HKEY>(0x40000);

inline ScriptedPort* port_of(HANDLE handle) {
    const auto number = reinterpret_cast<std::uintptr_t>(handle) - kPortBase;
    const auto found = scripted->ports.find(static_cast<int>(number));
    return found == scripted->ports.end() || !found->second.open ? nullptr : &found->second;
}

inline BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

inline HANDLE WINAPI create_file(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                 HANDLE) {
    const std::string path = name;
    const std::string prefix = "\\\\.\\COM";
    const auto found = path.rfind(prefix, 0) == 0
                           ? scripted->ports.find(std::atoi(path.c_str() + prefix.size()))
                           : scripted->ports.end();
    if (found == scripted->ports.end() || found->second.open_error != 0) {
        SetLastError(found == scripted->ports.end() ? ERROR_FILE_NOT_FOUND
                                                    : found->second.open_error);
        return INVALID_HANDLE_VALUE;
    }
    found->second.open = true;
    return reinterpret_cast<HANDLE>(kPortBase + static_cast<std::uintptr_t>(found->first));
}

inline BOOL WINAPI close_handle(HANDLE handle) {
    ScriptedPort* port = port_of(handle);
    if (port == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    port->open = false;
    return TRUE;
}

inline BOOL WINAPI get_comm_state(HANDLE handle, LPDCB state) {
    ScriptedPort* port = port_of(handle);
    if (port == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    *state = port->state;
    return TRUE;
}

inline BOOL WINAPI set_comm_state(HANDLE handle, LPDCB state) {
    ScriptedPort* port = port_of(handle);
    if (port == nullptr || port->set_state_error != 0) {
        return fail(port == nullptr ? ERROR_INVALID_HANDLE : port->set_state_error);
    }
    port->state = *state;
    ++port->states_set;
    return TRUE;
}

inline BOOL WINAPI comm_timeouts(HANDLE handle, LPCOMMTIMEOUTS) {
    return port_of(handle) != nullptr ? TRUE : fail(ERROR_INVALID_HANDLE);
}

inline BOOL WINAPI setup_comm(HANDLE handle, DWORD, DWORD) {
    return port_of(handle) != nullptr ? TRUE : fail(ERROR_INVALID_HANDLE);
}

inline BOOL WINAPI purge_comm(HANDLE handle, DWORD) {
    return port_of(handle) != nullptr ? TRUE : fail(ERROR_INVALID_HANDLE);
}

inline BOOL WINAPI clear_comm_error(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
    ScriptedPort* port = port_of(handle);
    if (port == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (port->clear_error_failures > 0) {
        --port->clear_error_failures;
        return fail(ERROR_GEN_FAILURE);
    }
    *errors = 0;
    *status = COMSTAT{};
    return TRUE;
}

inline BOOL WINAPI get_comm_modem_status(HANDLE handle, LPDWORD modem_status) {
    ScriptedPort* port = port_of(handle);
    if (port == nullptr || port->unplugged) {
        return fail(port == nullptr ? ERROR_INVALID_HANDLE : ERROR_BAD_COMMAND);
    }
    *modem_status = MS_CTS_ON | MS_DSR_ON;
    return TRUE;
}

// The read timeout last set, for a driver that honours it.
inline DWORD read_wait_ms = 0;

inline BOOL WINAPI set_comm_timeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    if (port_of(handle) == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    read_wait_ms = timeouts->ReadTotalTimeoutConstant;
    return TRUE;
}

inline BOOL WINAPI read_file(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got,
                             LPOVERLAPPED) {
    ScriptedPort* port = port_of(handle);
    if (port == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    ++port->reads;
    *got = 0;
    const bool waiting = !port->input.empty() && steady_us() >= port->input_from_us;
    if (port->unplugged || (!waiting && (port->read_returns_at_once || read_wait_ms == 0))) {
        return TRUE;
    }
    if (!waiting) {
        Sleep(read_wait_ms);  // the byte due meanwhile is left for the next read
        return TRUE;
    }
    *got = length < port->input.size() ? length : static_cast<DWORD>(port->input.size());
    port->input.copy(static_cast<char*>(buffer), *got);
    port->input.erase(0, *got);
    return TRUE;
}

inline BOOL WINAPI write_file(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written,
                              LPOVERLAPPED) {
    ScriptedPort* port = port_of(handle);
    *written = 0;
    if (port == nullptr || port->write_error != 0) {
        return fail(port == nullptr ? ERROR_INVALID_HANDLE : port->write_error);
    }
    *written = port->write_limit >= 0 && static_cast<DWORD>(port->write_limit) < length
                   ? static_cast<DWORD>(port->write_limit)
                   : length;
    for (DWORD i = 0; i < *written && !port->unplugged; ++i) {
        const char byte = static_cast<const char*>(buffer)[i];
        port->wire += byte;
        std::uint8_t reply = 0;
        if (port->device != nullptr &&
            engine_feed(port->device, static_cast<std::uint8_t>(byte), &reply)) {
            port->input += static_cast<char>(reply);
        }
        port->unplugged = port->wire.size() == static_cast<std::size_t>(port->unplug_after_bytes);
    }
    return TRUE;
}

inline LSTATUS WINAPI reg_open_key(HKEY, LPCSTR sub_key, DWORD, REGSAM, PHKEY opened) {
    if (std::string(sub_key) != "HARDWARE\\DEVICEMAP\\SERIALCOMM") {
        return ERROR_FILE_NOT_FOUND;
    }
    *opened = kSerialMapKey;
    return ERROR_SUCCESS;
}

inline LSTATUS WINAPI reg_enum_value(HKEY key, DWORD index, LPSTR name, LPDWORD name_length,
                                     LPDWORD, LPDWORD type, LPBYTE data, LPDWORD data_size) {
    if (key != kSerialMapKey || index >= scripted->serial_map.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const auto& [device, port] = scripted->serial_map[index];
    *name_length = static_cast<DWORD>(device.copy(name, *name_length - 1));
    name[*name_length] = '\0';
    *type = REG_SZ;
    *data_size = static_cast<DWORD>(port.copy(reinterpret_cast<char*>(data), *data_size));
    return ERROR_SUCCESS;
}

inline const ScriptedNode* node_of(HKEY key) {
    const auto index = reinterpret_cast<std::uintptr_t>(key) - kKeyBase;
    return index < scripted->nodes.size() ? &scripted->nodes[index] : nullptr;
}

inline LSTATUS WINAPI reg_query_value(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                      LPDWORD data_size) {
    const ScriptedNode* node = node_of(key);
    if (node == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (std::wstring(name) == L"PortName" && !node->port_name.empty()) {
        const DWORD size = static_cast<DWORD>((node->port_name.size() + 1) * sizeof(wchar_t));
        if (size > *data_size) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, node->port_name.c_str(), size);
        *type = REG_SZ;
        *data_size = size;
        return ERROR_SUCCESS;
    }
    if (std::wstring(name) == L"LatencyTimer" && node->latency_ms >= 0) {
        const DWORD ms = static_cast<DWORD>(node->latency_ms);
        std::memcpy(data, &ms, sizeof ms);
        *type = REG_DWORD;
        *data_size = sizeof ms;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

inline LSTATUS WINAPI reg_close_key(HKEY key) {
    return key == kSerialMapKey || node_of(key) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

inline DWORD WINAPI query_dos_device(LPCSTR name, LPSTR target, DWORD size) {
    std::string answer;
    if (name == nullptr) {
        for (const std::string& dos_name : scripted->dos_names) {
            answer += dos_name + '\0';
        }
    }
    answer += '\0';
    if (name != nullptr || answer.size() > size) {
        SetLastError(name != nullptr ? ERROR_FILE_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    answer.copy(target, answer.size());
    return static_cast<DWORD>(answer.size());
}

// Which nodes a device set holds: set 0 the Ports class, set 1 the
// interface; present ones only with DIGCF_PRESENT.
inline bool in_set(HDEVINFO set, const ScriptedNode& node) {
    const auto which = reinterpret_cast<std::uintptr_t>(set) - kSetBase;
    return node.present && (which == 1 || !node.interface_only);
}

inline HDEVINFO WINAPI get_class_devs(const GUID* guid, PCWSTR, HWND, DWORD flags) {
    const bool ports = IsEqualGUID(*guid, kPortsClass);
    const bool com_interface = IsEqualGUID(*guid, kComPortInterface);
    EXPECT_TRUE(flags & DIGCF_PRESENT) << "devices plugged in earlier are asked for too";
    if ((!ports && !com_interface) || (com_interface && !(flags & DIGCF_DEVICEINTERFACE))) {
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HDEVINFO>(kSetBase + (com_interface ? 1 : 0));
}

inline BOOL WINAPI enum_device_info(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device) {
    for (std::size_t i = 0; i < scripted->nodes.size(); ++i) {
        if (in_set(set, scripted->nodes[i]) && index-- == 0) {
            device->DevInst = static_cast<DWORD>(i);
            return TRUE;
        }
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

inline BOOL WINAPI get_device_property(HDEVINFO, PSP_DEVINFO_DATA device, DWORD property,
                                       PDWORD type, PBYTE buffer, DWORD size, PDWORD needed) {
    const ScriptedNode& node = scripted->nodes.at(device->DevInst);
    const std::wstring& text = property == SPDRP_FRIENDLYNAME ? node.friendly_name
                               : property == SPDRP_HARDWAREID ? node.hardware_id
                                                              : std::wstring();
    const DWORD bytes = static_cast<DWORD>((text.size() + 2) * sizeof(wchar_t));
    if (needed != nullptr) {
        *needed = bytes;
    }
    if (text.empty() || bytes > size) {
        return fail(text.empty() ? ERROR_INVALID_DATA : ERROR_INSUFFICIENT_BUFFER);
    }
    std::memset(buffer, 0, bytes);
    std::memcpy(buffer, text.c_str(), text.size() * sizeof(wchar_t));
    *type = property == SPDRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
    return TRUE;
}

inline HKEY WINAPI open_dev_reg_key(HDEVINFO, PSP_DEVINFO_DATA device, DWORD, DWORD, DWORD key_type,
                                    REGSAM) {
    EXPECT_EQ(key_type, static_cast<DWORD>(DIREG_DEV)) << "not the device's own key";
    return reinterpret_cast<HKEY>(kKeyBase + device->DevInst);
}

inline BOOL WINAPI destroy_device_list(HDEVINFO) {
    return TRUE;
}

}  // namespace scripted_calls

// Puts the scripted system in win32_calls for the length of a test, and the
// real one back after it.
class ScriptedWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        namespace s = scripted_calls;
        scripted = &system_;
        s::read_wait_ms = 0;
        win32_calls = Win32Calls{
            .CreateFileA = s::create_file,
            .CloseHandle = s::close_handle,
            .GetCommState = s::get_comm_state,
            .SetCommState = s::set_comm_state,
            .GetCommTimeouts = s::comm_timeouts,
            .SetCommTimeouts = s::set_comm_timeouts,
            .SetupComm = s::setup_comm,
            .PurgeComm = s::purge_comm,
            .ClearCommError = s::clear_comm_error,
            .GetCommModemStatus = s::get_comm_modem_status,
            .ReadFile = s::read_file,
            .WriteFile = s::write_file,
            .RegOpenKeyExA = s::reg_open_key,
            .RegEnumValueA = s::reg_enum_value,
            .RegQueryValueExW = s::reg_query_value,
            .RegCloseKey = s::reg_close_key,
            .QueryDosDeviceA = s::query_dos_device,
            .SetupDiGetClassDevsW = s::get_class_devs,
            .SetupDiEnumDeviceInfo = s::enum_device_info,
            .SetupDiGetDeviceRegistryPropertyW = s::get_device_property,
            .SetupDiOpenDevRegKey = s::open_dev_reg_key,
            .SetupDiDestroyDeviceInfoList = s::destroy_device_list,
        };
    }
    void TearDown() override {
        win32_calls = kSystemCalls;
        scripted = nullptr;
    }

    // A new port COM<number> (in place of any before) as another program
    // left it: 115200 baud, 7 bits, even parity, and reads that fail after
    // one line error.
    ScriptedPort& add_port(int number) {
        ScriptedPort& port = system_.ports[number] = ScriptedPort{};
        port.state.DCBlength = sizeof(DCB);
        port.state.BaudRate = 115200;
        port.state.ByteSize = 7;
        port.state.Parity = EVENPARITY;
        port.state.fAbortOnError = TRUE;
        return port;
    }

    ScriptedSystem system_;
};
