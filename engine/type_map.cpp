#include "engine/type_map.h"

#include "jet/text_codec.h"

#include <QSet>

namespace ferrowane {

QString asciiUpper(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(char16_t(c.unicode() - 32));
    return out;
}

QString accessLegalName(const QString& name, AccessFormat format)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size();) {
        const qsizetype width = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const QString character = name.mid(i, width);
        const char16_t c = name.at(i).unicode();
        bool refused = c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']';
        if (!refused && format == AccessFormat::Jet3 && c >= 0x80)
            refused = !jet::utf8ToCp1252(character.toStdString()).has_value();
        out += refused ? QStringLiteral("_") : character;
        i += width;
    }
    qsizetype blanks = 0;
    while (blanks < out.size() && out.at(blanks) == QLatin1Char(' '))
        ++blanks;
    out.remove(0, blanks);
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QStringList distinctNames(const QStringList& names, int maxLength, bool numberLong)
{
    QStringList out;
    QSet<QString> taken;  // case-folded: Access names ignore letter case
    QList<qsizetype> numbered;
    for (const QString& name : names) {
        const QString plain = name.left(maxLength);
        if ((numberLong && name.size() > maxLength) || taken.contains(plain.toCaseFolded())) {
            numbered.append(out.size());
            out.append(QString());
            continue;
        }
        taken.insert(plain.toCaseFolded());
        out.append(plain);
    }
    for (qsizetype at : numbered) {
        const QString stem = names.at(at).left(maxLength - 4);
        for (int n = 0; n <= 9999; ++n) {
            const QString candidate = stem + QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
            if (!taken.contains(candidate.toCaseFolded())) {
                taken.insert(candidate.toCaseFolded());
                out[at] = candidate;
                break;
            }
        }
    }
    return out;
}

QStringList targetColumnNames(const QStringList& sourceNames, AccessFormat format)
{
    QStringList legal;
    legal.reserve(sourceNames.size());
    for (const QString& name : sourceNames)
        legal.append(accessLegalName(name, format));
    return distinctNames(legal, kMaxAccessNameLength, false);
}

QString bracketed(const QString& name)
{
    return QLatin1Char('[') + name + QLatin1Char(']');
}

QString createTableStatement(const QString& targetTable, const QList<SourceField>& fields,
                             bool blobtotext, AccessFormat format, bool timeAsText)
{
    const QList<ColumnPlan> plan = planTable(fields, blobtotext, format, timeAsText);
    QStringList lines;
    lines.append(QStringLiteral("Create table [") + targetTable + QStringLiteral("] ("));
    for (qsizetype i = 0; i < plan.size(); ++i) {
        QString line = bracketed(plan.at(i).targetName) + plan.at(i).declared.declaration;
        if (i + 1 < plan.size())
            line += QStringLiteral(" , ");
        lines.append(line);
    }
    lines.append(QStringLiteral(" ) "));
    return lines.join(QStringLiteral("\r\n"));
}

QList<KeyStatement> indexStatements(const QList<IndexRow>& rows, const QString& sourceTable,
                                    const QString& targetTable, const QStringList& fieldNames,
                                    AccessFormat format)
{
    if (rows.isEmpty() || rows.first().seqInIndex.toUpper() == QLatin1String("TRUE"))
        return {};

    const QStringList targets = targetColumnNames(fieldNames, format);
    auto column = [&](const QString& source) {
        const qsizetype at = fieldNames.indexOf(source);
        return bracketed(at >= 0 ? targets.at(at) : accessLegalName(source, format).left(kMaxAccessNameLength));
    };

    // One key per run of rows that starts at "Seq_in_index" 1.
    struct Key {
        bool primary = false;
        bool unique = false;
        QString name;
        QStringList columns;
    };
    QList<Key> keys;
    int rowNumber = 1;
    for (const IndexRow& row : rows) {
        if (row.seqInIndex.trimmed() == QLatin1String("1") || keys.isEmpty()) {
            Key key;
            key.primary = row.keyName == QLatin1String("PRIMARY");
            key.unique = key.primary || row.nonUnique.trimmed() == QLatin1String("0");
            key.name = key.primary ? QStringLiteral("PRIMARY") + row.table + QString::number(rowNumber)
                                   : QStringLiteral("idx_") + row.keyName + sourceTable;
            keys.append(key);
        }
        keys.last().columns.append(column(row.columnName));
        ++rowNumber;
    }

    QStringList names;
    for (const Key& key : keys)
        names.append(accessLegalName(key.name, format));
    names = distinctNames(names, kMaxIndexNameLength, false);

    QList<KeyStatement> statements;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const Key& key = keys.at(i);
        const QString name = bracketed(names.at(i));
        const QString table = bracketed(targetTable);
        const QString columns = QLatin1Char('(') + key.columns.join(QLatin1Char(',')) + QLatin1Char(')');
        KeyStatement s;
        s.name = names.at(i);
        const QString plain = QStringLiteral("create index ") + name + QStringLiteral(" on ") + table
                              + QLatin1Char(' ') + columns;
        if (key.primary)
            s.statement = QStringLiteral("alter table ") + table + QStringLiteral("  add constraint ") + name
                          + QStringLiteral(" primary key ") + columns;
        else if (key.unique)
            s.statement = QStringLiteral("create unique index ") + name + QStringLiteral(" on ") + table
                          + QLatin1Char(' ') + columns;
        else
            s.statement = plain;
        if (key.unique)
            s.plainStatement = plain;
        statements.append(s);
    }
    return statements;
}

}  // namespace ferrowane
