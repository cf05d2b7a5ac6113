#include "fixtures.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef FERROWANE_FIXTURES_DIR
#error "the build names the fixtures folder (FERROWANE_FIXTURES_DIR)"
#endif

namespace fixtures {

std::string dir()
{
    if (const char* d = std::getenv("FERROWANE_FIXTURES_DIR"); d && *d)
        return d;
    return FERROWANE_FIXTURES_DIR;
}

std::string path(const std::string& relative)
{
    return dir() + "/" + relative;
}

bool present()
{
    std::error_code ec;
    return std::filesystem::is_directory(dir(), ec);
}

bool required()
{
    const char* ci = std::getenv("CI");
    return ci && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

}  // namespace fixtures
