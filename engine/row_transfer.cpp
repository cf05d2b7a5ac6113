#include "engine/row_transfer.h"

#include "engine/access_provider.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "engine/type_map.h"
#include "engine/value_convert.h"

#include <mysql.h>

#include <vector>

namespace ferrowane {

QString operationAbortedText()
{
    return QStringLiteral("Operation aborted");
}

QString columnLossLine(const ColumnLoss& loss)
{
    return QStringLiteral("Column ") + loss.column + QStringLiteral(": ") + QString::number(loss.count)
           + (loss.count == 1 ? QStringLiteral(" value not stored as it was (first: ")
                              : QStringLiteral(" values not stored as they were (first: "))
           + loss.firstReason + QLatin1Char(')');
}

namespace {

class Aborted : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

struct ColumnPlan {
    int target = -1;      // field of the dataset, -1 when the table has no such column
    SourceKind kind = SourceKind::Other;
    int bits = 0;
    qint64 lossCount = 0;
    QString firstReason;
    QString sourceName;

    void lose(const QString& reason)
    {
        if (lossCount++ == 0)
            firstReason = reason;
    }
};

void openTarget(AccessDataset& dataset, const QString& targetTable)
{
    dataset.close();
    dataset.setCommandText(QStringLiteral("select * from [") + targetTable + QStringLiteral("] where 1=0"));
    dataset.open();
}

QString progressLine(const QString& sourceTable, qint64 rows)
{
    return QStringLiteral("Insert table ") + sourceTable + QLatin1Char(' ') + QString::number(rows)
           + QStringLiteral(" Rows ");
}

}  // namespace

void TransferRows(MySqlConnection& source, AccessConnection& connection, AccessDataset& dataset,
                  const QString& sourceTable, const QString& targetTable, bool blobtotext, ProgressLog& log,
                  bool& ok, QString& error, QList<ColumnLoss>* losses)
{
    ok = true;
    bool failed = false;
    bool transactionBegun = false;
    QString lastError;
    std::vector<ColumnPlan> plan;

    try {
        {
            MySqlResult count = source.query(countRowsStatement(sourceTable));
            qint64 total = -1;
            if (count.next())
                total = count.integer(0);
            count.close();
            log.rowTotal(sourceTable, total);
        }
        qint64 counter = 1;
        MySqlResult rows = source.query(selectAllStatement(sourceTable));

        openTarget(dataset, targetTable);
        connection.beginTransaction();
        transactionBegun = true;

        // Each source column goes to the column the create step made from it.
        const QList<SourceColumn>& columns = rows.columns();
        QStringList names;
        for (const SourceColumn& c : columns)
            names.append(c.name);
        const QStringList targetNames = targetColumnNames(names);
        plan.resize(size_t(columns.size()));
        for (int i = 0; i < columns.size(); ++i) {
            ColumnPlan& p = plan[size_t(i)];
            p.sourceName = columns.at(i).name;
            p.target = dataset.fieldIndex(targetNames.at(i));
            p.kind = sourceKindOf(columns.at(i));
            if (columns.at(i).mysqlType == MYSQL_TYPE_BIT)
                p.bits = int(columns.at(i).length);
        }

        while (rows.next()) {
            dataset.append();
            for (int i = 0; i < int(plan.size()); ++i) {
                ColumnPlan& p = plan[size_t(i)];
                QVariant value = rows.value(i);
                if (p.target < 0) {
                    if (!value.isNull())
                        p.lose(QStringLiteral("the table %1 has no column for it").arg(targetTable));
                    continue;
                }
                const TargetColumn& column = dataset.fields().at(p.target).column;
                if (blobtotext && p.kind == SourceKind::Blob && value.isNull()
                    && (column.kind == TargetKind::Memo || column.kind == TargetKind::Text))
                    value = QVariant(QByteArray(""));
                const Converted c = convertValue(p.kind, value, column, p.bits);
                try {
                    const QString changed = dataset.setField(p.target, c.value);
                    if (!c.loss.isEmpty())
                        p.lose(c.loss);
                    else if (!changed.isEmpty())
                        p.lose(changed);
                } catch (const AccessError& e) {
                    // The field stays unset; the row is still written.
                    p.lose(e.message());
                }
            }
            dataset.post();

            if (counter % 100 == 0) {
                if (counter % 5000 == 100) {
                    connection.commitTransaction();
                    connection.beginTransaction();
                    openTarget(dataset, targetTable);
                }
                log.replaceLastLine(progressLine(sourceTable, counter));
                if (log.progressPoint(counter))
                    throw Aborted();
            }
            ++counter;
        }
        connection.commitTransaction();
        transactionBegun = false;
        log.replaceLastLine(progressLine(sourceTable, counter - 1));
        dataset.close();
    } catch (const std::exception& e) {
        const QString message = dynamic_cast<const AccessError*>(&e)
                                    ? static_cast<const AccessError&>(e).message()
                                : dynamic_cast<const MySqlError*>(&e) ? static_cast<const MySqlError&>(e).message()
                                                                      : QString::fromUtf8(e.what());
        error = message;
        ok = false;
        log.appendLine(message);
        if (transactionBegun) {
            // What was posted before the failure stays in the table.
            try {
                connection.commitTransaction();
            } catch (const std::exception&) {
            }
        }
        dataset.close();
        failed = true;
        lastError = message;
    }
    if (failed)
        log.appendLine(lastError);

    if (losses) {
        for (const ColumnPlan& p : plan)
            if (p.lossCount > 0)
                losses->append(ColumnLoss{p.sourceName, p.lossCount, p.firstReason});
    }
}

}  // namespace ferrowane
