#include "cli.h"

#include <iostream>

#ifdef _WIN32
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace {

// On Windows the arguments come as UTF-16 and become UTF-8, the engine's
// form of names, whatever the system's code page; standard input and output
// carry the exact bytes (no CR added, no Ctrl-Z end), and the console shows
// UTF-8.
std::vector<std::string> utf8Arguments()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; argv && i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string a(size_t(n > 0 ? n - 1 : 0), '\0');
        if (n > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, a.data(), n, nullptr, nullptr);
        args.push_back(std::move(a));
    }
    LocalFree(argv);
    return args;
}

} // namespace
#endif

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> args = utf8Arguments();
#else
    std::vector<std::string> args(argv + 1, argv + argc);
#endif
    int code = mdbtool::run(args, std::cin, std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "ferrowane-mdb: cannot write the output\n";
        return mdbtool::kExitFailure;
    }
    return code;
}
