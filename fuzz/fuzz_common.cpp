#include "fuzz/fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fuzz {

std::string scratchPath(const char* stem)
{
    const char* dir = std::getenv("TMPDIR");
    std::string d = dir && *dir ? dir : "/tmp";
    return d + "/ferrowane-fuzz-" + stem + "-" + std::to_string(::getpid()) + ".mdb";
}

void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    removeFile(path);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

void removeFile(const std::string& path)
{
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
}

}  // namespace fuzz
