// The BLOB-to-text decoding: RTF documents, byte-order marks, UTF-8 and
// Windows-1252.
#include "fuzz/fuzz_common.h"

#include "engine/blob_text.h"
#include "engine/rtf_text.h"

void fuzzRtfText(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    ferrowane::looksLikeRtf(bytes);
    ferrowane::rtfToText(bytes);
    ferrowane::blobToText(bytes);
    ferrowane::isValidUtf8(bytes);
    ferrowane::decodeWindows1252(bytes);
    // The decoder is also reached for documents that only claim to be RTF.
    ferrowane::rtfToText(QByteArray("{\\rtf1 ") + bytes);
}
