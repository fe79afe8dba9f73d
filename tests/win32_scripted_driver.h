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
#include <cwchar>
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

// The scripted calls, each named as the member of Win32Calls it stands for.
// Handles: a port's is its number plus kPortBase, a device set's its class
// (0 the Ports class, 1 the interface) plus kSetBase, a node's key its index
// plus kKeyBase.
struct ScriptedCalls {
    static constexpr std::uintptr_t kPortBase = 0x10000;
    static constexpr std::uintptr_t kSetBase = 0x20000;
    static constexpr std::uintptr_t kKeyBase = 0x30000;
    static HKEY serial_map_key() { return reinterpret_cast<HKEY>(0x40000); }
    static inline DWORD read_wait_ms = 0;  // the read timeout last set

    static ScriptedPort* port_of(HANDLE handle) {
        const auto found = scripted->ports.find(
            static_cast<int>(reinterpret_cast<std::uintptr_t>(handle) - kPortBase));
        return found == scripted->ports.end() || !found->second.open ? nullptr : &found->second;
    }
    static const ScriptedNode* node_of(HKEY key) {
        const auto index = reinterpret_cast<std::uintptr_t>(key) - kKeyBase;
        return index < scripted->nodes.size() ? &scripted->nodes[index] : nullptr;
    }
    static BOOL fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }
    static BOOL ok_if_open(HANDLE handle) {
        return port_of(handle) != nullptr ? TRUE : fail(ERROR_INVALID_HANDLE);
    }

    static HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE) {
        const auto found = std::strncmp(name, "\\\\.\\COM", 7) == 0
                               ? scripted->ports.find(std::atoi(name + 7))
                               : scripted->ports.end();
        const DWORD error =
            found == scripted->ports.end() ? ERROR_FILE_NOT_FOUND : found->second.open_error;
        if (error != 0) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        found->second.open = true;
        return reinterpret_cast<HANDLE>(kPortBase + static_cast<std::uintptr_t>(found->first));
    }
    static BOOL WINAPI CloseHandle(HANDLE handle) {
        ScriptedPort* port = port_of(handle);
        return port != nullptr ? !(port->open = false) : fail(ERROR_INVALID_HANDLE);
    }
    static BOOL WINAPI GetCommState(HANDLE handle, LPDCB state) {
        ScriptedPort* port = port_of(handle);
        return port != nullptr ? (*state = port->state, TRUE) : fail(ERROR_INVALID_HANDLE);
    }
    static BOOL WINAPI SetCommState(HANDLE handle, LPDCB state) {
        ScriptedPort* port = port_of(handle);
        if (port == nullptr || port->set_state_error != 0) {
            return fail(port == nullptr ? ERROR_INVALID_HANDLE : port->set_state_error);
        }
        port->state = *state;
        ++port->states_set;
        return TRUE;
    }
    static BOOL WINAPI GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS) { return ok_if_open(handle); }
    static BOOL WINAPI SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
        read_wait_ms = timeouts->ReadTotalTimeoutConstant;
        return ok_if_open(handle);
    }
    static BOOL WINAPI SetupComm(HANDLE handle, DWORD, DWORD) { return ok_if_open(handle); }
    static BOOL WINAPI PurgeComm(HANDLE handle, DWORD) { return ok_if_open(handle); }
    static BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
        ScriptedPort* port = port_of(handle);
        if (port == nullptr || port->clear_error_failures > 0) {
            return fail(port == nullptr ? ERROR_INVALID_HANDLE
                                        : (--port->clear_error_failures, ERROR_GEN_FAILURE));
        }
        *errors = 0;
        *status = COMSTAT{};
        return TRUE;
    }
    static BOOL WINAPI GetCommModemStatus(HANDLE handle, LPDWORD modem_status) {
        ScriptedPort* port = port_of(handle);
        if (port == nullptr || port->unplugged) {
            return fail(port == nullptr ? ERROR_INVALID_HANDLE : ERROR_BAD_COMMAND);
        }
        *modem_status = MS_CTS_ON | MS_DSR_ON;
        return TRUE;
    }
    static BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got,
                                LPOVERLAPPED) {
        ScriptedPort* port = port_of(handle);
        if (port == nullptr) {
            return fail(ERROR_INVALID_HANDLE);
        }
        ++port->reads;
        *got = 0;
        const bool waiting = !port->input.empty() && steady_us() >= port->input_from_us;
        if (!waiting && !port->unplugged && !port->read_returns_at_once) {
            Sleep(read_wait_ms);  // a byte due meanwhile is left for the next read
        }
        if (waiting && !port->unplugged) {
            *got = static_cast<DWORD>(port->input.copy(static_cast<char*>(buffer), length));
            port->input.erase(0, *got);
        }
        return TRUE;
    }
    static BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written,
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
            const auto byte = static_cast<const std::uint8_t*>(buffer)[i];
            port->wire += static_cast<char>(byte);
            std::uint8_t reply = 0;
            if (port->device != nullptr && engine_feed(port->device, byte, &reply)) {
                port->input += static_cast<char>(reply);
            }
            port->unplugged =
                port->wire.size() == static_cast<std::size_t>(port->unplug_after_bytes);
        }
        return TRUE;
    }

    static LSTATUS WINAPI RegOpenKeyExA(HKEY, LPCSTR sub_key, DWORD, REGSAM, PHKEY opened) {
        if (std::strcmp(sub_key, "HARDWARE\\DEVICEMAP\\SERIALCOMM") != 0) {
            return ERROR_FILE_NOT_FOUND;
        }
        *opened = serial_map_key();
        return ERROR_SUCCESS;
    }
    static LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_length,
                                        LPDWORD, LPDWORD type, LPBYTE data, LPDWORD data_size) {
        if (key != serial_map_key() || index >= scripted->serial_map.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        const auto& [device, port] = scripted->serial_map[index];
        *name_length = static_cast<DWORD>(device.copy(name, *name_length - 1));
        name[*name_length] = '\0';
        *type = REG_SZ;
        *data_size = static_cast<DWORD>(port.copy(reinterpret_cast<char*>(data), *data_size));
        return ERROR_SUCCESS;
    }
    static LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type,
                                           LPBYTE data, LPDWORD data_size) {
        const ScriptedNode* node = node_of(key);
        const DWORD ms = node == nullptr ? 0 : static_cast<DWORD>(node->latency_ms);
        const bool port_name = node != nullptr && std::wcscmp(name, L"PortName") == 0;
        const bool latency =
            node != nullptr && std::wcscmp(name, L"LatencyTimer") == 0 && node->latency_ms >= 0;
        const DWORD size = port_name ? static_cast<DWORD>((node->port_name.size() + 1) * 2) : 4;
        if (!port_name && !latency) {
            return node == nullptr ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
        }
        if (size > *data_size) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, port_name ? static_cast<const void*>(node->port_name.c_str()) : &ms,
                    size);
        *type = port_name ? REG_SZ : REG_DWORD;
        *data_size = size;
        return ERROR_SUCCESS;
    }
    static LSTATUS WINAPI RegCloseKey(HKEY key) {
        return key == serial_map_key() || node_of(key) != nullptr ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
    }
    static DWORD WINAPI QueryDosDeviceA(LPCSTR name, LPSTR target, DWORD size) {
        std::string answer;
        for (const std::string& dos_name : scripted->dos_names) {
            answer += dos_name + '\0';
        }
        answer += '\0';
        if (name != nullptr || answer.size() > size) {
            SetLastError(name != nullptr ? ERROR_FILE_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        return static_cast<DWORD>(answer.copy(target, size));
    }

    static HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* guid, PCWSTR, HWND, DWORD flags) {
        const bool com_interface = IsEqualGUID(*guid, kComPortInterface);
        EXPECT_TRUE(flags & DIGCF_PRESENT) << "devices plugged in earlier are asked for too";
        if (!IsEqualGUID(*guid, kPortsClass) && !(com_interface && flags & DIGCF_DEVICEINTERFACE)) {
            return INVALID_HANDLE_VALUE;
        }
        return reinterpret_cast<HDEVINFO>(kSetBase + (com_interface ? 1 : 0));
    }
    static BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device) {
        const bool com_interface = reinterpret_cast<std::uintptr_t>(set) - kSetBase == 1;
        for (std::size_t i = 0; i < scripted->nodes.size(); ++i) {
            const ScriptedNode& node = scripted->nodes[i];
            if (node.present && (com_interface || !node.interface_only) && index-- == 0) {
                device->DevInst = static_cast<DWORD>(i);
                return TRUE;
            }
        }
        return fail(ERROR_NO_MORE_ITEMS);
    }
    static BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO, PSP_DEVINFO_DATA device,
                                                         DWORD property, PDWORD type, PBYTE buffer,
                                                         DWORD size, PDWORD) {
        const ScriptedNode& node = scripted->nodes.at(device->DevInst);
        const std::wstring& text =
            property == SPDRP_HARDWAREID ? node.hardware_id : node.friendly_name;
        const DWORD bytes = static_cast<DWORD>((text.size() + 2) * sizeof(wchar_t));
        if (text.empty() || bytes > size) {
            return fail(text.empty() ? ERROR_INVALID_DATA : ERROR_INSUFFICIENT_BUFFER);
        }
        std::memset(buffer, 0, bytes);  // a list of one string, ended by an empty one
        std::memcpy(buffer, text.c_str(), text.size() * sizeof(wchar_t));
        *type = property == SPDRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
        return TRUE;
    }
    static HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA device, DWORD, DWORD,
                                            DWORD key_type, REGSAM) {
        EXPECT_EQ(key_type, static_cast<DWORD>(DIREG_DEV)) << "not the device's own key";
        return reinterpret_cast<HKEY>(kKeyBase + device->DevInst);
    }
    static BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) { return TRUE; }
};

// Puts the scripted system in win32_calls for the length of a test, and the
// real one back after it.
class ScriptedWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        using S = ScriptedCalls;
        scripted = &system_;
        S::read_wait_ms = 0;
        // clang-format off
        win32_calls = Win32Calls{
            S::CreateFileA, S::CloseHandle, S::GetCommState, S::SetCommState,
            S::GetCommTimeouts, S::SetCommTimeouts, S::SetupComm, S::PurgeComm,
            S::ClearCommError, S::GetCommModemStatus, S::ReadFile, S::WriteFile,
            S::RegOpenKeyExA, S::RegEnumValueA, S::RegQueryValueExW, S::RegCloseKey,
            S::QueryDosDeviceA, S::SetupDiGetClassDevsW, S::SetupDiEnumDeviceInfo,
            S::SetupDiGetDeviceRegistryPropertyW, S::SetupDiOpenDevRegKey,
            S::SetupDiDestroyDeviceInfoList};
        // clang-format on
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
