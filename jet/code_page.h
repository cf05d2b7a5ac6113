// Windows code page 1252, the text encoding of Jet 3 files. The one table of
// it in the program: the engine's encoder and decoder, the checker and the
// conversion's "can this be stored" test all read it here.
#pragma once

#include <cstdint>

namespace jet::cp1252 {

// The character a byte stands for. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the
// same number, as Windows' own conversion and Access's text keys have them,
// so that every byte comes back as it went in.
char16_t decode(uint8_t byte);

// The byte of a character; -1 when the code page has none.
int encode(char32_t c);

inline bool canStore(char32_t c) { return encode(c) >= 0; }

} // namespace jet::cp1252
