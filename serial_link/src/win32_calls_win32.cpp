// The system's functions behind win32_calls.
#include "win32_calls.h"

const Win32Calls kSystemCalls = {
    CreateFileA,
    CloseHandle,
    GetCommState,
    SetCommState,
    GetCommTimeouts,
    SetCommTimeouts,
    SetupComm,
    PurgeComm,
    ClearCommError,
    GetCommModemStatus,
    ReadFile,
    WriteFile,
    RegOpenKeyExA,
    RegEnumValueA,
    RegQueryValueExW,
    RegCloseKey,
    QueryDosDeviceA,
    SetupDiGetClassDevsW,
    SetupDiEnumDeviceInfo,
    SetupDiGetDeviceRegistryPropertyW,
    SetupDiOpenDevRegKey,
    SetupDiDestroyDeviceInfoList,
};

Win32Calls win32_calls = kSystemCalls;
