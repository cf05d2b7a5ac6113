// Character sort codes of the two text sort orders used in index keys:
// "General" of Access 97 (Jet 3) and "General Legacy" (Jet 4).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace jet::sortcodes {

// How a character contributes to a key.
enum class CodeKind : std::uint8_t {
    Ignored = 0,        // nothing
    Simple = 1,         // inline codes only
    International = 2,  // inline codes plus an extra code (accents)
    Unprintable = 3,    // only a positioned code in the unprintable tail
    UnprintableExt = 4, // modifies the previous extra code
    InternationalExt = 5, // inline, optional extra and a 2-bit flag (CJK)
    Significant = 6,    // General 97: inline, counts for extra placeholders
    Surrogate = 7,      // computed from the code unit
};

// A run of consecutive characters with the same shape; the inline code of
// character first+i is inlineCode + i*step.
struct SortCodeRun {
    std::uint16_t first;
    std::uint16_t count;
    std::uint8_t kind;
    std::uint8_t step;
    std::uint8_t inlineLen;
    std::uint8_t extraLen;
    std::uint8_t aux;  // Unprintable: its code; UnprintableExt: modifier; InternationalExt: flag
    std::uint32_t inlineCode;
    std::uint16_t extraCode;
};

struct General97Mapping {
    std::uint16_t from;
    std::uint8_t to;
};

extern const SortCodeRun kGeneralLegacyRuns[];
extern const std::size_t kGeneralLegacyRunsCount;
extern const SortCodeRun kGeneral97Runs[];
extern const std::size_t kGeneral97RunsCount;
extern const General97Mapping kGeneral97Mappings[];
extern const std::size_t kGeneral97MappingsCount;

// One character's codes, expanded.
struct CharCode {
    CodeKind kind = CodeKind::Ignored;
    std::uint8_t inlineLen = 0;
    std::uint8_t extraLen = 0;
    std::uint8_t aux = 0;
    std::uint8_t inlineBytes[4] = {};
    std::uint8_t extraBytes[2] = {};
};

// Code of a UTF-16 unit in General Legacy (surrogates computed).
const CharCode& generalLegacyCode(char16_t c);
// Code of a UTF-16 unit in General 97 (characters above U+00FF go through
// the code page mapping or are ignored).
const CharCode& general97Code(char16_t c);

// Appends the text's codes (no flag byte; the text already cut and without
// trailing blanks), inverted for descending order.
void appendGeneralLegacy(std::vector<std::uint8_t>& out, std::u16string_view text, bool ascending);
void appendGeneral97(std::vector<std::uint8_t>& out, std::u16string_view text, bool ascending);

}  // namespace jet::sortcodes
