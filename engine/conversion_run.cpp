#include "engine/conversion_run.h"

#include "engine/access_provider.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "engine/schema_extras.h"
#include "engine/type_map.h"

namespace ferrowane {

namespace {

// Errors of the client library itself (2000-2999: the connection was lost or
// could not be made) rather than the server's answer about one table.
bool isClientError(const MySqlError& e)
{
    return e.code() >= 2000 && e.code() < 3000;
}

} // namespace

ConversionRun::ConversionRun(MySqlConnection& source, AccessConnection& connection, AccessDataset& dataset,
                             ProgressLog& log)
    : m_source(source), m_connection(connection), m_dataset(dataset), m_log(log)
{
}

QString ConversionRun::targetTableName(const QString& sourceTable)
{
    QString target = sourceTable;
    if (sourceTable.size() > kMaxAccessNameLength || m_givenNames.contains(sourceTable.toCaseFolded())) {
        // Access names ignore letter case: a name given earlier in this run
        // is as taken as a table in the file, and is never dropped.
        const QString stem = sourceTable.left(kMaxAccessNameLength - 4);
        target.clear();
        for (int n = 0; n <= 9999; ++n) {
            const QString candidate = stem + QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
            if (m_givenNames.contains(candidate.toCaseFolded()))
                continue;
            if (!m_target.TargetTableExists(m_dataset, candidate)) {
                target = candidate;
                break;
            }
        }
        if (target.isEmpty())
            return target;
    }
    m_givenNames.insert(target.toCaseFolded());
    return target;
}

RunResult ConversionRun::run(const ConversionSettings& settings, const QStringList& tables, const RunTexts& texts)
{
    RunResult result;
    const bool overwrite = settings.processtable == int(ProcessTable::Overwrite);
    const bool skip = settings.processtable == int(ProcessTable::Skip);
    const bool convertIndexes = !settings.skipindex;
    m_log.clearStopRequest();
    m_givenNames.clear();

    m_target.PrepareTargetFile(settings.accessfilename, settings.accessformat);
    m_dataset.close();
    m_connection.close();
    m_connection.setConnectionString(AccessConnection::connectionStringFor(settings.accessfilename));
    m_connection.open();

    QList<RunTable> created;  // for the schema step at the end
    for (const QString& item : tables) {
        if (m_log.stopRequested()) {
            m_log.clearStopRequest();
            result.stopped = true;
            return result;
        }
        const QString sourceTable = settings.nameuppercase ? asciiUpper(item) : item;
        const QString target = targetTableName(sourceTable);
        if (target.isEmpty()) {
            m_log.appendLine(QStringLiteral("No free Access table name for %1").arg(sourceTable));
            m_log.appendLine(QString());
            ++result.failedTables;
            continue;
        }
        bool failed = false;
        const bool exists = m_target.TargetTableExists(m_dataset, target);
        m_dataset.close();
        bool createFailed = false;
        bool ok = true;
        QString error;

        if (exists && overwrite) {
            m_log.appendLine(QStringLiteral("Drop table ") + target + QStringLiteral("... "));
            m_target.DropTargetTable(m_connection, target, ok, error);
            if (ok)
                m_log.replaceLastLine(QStringLiteral("Drop table ") + target + QStringLiteral("...Done"));
            else {
                m_log.appendLine(error);
                failed = true;
            }
            m_log.appendLine(QString());
        }
        if (exists && skip) {
            m_log.appendLine(QStringLiteral("Skip table ") + target + QStringLiteral("... "));
            m_log.appendLine(QString());
        }
        if (!exists || overwrite) {
            m_log.appendLine(QStringLiteral("Create table ") + target + QStringLiteral("... "));
            ok = true;
            try {
                m_target.CreateTargetTable(m_source, m_connection, sourceTable, target, settings.blobtotext, ok,
                                       error);
            } catch (const MySqlError& e) {
                // The server refused to list this table (no such name, a name it
                // cannot hold): the table fails, the run goes on. A lost
                // connection ends the run.
                if (isClientError(e))
                    throw;
                ok = false;
                error = e.message();
            }
            if (ok)
                m_log.replaceLastLine(QStringLiteral("Create table ") + target + QStringLiteral("...Done"));
            else
                m_log.appendLine(error);
            createFailed = !ok;
            if (ok)
                created.append(RunTable{sourceTable, target});
            if (convertIndexes && ok) {
                bool keysOk = true;
                QString keyError;
                QStringList keyFailures;
                try {
                    m_target.ConvertIndexes(m_source, m_connection, sourceTable, target, keysOk, keyError,
                                        &keyFailures);
                } catch (const MySqlError& e) {
                    if (isClientError(e))
                        throw;
                    keysOk = false;
                    keyFailures.append(e.message());
                }
                for (const QString& message : keyFailures)
                    m_log.appendLine(message);
                failed = failed || !keysOk;
            }
            m_log.appendLine(QString());
            failed = failed || createFailed;
        }
        if (!settings.tabledefonly) {
            if ((skip && exists) || createFailed) {
                m_log.appendLine(QStringLiteral("Skip table ") + target);
                m_log.appendLine(QString());
            } else {
                m_log.appendLine(QStringLiteral("Insert table ") + target + QStringLiteral("... "));
                ok = true;
                QList<ColumnLoss> losses;
                TransferRows(m_source, m_connection, m_dataset, sourceTable, target, settings.blobtotext, m_log, ok, error,
                             &losses);
                if (ok)
                    m_log.replaceLastLine(m_log.lastLine() + QStringLiteral("...Done"));
                else {
                    m_log.appendLine(error);
                    failed = true;
                }
                for (const ColumnLoss& loss : losses)
                    m_log.appendLine(columnLossLine(loss));
                m_log.appendLine(QString());
            }
        }
        if (failed)
            ++result.failedTables;
        else
            ++result.convertedTables;
    }

    // After every table's rows and keys: the relationships need both sides.
    bool schemaLogged = false;
    try {
        const SchemaExtrasResult extras = applySchemaExtras(m_source, m_connection, m_log, settings, created);
        result.schemaFailures = extras.failures;
        schemaLogged = extras.logged;
    } catch (const MySqlError& e) {
        if (isClientError(e))
            throw;
        m_log.appendLine(e.message());
        ++result.schemaFailures;
        schemaLogged = true;
    }
    if (schemaLogged)
        m_log.appendLine(QString());

    m_log.appendLine(texts.completed);
    m_log.appendLine(texts.migrated);
    if (beforeFinishLine)
        beforeFinishLine();
    m_log.appendLine(texts.finish);
    return result;
}

}  // namespace ferrowane
