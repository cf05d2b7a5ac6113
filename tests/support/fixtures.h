// The Access-made reference files the tests read. Their folder comes from the
// build (FERROWANE_FIXTURES_DIR, a CMake cache variable); the environment
// variable of the same name overrides it for one run. Without the folder a
// test skips, except under CI (CI=true), where it fails.
#pragma once

#include <string>

namespace fixtures {

std::string dir();
// A file below the folder, e.g. "jet3/testV1997.mdb".
std::string path(const std::string& relative);
bool present();
// True under CI: a missing folder is a failure there, not a reason to skip.
bool required();

}  // namespace fixtures

// In a GoogleTest body: stops the test when the folder is missing, as a
// skip or, under CI, as a failure.
#define FERROWANE_REQUIRE_FIXTURES()                                                          \
    do {                                                                                      \
        if (!fixtures::present()) {                                                           \
            if (fixtures::required())                                                         \
                GTEST_FAIL() << "the fixtures are missing at " << fixtures::dir() << " (CI)"; \
            GTEST_SKIP() << "no fixtures at " << fixtures::dir();                             \
        }                                                                                     \
    } while (0)
