// Small helpers for the Wine tests of the type library and the resources:
// files beside the test program, a scratch folder, running a build tool.
#pragma once

#include <windows.h>

#include <string>

#include "nj/unique.h"

namespace nj::test {

// The build puts the tests next to what they check.
inline std::wstring BesideTest(const std::wstring& name)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

// A new empty folder under the temporary folder, or "" when none can be made.
inline std::wstring TempDirectory(const std::wstring& prefix)
{
    wchar_t base[MAX_PATH] = {};
    if (GetTempPathW(MAX_PATH, base) == 0) return L"";
    for (unsigned n = GetCurrentProcessId(), tries = 0; tries < 100; ++n, ++tries) {
        std::wstring dir = std::wstring(base) + prefix + L"-" + std::to_wstring(n);
        if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
    }
    return L"";
}

inline void RemoveTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir.c_str());
}

// Runs a command line to its end; its exit code, or ~0u when it did not start.
inline DWORD RunProcess(std::wstring command)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return ~0u;
    unique_handle thread(process.hThread);
    unique_handle handle(process.hProcess);
    WaitForSingleObject(handle.get(), INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(handle.get(), &code);
    return code;
}

}  // namespace nj::test
