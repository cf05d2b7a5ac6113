#include "engine/conversion_run.h"

#include "engine/access_provider.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "engine/row_transfer.h"
#include "engine/schema_extras.h"
#include "engine/type_map.h"

#include "jet/database.h"

namespace ferrowane {

namespace {

// Errors of the client library itself (2000-2999: the connection was lost or
// could not be made) rather than the server's answer about one table.
bool isClientError(const MySqlError& e)
{
    return e.code() >= 2000 && e.code() < 3000;
}

} // namespace

QString endCaption(const RunResult& result, const RunTexts& texts)
{
    if (result.allWentThrough())
        return texts.migrated;
    QStringList counts;
    auto count = [&](qint64 n, const QString& one, const QString& many) {
        if (n > 0)
            counts.append(n == 1 ? one : QString(many).replace(QLatin1String("%1"), QString::number(n)));
    };
    count(result.failedTables, texts.failedTable, texts.failedTables);
    count(result.keysNotCreated, texts.keyNotCreated, texts.keysNotCreated);
    count(result.valuesChanged, texts.valueChanged, texts.valuesChanged);
    count(result.schemaFailures, texts.schemaDetailNotMade, texts.schemaDetailsNotMade);
    const QString joined = counts.join(texts.countSeparator);
    if (result.stopRequested)
        return counts.isEmpty() ? texts.stopped : QString(texts.stoppedWith).replace(QLatin1String("%1"), joined);
    return QString(texts.finishedWith).replace(QLatin1String("%1"), joined);
}

ConversionRun::ConversionRun(MySqlConnection& source, AccessConnection& connection, AccessDataset& dataset,
                             ProgressLog& log)
    : m_source(source), m_connection(connection), m_dataset(dataset), m_log(log)
{
}

QStringList ConversionRun::targetTableNames(const QStringList& sourceTables, AccessFormat format)
{
    QStringList legal;
    legal.reserve(sourceTables.size());
    for (const QString& name : sourceTables)
        legal.append(accessLegalName(name, format));
    return distinctNames(legal, kMaxAccessNameLength, true);
}

namespace {

QString keyLine(const QString& target, const QStringList& made)
{
    return QStringLiteral("Create keys of table ") + target
           + (made.isEmpty() ? QString() : QStringLiteral(": ") + made.join(QStringLiteral(", ")));
}

}  // namespace

bool ConversionRun::convertKeys(const QString& sourceTable, const QString& target, RunResult& result)
{
    QList<KeyStatement> keys;
    try {
        keys = m_target.ReadKeys(m_source, sourceTable, target, m_connection.format());
    } catch (const MySqlError& e) {
        if (isClientError(e))
            throw;
        m_log.appendLine(e.message());
        m_log.appendLine(QString());
        return false;
    }
    if (keys.isEmpty())
        return true;

    qint64 rows = 0;
    try {
        rows = m_connection.database().table(target.toStdString()).rowCount();
    } catch (const std::exception&) {
    }
    bool allMade = true;
    QStringList made;
    QStringList problems;
    m_log.appendLine(keyLine(target, made) + QStringLiteral("... "));
    for (qsizetype i = 0; i < keys.size(); ++i) {
        // Each key takes a while on a large table: a Stop is seen between them,
        // and the keys made so far stay (each was committed by itself).
        if (i > 0 && m_log.progressPoint(rows)) {
            problems.append(operationAbortedText());
            result.keysNotCreated += int(keys.size() - i);
            allMade = false;
            break;
        }
        const KeyStatement& key = keys.at(i);
        const TargetOperations::KeyOutcome outcome = m_target.MakeKey(m_connection, key);
        if (outcome.result != TargetOperations::KeyOutcome::NotMade)
            made.append(key.name);
        if (outcome.result == TargetOperations::KeyOutcome::MadePlain) {
            problems.append(QStringLiteral("Key %1 of table %2 made as a plain index: %3")
                                .arg(key.name, target, outcome.message));
            ++result.keysMadePlain;
        } else if (outcome.result == TargetOperations::KeyOutcome::NotMade) {
            problems.append(QStringLiteral("Key %1 of table %2 not made: %3").arg(key.name, target, outcome.message));
        }
        if (outcome.result != TargetOperations::KeyOutcome::Made) {
            ++result.keysNotCreated;
            allMade = false;
        }
        m_log.replaceLastLine(keyLine(target, made) + QStringLiteral("... "));
    }
    if (allMade)
        m_log.replaceLastLine(keyLine(target, made) + QStringLiteral("...Done"));
    for (const QString& line : problems)
        m_log.appendLine(line);
    m_log.appendLine(QString());
    return true;
}

RunResult ConversionRun::run(const ConversionSettings& settings, const QStringList& tables, const RunTexts& texts)
{
    RunResult result;
    const bool overwrite = settings.processtable == int(ProcessTable::Overwrite);
    const bool skip = settings.processtable == int(ProcessTable::Skip);
    const bool convertIndexes = !settings.skipindex;
    m_log.clearStopRequest();
    m_target.setTimeAsText(settings.timetotext);

    m_target.PrepareTargetFile(settings.accessfilename, settings.accessformat);
    m_dataset.close();
    m_connection.close();
    m_connection.setConnectionString(AccessConnection::connectionStringFor(settings.accessfilename));
    m_connection.open();
    const AccessFormat format = m_connection.format();

    QStringList sourceTables;
    for (const QString& item : tables)
        sourceTables.append(settings.nameuppercase ? asciiUpper(item) : item);
    const QStringList targets = targetTableNames(sourceTables, format);

    QList<RunTable> createdTables;  // for the schema step at the end
    for (qsizetype index = 0; index < sourceTables.size(); ++index) {
        if (m_log.stopRequested()) {
            m_log.clearStopRequest();
            result.stopped = true;
            result.stopRequested = true;
            m_log.appendLine(endCaption(result, texts));
            return result;
        }
        const QString& sourceTable = sourceTables.at(index);
        const QString& target = targets.at(index);
        if (target.isEmpty()) {
            m_log.appendLine(QStringLiteral("No free Access table name for %1").arg(sourceTable));
            m_log.appendLine(QString());
            ++result.failedTables;
            continue;
        }
        if (accessLegalName(sourceTable, format) != sourceTable) {
            m_log.appendLine(QStringLiteral("Table %1 is named %2 in the Access file").arg(sourceTable, target));
            ++result.renamedNames;
        }
        bool failed = false;
        const bool exists = m_target.TargetTableExists(m_dataset, target);
        m_dataset.close();
        bool created = false;
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
            if (ok) {
                m_log.replaceLastLine(QStringLiteral("Create table ") + target + QStringLiteral("...Done"));
                for (const auto& [from, to] : m_target.lastRenamedColumns()) {
                    m_log.appendLine(QStringLiteral("Column %1 of table %2 is named %3 in the Access file")
                                         .arg(from, target, to));
                    ++result.renamedNames;
                }
            } else {
                m_log.appendLine(error);
            }
            m_log.appendLine(QString());
            createFailed = !ok;
            created = ok;
            if (ok)
                createdTables.append(RunTable{sourceTable, target});
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
                for (const ColumnLoss& loss : losses) {
                    m_log.appendLine(columnLossLine(loss));
                    result.valuesChanged += loss.count;
                }
                m_log.appendLine(QString());
            }
        }
        // Keys after the rows, on the tables this run made: each is built once
        // from the stored rows, and one that Access cannot make costs no row.
        // A Stop during the rows leaves the table as it is.
        // A key not made is counted apart (keysNotCreated): the table's rows are all there.
        if (created && convertIndexes && !m_log.stopRequested()) {
            if (!convertKeys(sourceTable, target, result))
                failed = true;
        }
        if (failed)
            ++result.failedTables;
        else
            ++result.convertedTables;
    }

    // After every table's rows and keys: the relationships need both sides.
    bool schemaLogged = false;
    try {
        const SchemaExtrasResult extras = applySchemaExtras(m_source, m_connection, m_log, settings, createdTables);
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

    // A Stop in the last table's rows leaves the flag set for the front end.
    result.stopRequested = m_log.stopRequested();
    if (result.allWentThrough())
        m_log.appendLine(texts.completed);
    m_log.appendLine(endCaption(result, texts));
    if (beforeFinishLine)
        beforeFinishLine();
    // After a Stop the wizard offers Close, not Finish.
    if (!result.stopRequested)
        m_log.appendLine(texts.finish);
    return result;
}

}  // namespace ferrowane
