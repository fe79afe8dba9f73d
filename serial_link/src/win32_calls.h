// Every call the Windows port code makes into the system about serial ports:
// the COM handle, the registry's serial-port map, the DOS device names and
// the device nodes of SetupAPI. The gate, the port list and pager-ports'
// survey reach the system only through `win32_calls`, so that a test can put
// a scripted driver in its place: one that answers as real drivers do and
// Wine's never does (reads cut short, writes that time out, a status that
// still answers after the adapter was pulled, settings refused, stale device
// entries). Each member has the signature of the function it is named
// after; the default table holds those functions.
#pragma once

#include <windows.h>

#include <setupapi.h>

struct Win32Calls {
    // The COM handle.
    HANDLE(WINAPI* CreateFileA)
    (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
     DWORD flags, HANDLE template_file);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);
    BOOL(WINAPI* GetCommState)(HANDLE handle, LPDCB state);
    BOOL(WINAPI* SetCommState)(HANDLE handle, LPDCB state);
    BOOL(WINAPI* GetCommTimeouts)(HANDLE handle, LPCOMMTIMEOUTS timeouts);
    BOOL(WINAPI* SetCommTimeouts)(HANDLE handle, LPCOMMTIMEOUTS timeouts);
    BOOL(WINAPI* SetupComm)(HANDLE handle, DWORD in_queue, DWORD out_queue);
    BOOL(WINAPI* PurgeComm)(HANDLE handle, DWORD flags);
    BOOL(WINAPI* ClearCommError)(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
    BOOL(WINAPI* GetCommModemStatus)(HANDLE handle, LPDWORD modem_status);
    BOOL(WINAPI* ReadFile)
    (HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED overlapped);
    BOOL(WINAPI* WriteFile)
    (HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);

    // The serial-port map and the DOS device names.
    LSTATUS(WINAPI* RegOpenKeyExA)
    (HKEY key, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY opened);
    LSTATUS(WINAPI* RegEnumValueA)
    (HKEY key, DWORD index, LPSTR name, LPDWORD name_length, LPDWORD reserved, LPDWORD type,
     LPBYTE data, LPDWORD data_size);
    LSTATUS(WINAPI* RegQueryValueExW)
    (HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size);
    LSTATUS(WINAPI* RegCloseKey)(HKEY key);
    DWORD(WINAPI* QueryDosDeviceA)(LPCSTR name, LPSTR target, DWORD size);

    // The device nodes: a class's present devices, their properties and
    // their own registry key (the one holding PortName and, for FTDI,
    // LatencyTimer).
    HDEVINFO(WINAPI* SetupDiGetClassDevsW)
    (const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* SetupDiEnumDeviceInfo)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* SetupDiGetDeviceRegistryPropertyW)
    (HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type, PBYTE buffer, DWORD size,
     PDWORD needed);
    HKEY(WINAPI* SetupDiOpenDevRegKey)
    (HDEVINFO set, PSP_DEVINFO_DATA device, DWORD scope, DWORD profile, DWORD key_type,
     REGSAM access);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);
};

// The device classes the port code asks SetupAPI for: the setup class
// "Ports (COM & LPT)" and the COM-port device interface.
inline constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
inline constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// The system's own functions.
extern const Win32Calls kSystemCalls;

// What the Windows port code calls; kSystemCalls unless a test put others.
extern Win32Calls win32_calls;
