// MySQL geometry values (SRID + well-known binary) as well-known text.
#include "engine/geometry_text.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ferrowane {

QString spatialNumber(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (!std::isfinite(value))
        return QString::number(value);
    // Shortest digits in exponent form, then placed as the server places them.
    const QString e = QString::number(value, 'e', QLocale::FloatingPointShortest);
    const qsizetype ePos = e.indexOf(QLatin1Char('e'));
    QString mantissa = e.left(ePos);
    const int exponent = e.mid(ePos + 1).toInt();
    const bool negative = mantissa.startsWith(QLatin1Char('-'));
    if (negative)
        mantissa.remove(0, 1);
    const QString digits = QString(mantissa).remove(QLatin1Char('.'));
    QString out;
    if (exponent >= 15 || exponent < -15) {
        out = digits.left(1);
        if (digits.size() > 1)
            out += QLatin1Char('.') + digits.mid(1);
        out += QLatin1Char('e') + QString::number(exponent);
    } else if (exponent >= 0) {
        if (digits.size() <= exponent + 1)
            out = digits + QString(exponent + 1 - digits.size(), QLatin1Char('0'));
        else
            out = digits.left(exponent + 1) + QLatin1Char('.') + digits.mid(exponent + 1);
    } else {
        out = QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    }
    return negative ? QLatin1Char('-') + out : out;
}

namespace {

class WkbReader {
public:
    WkbReader(const QByteArray& b, qsizetype start) : m_b(b), m_pos(start) {}

    bool geometry(QString* out, bool withName, int depth = 0)
    {
        if (depth > 64)
            return false;
        quint8 order;
        quint32 type;
        if (!byte(&order) || order > 1)
            return false;
        m_little = order == 1;
        if (!u32(&type))
            return false;
        static const char* names[] = {nullptr, "POINT", "LINESTRING", "POLYGON", "MULTIPOINT",
                                      "MULTILINESTRING", "MULTIPOLYGON", "GEOMETRYCOLLECTION"};
        if (type < 1 || type > 7)
            return false;
        if (withName)
            *out += QLatin1String(names[type]);
        switch (type) {
        case 1:
            *out += QLatin1Char('(');
            if (!point(out))
                return false;
            *out += QLatin1Char(')');
            return true;
        case 2:
            return pointList(out);
        case 3:
            return ringList(out);
        case 4:
        case 5:
        case 6:
        case 7: {
            quint32 count;
            if (!u32(&count) || count > quint32(m_b.size()))
                return false;
            if (count == 0) {
                if (!withName)
                    return false;
                *out += QStringLiteral(" EMPTY");
                return true;
            }
            *out += QLatin1Char('(');
            for (quint32 k = 0; k < count; ++k) {
                if (k)
                    *out += QLatin1Char(',');
                if (type == 7) {
                    if (!geometry(out, true, depth + 1))
                        return false;
                    continue;
                }
                // Members of a multi type carry their own header but no name.
                QString member;
                if (!geometry(&member, false, depth + 1))
                    return false;
                if (type == 4 && member.startsWith(QLatin1Char('(')))
                    member = member.mid(1, member.size() - 2);
                *out += member;
            }
            *out += QLatin1Char(')');
            return true;
        }
        }
        return false;
    }

    bool atEnd() const { return m_pos == m_b.size(); }

private:
    bool byte(quint8* v)
    {
        if (m_pos + 1 > m_b.size())
            return false;
        *v = quint8(m_b.at(m_pos++));
        return true;
    }
    bool u32(quint32* v)
    {
        if (m_pos + 4 > m_b.size())
            return false;
        const auto* p = reinterpret_cast<const uchar*>(m_b.constData() + m_pos);
        *v = m_little ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                      : quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24;
        m_pos += 4;
        return true;
    }
    bool f64(double* v)
    {
        if (m_pos + 8 > m_b.size())
            return false;
        uchar raw[8];
        std::memcpy(raw, m_b.constData() + m_pos, 8);
        if (!m_little)
            std::reverse(raw, raw + 8);
        std::memcpy(v, raw, 8);
        m_pos += 8;
        return true;
    }
    bool point(QString* out)
    {
        double x, y;
        if (!f64(&x) || !f64(&y))
            return false;
        *out += spatialNumber(x) + QLatin1Char(' ') + spatialNumber(y);
        return true;
    }
    bool pointList(QString* out)
    {
        quint32 count;
        if (!u32(&count) || qint64(count) * 16 > m_b.size() - m_pos)
            return false;
        *out += QLatin1Char('(');
        for (quint32 k = 0; k < count; ++k) {
            if (k)
                *out += QLatin1Char(',');
            if (!point(out))
                return false;
        }
        *out += QLatin1Char(')');
        return true;
    }
    bool ringList(QString* out)
    {
        quint32 count;
        if (!u32(&count) || qint64(count) * 4 > m_b.size() - m_pos)
            return false;
        *out += QLatin1Char('(');
        for (quint32 k = 0; k < count; ++k) {
            if (k)
                *out += QLatin1Char(',');
            if (!pointList(out))
                return false;
        }
        *out += QLatin1Char(')');
        return true;
    }

    const QByteArray& m_b;
    qsizetype m_pos;
    bool m_little = true;
};

}  // namespace

QString geometryToText(const QByteArray& value, bool* ok)
{
    *ok = false;
    if (value.size() < 4 + 5)
        return QString();
    WkbReader reader(value, 4);  // after the SRID
    QString out;
    if (!reader.geometry(&out, true) || !reader.atEnd())
        return QString();
    *ok = true;
    return out;
}

}  // namespace ferrowane
