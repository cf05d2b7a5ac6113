// Helpers shared by the fuzz targets and their regression replay: the entry
// points take the raw input bytes, as libFuzzer hands them over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// A file path private to this process, for inputs the engine reads from disk.
std::string scratchPath(const char* stem);
// Writes the bytes to `path`, replacing it; removes a stale journal next to it.
void writeFile(const std::string& path, const uint8_t* data, size_t size);
void removeFile(const std::string& path);

}  // namespace fuzz

// Each returns normally for every input; a crash, a sanitizer report or an
// exception other than the engine's own error is a finding.
void fuzzMdbRead(const uint8_t* data, size_t size);
void fuzzMdbWrite(const uint8_t* data, size_t size);
void fuzzStatement(const uint8_t* data, size_t size);
void fuzzRtfText(const uint8_t* data, size_t size);
void fuzzJobFile(const uint8_t* data, size_t size);
