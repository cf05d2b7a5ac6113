#include "engine/rtf_text.h"

#include "engine/blob_text.h"

#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <memory>
#include <vector>

namespace ferrowane {

bool looksLikeRtf(const QByteArray& bytes)
{
    return bytes.startsWith("{\\rtf");
}

namespace {

// Destinations whose content is not document text.
const QSet<QByteArray>& skippedDestinations()
{
    static const QSet<QByteArray> names = {
        "fonttbl", "colortbl", "stylesheet", "info", "pict", "objdata", "fldinst",
        "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf",
        "footnote", "annotation", "atnid", "atnauthor", "listtable", "listoverridetable",
        "listtext", "pntext", "pntxta", "pntxtb", "revtbl", "rsidtbl", "generator", "themedata",
        "colorschememapping", "latentstyles", "datastore", "filetbl", "pgdsctbl", "xmlnstbl",
        "mmathPr", "nonshppict", "shpinst", "bkmkstart", "bkmkend", "template", "userprops",
        "docvar", "protusertbl", "passwordhash", "xform", "wgrffmtfilter", "ftnsep", "ftnsepc",
        "ftncn", "aftnsep", "aftnsepc", "aftncn", "falt", "panose", "fname", "leveltext",
        "levelnumbers", "blipuid", "datafield", "formfield", "keywords", "operator", "title",
        "subject", "author", "comment", "doccomm", "company", "category", "manager", "hlinkbase",
        "buptim", "creatim", "revtim", "printim"};
    return names;
}

// Control words that stand for one character.
const QHash<QByteArray, QString>& characterWords()
{
    static const QHash<QByteArray, QString> words = {
        {"par", QStringLiteral("\r\n")},     {"line", QStringLiteral("\r\n")},
        {"row", QStringLiteral("\r\n")},     {"sect", QStringLiteral("\r\n")},
        {"page", QStringLiteral("\r\n")},    {"tab", QStringLiteral("\t")},
        {"cell", QStringLiteral("\t")},      {"nestcell", QStringLiteral("\t")},
        {"emdash", QString(QChar(0x2014))},  {"endash", QString(QChar(0x2013))},
        {"emspace", QString(QChar(0x2003))}, {"enspace", QString(QChar(0x2002))},
        {"qmspace", QString(QChar(0x2005))}, {"bullet", QString(QChar(0x2022))},
        {"lquote", QString(QChar(0x2018))},  {"rquote", QString(QChar(0x2019))},
        {"ldblquote", QString(QChar(0x201C))}, {"rdblquote", QString(QChar(0x201D))},
        {"zwj", QString(QChar(0x200D))},     {"zwnj", QString(QChar(0x200C))},
    };
    return words;
}

class RtfReader {
public:
    explicit RtfReader(const QByteArray& input) : m_in(input) { m_groups.push_back(Group{}); }

    QString run()
    {
        const qsizetype n = m_in.size();
        qsizetype i = 0;
        while (i < n) {
            const char c = m_in.at(i);
            if (c == '{') {
                flush();
                m_skipFallback = 0;
                m_groups.push_back(m_groups.back());
                m_groups.back().destinationPending = true;
                ++i;
            } else if (c == '}') {
                flush();
                m_skipFallback = 0;
                if (m_groups.size() > 1)
                    m_groups.pop_back();
                ++i;
            } else if (c == '\\') {
                i = controlAt(i + 1);
            } else if (c == '\r' || c == '\n') {
                ++i;
            } else {
                textByte(c);
                ++i;
            }
        }
        flush();
        return m_out;
    }

private:
    struct Group {
        bool skip = false;
        bool destinationPending = false;  // no control word seen yet in this group
        int uc = 1;
    };

    Group& group() { return m_groups.back(); }

    void textByte(char c)
    {
        group().destinationPending = false;
        if (m_skipFallback > 0) {
            --m_skipFallback;
            return;
        }
        if (!group().skip)
            m_pending.append(c);
    }

    void textString(const QString& s)
    {
        group().destinationPending = false;
        if (m_skipFallback > 0) {
            --m_skipFallback;
            return;
        }
        if (group().skip)
            return;
        flush();
        m_out += s;
    }

    // Parses the control after a backslash at position i; returns the position after it.
    qsizetype controlAt(qsizetype i)
    {
        const qsizetype n = m_in.size();
        if (i >= n)
            return i;
        const char c = m_in.at(i);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            qsizetype j = i;
            while (j < n && j - i < 32 && ((m_in.at(j) >= 'a' && m_in.at(j) <= 'z') || (m_in.at(j) >= 'A' && m_in.at(j) <= 'Z')))
                ++j;
            const QByteArray word = m_in.mid(i, j - i);
            bool hasParam = false;
            bool negative = false;
            qint64 param = 0;
            if (j < n && m_in.at(j) == '-' && j + 1 < n && m_in.at(j + 1) >= '0' && m_in.at(j + 1) <= '9') {
                negative = true;
                ++j;
            }
            while (j < n && m_in.at(j) >= '0' && m_in.at(j) <= '9') {
                hasParam = true;
                if (param < 100000000)
                    param = param * 10 + (m_in.at(j) - '0');
                ++j;
            }
            if (negative)
                param = -param;
            if (j < n && m_in.at(j) == ' ')
                ++j;
            return controlWord(word, hasParam, param, j);
        }
        if (c == '\'') {
            int value = 0;
            int digits = 0;
            qsizetype j = i + 1;
            while (digits < 2 && j < n) {
                const int h = hexValue(m_in.at(j));
                if (h < 0)
                    break;
                value = value * 16 + h;
                ++digits;
                ++j;
            }
            if (digits > 0)
                textByte(char(value));
            return j;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            textByte(c);
            break;
        case '~':
            textString(QString(QChar(0x00A0)));
            break;
        case '_':
            textString(QString(QChar(0x2011)));
            break;
        case '\r':
        case '\n':
            textString(QStringLiteral("\r\n"));
            break;
        case '*':
            group().skip = true;
            break;
        default:  // \- optional hyphen, \| \: and unknown symbols give nothing
            if (m_skipFallback > 0)
                --m_skipFallback;
            break;
        }
        return i + 1;
    }

    qsizetype controlWord(const QByteArray& word, bool hasParam, qint64 param, qsizetype next)
    {
        const bool firstInGroup = group().destinationPending;
        group().destinationPending = false;
        if (word == "bin") {
            // Binary data follows: never text, whatever the group.
            const qint64 len = hasParam && param > 0 ? param : 0;
            return qMin<qint64>(m_in.size(), next + len);
        }
        if (word == "u" && hasParam) {
            if (m_skipFallback > 0) {
                --m_skipFallback;
                return next;
            }
            int unit = int(param);
            if (unit < 0)
                unit += 65536;
            if (!group().skip) {
                flush();
                m_out += QChar(char16_t(unit & 0xFFFF));
            }
            m_skipFallback = group().uc;
            return next;
        }
        if (m_skipFallback > 0) {
            --m_skipFallback;
            return next;
        }
        if (word == "uc") {
            group().uc = hasParam && param >= 0 ? int(param) : 1;
            return next;
        }
        if (word == "ansicpg" && hasParam) {
            flush();
            setCodePage(int(param));
            return next;
        }
        if (skippedDestinations().contains(word)) {
            // A destination word names what its group holds; inside a group
            // already being shown it only matters at the group's start.
            if (firstInGroup || word == "fonttbl" || word == "colortbl" || word == "stylesheet"
                || word == "info" || word == "pict")
                group().skip = true;
            return next;
        }
        const auto it = characterWords().constFind(word);
        if (it != characterWords().constEnd()) {
            textString(it.value());
            return next;
        }
        return next;
    }

    static int hexValue(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    void setCodePage(int codePage)
    {
        m_decoder.reset();
        if (codePage == 1252 || codePage <= 0)
            return;
        QByteArray name;
        if (codePage == 65001)
            name = "UTF-8";
        else if (codePage == 10000)
            name = "macintosh";
        else
            name = "windows-" + QByteArray::number(codePage);
        auto decoder = std::make_unique<QStringDecoder>(name.constData());
        if (!decoder->isValid())
            decoder = std::make_unique<QStringDecoder>(("cp" + QByteArray::number(codePage)).constData());
        if (decoder->isValid())
            m_decoder = std::move(decoder);
    }

    void flush()
    {
        if (m_pending.isEmpty())
            return;
        if (m_decoder)
            m_out += m_decoder->decode(m_pending);
        else
            m_out += decodeWindows1252(m_pending);
        m_pending.clear();
    }

    const QByteArray& m_in;
    std::vector<Group> m_groups;
    QByteArray m_pending;
    QString m_out;
    int m_skipFallback = 0;
    std::unique_ptr<QStringDecoder> m_decoder;  // null: Windows-1252
};

}  // namespace

QString rtfToText(const QByteArray& rtf)
{
    return RtfReader(rtf).run();
}

}  // namespace ferrowane
