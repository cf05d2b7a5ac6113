// mkdtemp for the Windows build of the engine's tests (posix_shim_win32.h).
#include "posix_shim_win32.h"

#include <cstring>
#include <string>

#include <windows.h>

namespace {

std::wstring wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

} // namespace

char* mkdtemp(char* name)
{
    size_t len = std::strlen(name);
    if (len < 6 || std::strcmp(name + len - 6, "XXXXXX") != 0)
        return nullptr;
    // The parent ("/tmp") may be missing on a Windows machine.
    std::string parent(name, len - 6);
    size_t slash = parent.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0)
        CreateDirectoryW(wide(parent.substr(0, slash)).c_str(), nullptr);
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    unsigned long long seed = (unsigned long long)tick.QuadPart ^ ((unsigned long long)GetCurrentProcessId() << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = len - 6; i < len; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            name[i] = digits[(seed >> 33) % 36];
        }
        if (CreateDirectoryW(wide(name).c_str(), nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return nullptr;
    }
    return nullptr;
}
