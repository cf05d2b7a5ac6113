// Replays the inputs the text fuzzers once failed on (fuzz/regressions/<target>/)
// and their seeds through the same entry points, in the normal build.
#include "fuzz/fuzz_common.cpp"
#if __has_include("settings/job_file.h")
#include "fuzz/job_file.cpp"
#define HAVE_JOB_FILE 1
#endif
#include "fuzz/rtf_text.cpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

void replay(const char* target, void (*entry)(const uint8_t*, size_t))
{
    std::vector<fs::path> files;
    for (const char* kind : {"regressions", "seeds"}) {
        const fs::path dir = fs::path(FERROWANE_SOURCE_DIR) / "fuzz" / kind / target;
        if (fs::is_directory(dir))
            for (const auto& e : fs::directory_iterator(dir))
                if (e.is_regular_file())
                    files.push_back(e.path());
    }
    EXPECT_FALSE(files.empty()) << "no seeds for " << target;
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        std::ifstream in(f, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_NO_THROW(entry(bytes.data(), bytes.size()));
    }
}

}  // namespace

TEST(FuzzRegression, RtfAndBlobText) { replay("rtf_text", fuzzRtfText); }

#ifdef HAVE_JOB_FILE
TEST(FuzzRegression, JobFile) { replay("job_file", fuzzJobFile); }
#endif
