#include "engine/column_plan.h"

#include "engine/access_provider.h"
#include "engine/mysql_source.h"
#include "engine/type_map.h"

#include "jet/format.h"

#include <QSet>

#include <mysql.h>

namespace ferrowane {

// ------------------------------------------------------------ the type text

int ParseTypeSize(const QString& type)
{
    const QString t = type.trimmed();
    const qsizetype open = t.indexOf(QLatin1Char('('));
    if (open <= 0)
        return 0;
    qint64 value = 0;
    qsizetype i = open + 1;
    bool any = false;
    while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128) {
        any = true;
        if (value < 1000000000)
            value = value * 10 + (t.at(i).unicode() - '0');
        ++i;
    }
    return any ? int(qMin<qint64>(value, 1000000000)) : 0;
}

QString SizedTextType(const QString& type, const QString& prefix, const QString& literal)
{
    const QString rest = type.mid(prefix.size());
    // Well-formed "digits)": taken as it stands; anything else by its number.
    qsizetype digits = 0;
    while (digits < rest.size() && rest.at(digits).isDigit())
        ++digits;
    if (digits > 0 && rest.size() == digits + 1 && rest.endsWith(QLatin1Char(')')))
        return literal + rest;
    return literal + QString::number(ParseTypeSize(type)) + QLatin1Char(')');
}

namespace {

// The scale of decimal(p,s): the number after the comma.
int parseScale(const QString& type)
{
    const qsizetype comma = type.indexOf(QLatin1Char(','));
    const qsizetype close = type.indexOf(QLatin1Char(')'));
    if (comma < 0 || close < comma)
        return 0;
    bool ok = false;
    const int s = type.mid(comma + 1, close - comma - 1).trimmed().toInt(&ok);
    return ok ? s : 0;
}

bool isSpatial(const QString& type)
{
    static const QSet<QString> names = {
        QStringLiteral("geometry"),        QStringLiteral("point"),
        QStringLiteral("linestring"),      QStringLiteral("polygon"),
        QStringLiteral("multipoint"),      QStringLiteral("multilinestring"),
        QStringLiteral("multipolygon"),    QStringLiteral("geometrycollection"),
    };
    return names.contains(type);
}

ColumnType make(QString decl, TargetKind target, SourceKind source, int size = 0)
{
    ColumnType c;
    c.declaration = std::move(decl);
    c.target = target;
    c.source = source;
    c.size = size;
    return c;
}

constexpr int kMaxTextSize = 255;

ColumnType text(int n, SourceKind source)
{
    n = qBound(1, n, kMaxTextSize);
    return make(QStringLiteral(" text(") + QString::number(n) + QLatin1Char(')'), TargetKind::Text, source, n);
}

// A text column for values of up to n characters, Memo beyond 255. Access
// text columns hold 1 to 255 characters, so char(0) gets one. A Jet 4 size
// counts UTF-16 units, two for a character beyond U+FFFF: such columns get
// twice the room, up to 255, so that varchar(255) stays an indexable text.
// A Jet 3 file holds code page 1252, one byte a character.
ColumnType textOrMemo(int n, SourceKind source, AccessFormat format, bool fourByteCharacters)
{
    if (n > kMaxTextSize)
        return make(QStringLiteral(" Memo"), TargetKind::Memo, source);
    if (format == AccessFormat::Jet4 && fourByteCharacters)
        return text(qMin(2 * n, kMaxTextSize), source);
    return text(n, source);
}

}  // namespace

bool collationHasFourByteCharacters(const QString& collation)
{
    const QString c = collation.toLower();
    for (const char* set : {"utf8mb4_", "utf16_", "utf16le_", "utf32_", "gb18030_"})
        if (c.startsWith(QLatin1String(set)))
            return true;
    return false;
}

ColumnType mapColumnType(const QString& type, bool blobtotext, AccessFormat format, bool fourByteCharacters,
                         bool timeAsText)
{
    const bool jet4 = format == AccessFormat::Jet4;
    const bool isUnsigned = type.contains(QLatin1String(" unsigned"));
    auto number = [&](QString decl, TargetKind target) {
        ColumnType c = make(std::move(decl), target, SourceKind::Number);
        c.isUnsigned = isUnsigned;
        return c;
    };
    auto starts = [&](const char* prefix) { return type.startsWith(QLatin1String(prefix)); };
    auto isOneOf = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (type == QLatin1String(n))
                return true;
        return false;
    };

    // Whole numbers that a 32-bit Long holds.
    if (starts("tinyint") || starts("smallint") || starts("mediumint") || starts("year"))
        return number(QStringLiteral(" int"), TargetKind::Long);
    if (starts("int")) {
        if (isUnsigned)
            return number(QStringLiteral(" double"), TargetKind::Double);
        return number(QStringLiteral(" int"), TargetKind::Long);
    }
    if (starts("bigint")) {
        ColumnType c = jet4 ? number(QStringLiteral(" decimal(20,0)"), TargetKind::Decimal)
                            : number(QStringLiteral(" double"), TargetKind::Double);
        c.precision = 20;
        return c;
    }
    if (starts("float"))
        return number(QStringLiteral(" single"), TargetKind::Single);
    if (starts("double") || starts("real"))
        return number(QStringLiteral(" double"), TargetKind::Double);
    if (starts("decimal") || starts("numeric")) {
        const int p = ParseTypeSize(type) > 0 ? ParseTypeSize(type) : 10;
        const int s = parseScale(type);
        ColumnType c;
        if (jet4 && p <= 28)
            c = number(QStringLiteral(" decimal(%1,%2)").arg(p).arg(s), TargetKind::Decimal);
        else if (!jet4 && s <= 4 && p - s <= 14)
            c = number(QStringLiteral(" currency"), TargetKind::Currency);
        else
            c = number(QStringLiteral(" double"), TargetKind::Double);
        c.precision = p;
        c.scale = s;
        return c;
    }
    if (starts("varchar(") || starts("char("))
        return textOrMemo(ParseTypeSize(type), SourceKind::Text, format, fourByteCharacters);
    if (isOneOf({"blob", "tinyblob", "mediumblob", "longblob"})) {
        if (blobtotext)
            return make(QStringLiteral(" Memo"), TargetKind::Memo, SourceKind::Blob);
        return make(QStringLiteral(" OleObject"), TargetKind::OleObject, SourceKind::Blob);
    }
    if (isOneOf({"datetime", "date", "timestamp"}) || starts("datetime(") || starts("timestamp("))
        return make(QStringLiteral(" Date"), TargetKind::Date, SourceKind::Date);
    if (type == QLatin1String("time") || starts("time(")) {
        // "-838:59:59" and the fraction digits after a point.
        if (timeAsText) {
            const int digits = qBound(0, ParseTypeSize(type), 6);
            return text(10 + (digits > 0 ? digits + 1 : 0), SourceKind::Time);
        }
        return make(QStringLiteral(" Date"), TargetKind::Date, SourceKind::Time);
    }
    if (type == QLatin1String("tinytext"))
        return make(QStringLiteral(" text(255)"), TargetKind::Text, SourceKind::Text, 255);
    // The declared length is the length of the value list, quotes and commas included.
    // (The value list is counted in UTF-16 units already.)
    if (starts("enum("))
        return textOrMemo(int(type.size()) - 6, SourceKind::Text, format, false);
    if (starts("set("))
        return textOrMemo(int(type.size()) - 5, SourceKind::Text, format, false);
    if (isSpatial(type))
        return make(QStringLiteral(" Memo"), TargetKind::Memo, SourceKind::Spatial);
    if (starts("binary(") || starts("varbinary(")) {
        const int n = ParseTypeSize(type);
        if (n > 255)
            return make(QStringLiteral(" OleObject"), TargetKind::OleObject, SourceKind::Bytes);
        const int size = qMax(n, 1);
        return make(QStringLiteral(" binary(") + QString::number(size) + QLatin1Char(')'),
                    TargetKind::Binary, SourceKind::Bytes, size);
    }
    if (starts("bit(")) {
        const int n = qMax(ParseTypeSize(type), 1);
        return make(SizedTextType(QStringLiteral("bit(%1)").arg(n), QStringLiteral("bit("),
                                  QStringLiteral(" text(")),
                    TargetKind::Text, SourceKind::Bits, n);
    }
    if (isOneOf({"text", "mediumtext", "longtext"}))
        return make(QStringLiteral(" Memo"), TargetKind::Memo, SourceKind::Text);
    return make(QStringLiteral(" Memo"), TargetKind::Memo, SourceKind::Other);
}

// ------------------------------------------------------ the result columns

bool isIntegerType(int type)
{
    switch (type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
        return true;
    default:
        return false;
    }
}

bool isFloatingType(int type)
{
    return type == MYSQL_TYPE_FLOAT || type == MYSQL_TYPE_DOUBLE;
}

bool isDecimalType(int type)
{
    return type == MYSQL_TYPE_NEWDECIMAL || type == MYSQL_TYPE_DECIMAL;
}

bool isBlobType(int type)
{
    return type == MYSQL_TYPE_TINY_BLOB || type == MYSQL_TYPE_MEDIUM_BLOB || type == MYSQL_TYPE_LONG_BLOB
           || type == MYSQL_TYPE_BLOB;
}

bool isStringType(int type)
{
    return isBlobType(type) || type == MYSQL_TYPE_STRING || type == MYSQL_TYPE_VAR_STRING
           || type == MYSQL_TYPE_VARCHAR;
}

SourceKind sourceKindOf(const SourceColumn& column)
{
    if (column.isBlob)
        return SourceKind::Blob;
    switch (column.mysqlType) {
    case MYSQL_TYPE_GEOMETRY:
        return SourceKind::Spatial;
    case MYSQL_TYPE_BIT:
        return SourceKind::Bits;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
        return SourceKind::Date;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
        return SourceKind::Time;
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        return SourceKind::Number;
    default:
        break;
    }
    return column.isBinary ? SourceKind::Bytes : SourceKind::Text;
}

FastRead fastReadOf(const RawSource& source, int jetType, AccessFormat format)
{
    const bool number = source.kind == SourceKind::Number;
    const bool integer = number && isIntegerType(source.mysqlType);
    const bool floating = number && isFloatingType(source.mysqlType);
    switch (jet::ColumnType(jetType)) {
    case jet::ColumnType::Boolean:
        return integer ? FastRead::WholeAsBoolean : FastRead::None;
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long:
        return integer ? FastRead::Whole : FastRead::None;
    case jet::ColumnType::Double:
        return integer ? FastRead::WholeAsDouble : floating ? FastRead::Floating : FastRead::None;
    case jet::ColumnType::Single:
        return floating ? FastRead::FloatingAsSingle : FastRead::None;
    case jet::ColumnType::Currency:
    case jet::ColumnType::Numeric:
        return integer || (number && isDecimalType(source.mysqlType)) ? FastRead::DecimalDigits : FastRead::None;
    case jet::ColumnType::DateTime:
        return source.kind == SourceKind::Date ? FastRead::Date : FastRead::None;
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo:
        if (source.kind != SourceKind::Text || !(source.utf8Text || source.asciiText))
            return FastRead::None;
        // Jet 3 keeps code page 1252: only ASCII goes across as it is.
        return source.utf8Text && format == AccessFormat::Jet4 ? FastRead::Utf8Text : FastRead::AsciiText;
    default:
        return FastRead::None;
    }
}

// ---------------------------------------------------------------- the plans

QList<ColumnPlan> planTable(const QList<SourceField>& fields, bool blobtotext, AccessFormat format,
                            bool timeAsText)
{
    QStringList names;
    for (const SourceField& f : fields)
        names.append(f.field);
    const QStringList targets = targetColumnNames(names, format);
    QList<ColumnPlan> plan;
    plan.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i) {
        ColumnPlan p;
        p.sourceName = fields.at(i).field;
        p.targetName = targets.at(i);
        p.declared = mapColumnType(fields.at(i).type, blobtotext, format,
                                   collationHasFourByteCharacters(fields.at(i).collation), timeAsText);
        p.source = p.declared.source;
        if (p.source == SourceKind::Bits)
            p.bits = p.declared.size;
        plan.append(p);
    }
    return plan;
}

std::vector<ColumnPlan> planTransfer(const QList<SourceColumn>& columns, const QString& characterSet,
                                     const AccessDataset& dataset, AccessFormat format)
{
    const QString charset = characterSet.toLower();
    const bool utf8 = charset == QLatin1String("utf8mb4") || charset == QLatin1String("utf8mb3")
                      || charset == QLatin1String("utf8");
    const bool ascii = utf8 || charset == QLatin1String("latin1");

    // Each source column goes to the column the create step made from it.
    QStringList names;
    for (const SourceColumn& c : columns)
        names.append(c.name);
    const QStringList targets = targetColumnNames(names, format);

    std::vector<ColumnPlan> plan(size_t(columns.size()));
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const SourceColumn& c = columns.at(i);
        ColumnPlan& p = plan[size_t(i)];
        p.sourceName = c.name;
        p.targetName = targets.at(i);
        p.source = sourceKindOf(c);
        if (c.mysqlType == MYSQL_TYPE_BIT)
            p.bits = int(c.length);
        p.field = dataset.fieldIndex(p.targetName);
        if (p.field < 0)
            continue;
        const AccessField& f = dataset.fields().at(p.field);
        p.column = f.column;
        p.fast = fastReadOf(RawSource{p.source, c.mysqlType, utf8, ascii}, f.jetType, format);
    }
    return plan;
}

}  // namespace ferrowane
