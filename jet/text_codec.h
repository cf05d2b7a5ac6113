// Text conversions: UTF-8 (the engine's API) to UTF-16LE (Jet 4 storage,
// optionally with the one-byte-per-character compression) and to code
// page 1252 (Jet 3 storage).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

// Throws jet::Error on malformed UTF-8.
std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);

// Code page 1252; nullopt when a character has no byte there.
std::optional<std::string> utf8ToCp1252(std::string_view s);
std::string cp1252ToUtf8(std::string_view s);

// Jet 4 text bytes: compressed form ("FF FE" then runs) when every
// character is in U+0001..U+00FF and the text is short enough, else plain
// UTF-16LE.
std::vector<uint8_t> encodeJet4Text(std::u16string_view s, bool allowCompression);
// Decodes Jet 4 text bytes, compressed or not.
std::u16string decodeJet4Text(const uint8_t* data, size_t n);

// Case folding used for name lookups (Access compares names without regard
// to case).
std::u16string foldCase(std::u16string_view s);
bool sameName(std::string_view a, std::string_view b);

} // namespace jet
