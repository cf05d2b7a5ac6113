// The text a BLOB column holds, for "Convert BLOB to text".
#pragma once

#include <QByteArray>
#include <QString>

namespace ferrowane {

// Bytes decoded as Windows-1252; the five bytes that code page leaves
// unassigned (81, 8D, 8F, 90, 9D) map to the control characters of the same
// number, as Windows does, so that no byte is lost.
QString decodeWindows1252(const QByteArray& bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(const QByteArray& bytes);

// The text of a BLOB: an RTF document gives its plain text; bytes that begin
// with a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark are decoded by it (mark
// removed); other bytes as UTF-8 when they are valid UTF-8, else as
// Windows-1252. Empty bytes (and NULL) give an empty text.
QString blobToText(const QByteArray& bytes);

}  // namespace ferrowane
