// Bytes in a MySQL character set to Unicode and back.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace ferrowane {

// One codec per MySQL character set name: the 36 names of the character-set
// list, "utf8mb4" and "utf8mb3". Not thread-safe (it keeps its iconv handles);
// each connection owns its own.
// - latin1 is Windows-1252 as MySQL defines it (the five bytes that code page
//   leaves free stand for the C1 controls of the same number);
// - binary: bytes that form valid UTF-8 are read as UTF-8, anything else byte
//   by byte as Latin-1, so nothing is lost or replaced;
// - keybcs2 (Kamenický) has its own table, glibc has no converter for it;
// - ucs2 is UCS-2 big-endian;
// - single-byte sets follow the server's tables where they differ from glibc's;
// - bytes that are not valid in the character set become U+FFFD; characters the
//   set cannot hold are encoded as "?".
class CharsetCodec {
public:
    // Throws std::invalid_argument for a name that is not a known MySQL character set.
    explicit CharsetCodec(const QString& mysqlName);
    ~CharsetCodec();
    CharsetCodec(const CharsetCodec&) = delete;
    CharsetCodec& operator=(const CharsetCodec&) = delete;

    static bool isKnown(const QString& mysqlName);
    // The encoding used for a MySQL character set (an iconv name or one of ours).
    static QString encodingName(const QString& mysqlName);

    QString mysqlName() const { return m_name; }
    QString decode(const char* data, qsizetype size) const;
    QString decode(const QByteArray& bytes) const { return decode(bytes.constData(), bytes.size()); }
    QByteArray encode(const QString& text) const;

private:
    struct Impl;
    QString m_name;
    std::unique_ptr<Impl> d;
};

}  // namespace ferrowane
