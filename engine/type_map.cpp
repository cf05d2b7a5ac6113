#include "engine/type_map.h"

#include <QSet>

namespace ferrowane {

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

// A text column of n characters, or Memo beyond the limit given. Access text
// columns hold 1 to 255 characters, so char(0) gets one.
ColumnType textOrMemo(int n, int limit, SourceKind source)
{
    if (n > limit)
        return make(QStringLiteral(" Memo"), TargetKind::Memo, source);
    n = qMax(n, 1);
    return make(QStringLiteral(" text(") + QString::number(n) + QLatin1Char(')'), TargetKind::Text,
                source, n);
}

}  // namespace

ColumnType mapColumnType(const QString& type, bool blobtotext, AccessFormat format)
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
    if (starts("varchar("))
        return textOrMemo(ParseTypeSize(type), 120, SourceKind::Text);
    if (starts("char("))
        return textOrMemo(ParseTypeSize(type), 120, SourceKind::Text);
    if (isOneOf({"blob", "tinyblob", "mediumblob", "longblob"})) {
        if (blobtotext)
            return make(QStringLiteral(" Memo"), TargetKind::Memo, SourceKind::Blob);
        return make(QStringLiteral(" OleObject"), TargetKind::OleObject, SourceKind::Blob);
    }
    if (isOneOf({"datetime", "date", "timestamp"}) || starts("datetime(") || starts("timestamp("))
        return make(QStringLiteral(" Date"), TargetKind::Date, SourceKind::Date);
    if (type == QLatin1String("time") || starts("time("))
        return make(QStringLiteral(" Date"), TargetKind::Date, SourceKind::Time);
    if (type == QLatin1String("tinytext"))
        return make(QStringLiteral(" text(255)"), TargetKind::Text, SourceKind::Text, 255);
    // The declared length is the length of the value list, quotes and commas included.
    if (starts("enum("))
        return textOrMemo(int(type.size()) - 6, 255, SourceKind::Text);
    if (starts("set("))
        return textOrMemo(int(type.size()) - 5, 255, SourceKind::Text);
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

QString asciiUpper(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(char16_t(c.unicode() - 32));
    return out;
}

QStringList targetColumnNames(const QStringList& sourceNames)
{
    QStringList out;
    QSet<QString> taken;  // upper-cased: Access names ignore letter case
    out.reserve(sourceNames.size());
    for (const QString& name : sourceNames) {
        QString candidate = name.left(kMaxAccessNameLength);
        if (taken.contains(candidate.toUpper())) {
            const QString stem = name.left(kMaxAccessNameLength - 4);
            for (int n = 0; n <= 9999; ++n) {
                candidate = stem + QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
                if (!taken.contains(candidate.toUpper()))
                    break;
            }
        }
        taken.insert(candidate.toUpper());
        out.append(candidate);
    }
    return out;
}

QString bracketed(const QString& name)
{
    return QLatin1Char('[') + name + QLatin1Char(']');
}

QString createTableStatement(const QString& targetTable, const QList<SourceField>& fields,
                             bool blobtotext, AccessFormat format)
{
    QStringList names;
    for (const SourceField& f : fields)
        names.append(f.field);
    const QStringList targets = targetColumnNames(names);

    QStringList lines;
    lines.append(QStringLiteral("Create table [") + targetTable + QStringLiteral("] ("));
    for (qsizetype i = 0; i < fields.size(); ++i) {
        QString line = bracketed(targets.at(i)) + mapColumnType(fields.at(i).type, blobtotext, format).declaration;
        if (i + 1 < fields.size())
            line += QStringLiteral(" , ");
        lines.append(line);
    }
    lines.append(QStringLiteral(" ) "));
    return lines.join(QStringLiteral("\r\n"));
}

QStringList indexStatements(const QList<IndexRow>& rows, const QString& sourceTable,
                            const QString& targetTable, const QStringList& fieldNames)
{
    QStringList statements;
    if (rows.isEmpty() || rows.first().seqInIndex.toUpper() == QLatin1String("TRUE"))
        return statements;

    const QStringList targets = targetColumnNames(fieldNames);
    auto column = [&](const QString& source) {
        const qsizetype at = fieldNames.indexOf(source);
        return bracketed(at >= 0 ? targets.at(at) : source.left(kMaxAccessNameLength));
    };

    QString pending;
    int rowNumber = 1;
    for (const IndexRow& row : rows) {
        const bool first = row.seqInIndex.trimmed() == QLatin1String("1");
        if (rowNumber > 1 && first) {
            statements.append(pending + QLatin1Char(')'));
            pending.clear();
        }
        if (first && row.keyName == QLatin1String("PRIMARY")) {
            const QString name = (QStringLiteral("PRIMARY") + targetTable + QString::number(rowNumber))
                                     .left(kMaxIndexNameLength);
            pending = QStringLiteral("alter table ") + bracketed(targetTable)
                      + QStringLiteral("  add constraint ") + bracketed(name)
                      + QStringLiteral(" primary key (") + column(row.columnName);
        } else if (first) {
            const QString name = (QStringLiteral("idx_") + row.keyName + sourceTable).left(kMaxIndexNameLength);
            pending = QStringLiteral("create index ") + bracketed(name) + QStringLiteral(" on ")
                      + bracketed(targetTable) + QStringLiteral(" (") + column(row.columnName);
        } else {
            pending += QLatin1Char(',') + column(row.columnName);
        }
        ++rowNumber;
    }
    if (!pending.isEmpty())
        statements.append(pending + QLatin1Char(')'));
    return statements;
}

}  // namespace ferrowane
