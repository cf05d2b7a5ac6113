// Replays the inputs the fuzzers once failed on (fuzz/regressions/<target>/)
// and the seed corpus (fuzz/seeds/<target>/) through the same entry points
// as the fuzz targets, in the normal build.
#include "fuzz/fuzz_common.cpp"
#include "fuzz/mdb_read.cpp"
#include "fuzz/mdb_write.cpp"
#include "fuzz/statement.cpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs(const char* target)
{
    std::vector<fs::path> out;
    for (const char* kind : {"regressions", "seeds"}) {
        const fs::path dir = fs::path(FERROWANE_SOURCE_DIR) / "fuzz" / kind / target;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file())
                out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint8_t> bytesOf(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void replay(const char* target, void (*entry)(const uint8_t*, size_t))
{
    const auto files = inputs(target);
    EXPECT_FALSE(files.empty()) << "no seeds for " << target;
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        const auto bytes = bytesOf(f);
        EXPECT_NO_THROW(entry(bytes.data(), bytes.size()));
    }
}

}  // namespace

TEST(FuzzRegression, MdbRead) { replay("mdb_read", fuzzMdbRead); }

// The writer takes the reader's inputs: each file is written into as well.
TEST(FuzzRegression, MdbWrite) { replay("mdb_read", fuzzMdbWrite); }

TEST(FuzzRegression, Statement) { replay("statement", fuzzStatement); }
