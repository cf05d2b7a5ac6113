#include "engine/type_map.h"

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
