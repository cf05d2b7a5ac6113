// Plain text of an RTF document, as a rich-text control would show it.
#pragma once

#include <QByteArray>
#include <QString>

namespace ferrowane {

// True when the bytes start an RTF document ("{\rtf").
bool looksLikeRtf(const QByteArray& bytes);

// The document's text without markup. Paragraph and line breaks (\par, \line,
// \row) become CR LF, \tab and \cell a tab; \'hh bytes are decoded in the
// document's code page (\ansicpg, Windows-1252 when absent or unknown), \uN as
// UTF-16 units with the \ucN fallback characters skipped. Font, colour and style
// tables, document information, pictures, field instructions and every group
// marked \* are left out. Never fails: a truncated or unbalanced document gives
// the text read up to its end.
QString rtfToText(const QByteArray& rtf);

}  // namespace ferrowane
