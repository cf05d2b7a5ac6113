#include "engine/conversion_job.h"

#include "engine/access_provider.h"

#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>

namespace ferrowane {

namespace {

// The lines of the job in memory (they become the log file), each also handed
// to the front end's log when there is one.
class RecordingLog : public ProgressLog {
public:
    explicit RecordingLog(ProgressLog* frontEnd) : m_frontEnd(frontEnd) {}

    void appendLine(const QString& line) override
    {
        m_lines.append(line);
        if (m_frontEnd)
            m_frontEnd->appendLine(line);
    }
    void replaceLastLine(const QString& line) override
    {
        if (m_lines.isEmpty())
            m_lines.append(line);
        else
            m_lines.last() = line;
        if (m_frontEnd)
            m_frontEnd->replaceLastLine(line);
    }
    QString lastLine() const override { return m_lines.isEmpty() ? QString() : m_lines.last(); }
    bool progressPoint(qint64 rowsWritten) override { return m_frontEnd && m_frontEnd->progressPoint(rowsWritten); }
    bool stopRequested() const override { return m_frontEnd && m_frontEnd->stopRequested(); }
    void clearStopRequest() override
    {
        if (m_frontEnd)
            m_frontEnd->clearStopRequest();
    }
    void rowTotal(const QString& table, qint64 total) override
    {
        if (m_frontEnd)
            m_frontEnd->rowTotal(table, total);
    }
    void transferEnded(const QString& table, qint64 rows, qint64 lost) override
    {
        if (m_frontEnd)
            m_frontEnd->transferEnded(table, rows, lost);
    }

    const QStringList& lines() const { return m_lines; }

private:
    ProgressLog* m_frontEnd;
    QStringList m_lines;
};

}  // namespace

struct ConversionJob::State {
    explicit State(ProgressLog* frontEnd) : log(frontEnd) {}

    RecordingLog log;
    MySqlConnection source;
    AccessConnection target;
    AccessDataset dataset{target};
};

QString replaceExtension(const QString& path, const QString& extension)
{
    const qsizetype separator = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    const qsizetype dot = path.lastIndexOf(u'.');
    return (dot > separator ? path.left(dot) : path) + extension;
}

ConversionJob::ConversionJob(ProgressLog* frontEnd) : d(std::make_unique<State>(frontEnd)) {}

ConversionJob::~ConversionJob() = default;

QString ConversionJob::dataFolder()
{
#ifdef _WIN32
    // The roaming application-data folder (CSIDL_APPDATA), as the shell names it.
    QString base = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("Orvanel/");
}

QString ConversionJob::dateTimeText(const QDateTime& when)
{
    const QLocale locale = QLocale::system();
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() != QTime(0, 0))
        text += u' ' + locale.toString(when.time(), QLocale::LongFormat);
    return text;
}

QString ConversionJob::logPath(const QString& jobPath)
{
    return replaceExtension(jobPath, QStringLiteral(".log"));
}

QString ConversionJob::saveLines(const QString& path, const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString());
    return QString();
}

DatabaseList ConversionJob::logIn(const ConversionSettings& settings, const QString& typedDatabase)
{
    m_outcome = JobOutcome::NotStarted;
    m_failure.clear();
    return listDatabases(d->source, settings, typedDatabase);
}

QStringList ConversionJob::openDatabase(const ConversionSettings& settings, const QString& database,
                                        int charsetPosition)
{
    m_outcome = JobOutcome::NotStarted;
    m_failure.clear();
    ferrowane::openDatabase(d->source, settings, database, charsetPosition);
    return listTables(d->source);
}

void ConversionJob::adoptSource(MySqlConnection& connected)
{
    m_outcome = JobOutcome::NotStarted;
    m_failure.clear();
    d->source.takeOver(connected);
}

QStringList ConversionJob::jobTables(bool allTables, const QStringList& named, const QStringList& listed,
                                     const QString& database)
{
    if (allTables)
        return listed;
    QStringList chosen;
    for (const QString& name : named) {
        if (!listed.contains(name)) {
            d->log.appendLine(QStringLiteral("Table %1 is not in database %2 (names must match in letter case): "
                                             "not converted")
                                  .arg(name, database));
            m_tableMissing = true;
        } else if (!chosen.contains(name)) {
            chosen.append(name);
        }
    }
    return chosen;
}

QString ConversionJob::noTableLine(const QString& database)
{
    return QStringLiteral("No table to convert: the job selects no table of database %1").arg(database);
}

RunResult ConversionJob::run(const ConversionSettings& settings, const QStringList& tables, const RunTexts& texts)
{
    m_failure.clear();
    ConversionRun run(d->source, d->target, d->dataset, d->log);
    run.beforeFinishLine = beforeFinishLine;
    // A run that ends before its first line never touched a table: the
    // target file could not be made or opened.
    const qsizetype linesBefore = d->log.lines().size();
    try {
        const RunResult result = run.run(settings, tables, texts);
        if (result.stopped || result.stopRequested || d->log.stopRequested())
            m_outcome = JobOutcome::Stopped;
        else if (result.failedTables > 0 || result.keysNotCreated > 0)
            m_outcome = JobOutcome::TableFailed;
        else
            m_outcome = result.valuesChanged > 0 ? JobOutcome::Changed : JobOutcome::Converted;
        return result;
    } catch (const std::exception& e) {
        m_outcome = d->log.lines().size() > linesBefore ? JobOutcome::Ended : JobOutcome::TargetFailed;
        m_failure = messageOf(e);
        throw;
    }
}

void ConversionJob::closeTarget()
{
    try {
        d->dataset.close();
        d->target.close();
    } catch (const std::exception& e) {
        m_outcome = JobOutcome::Ended;
        m_failure = messageOf(e);
        throw;
    }
}

void ConversionJob::writeStartLine()
{
    d->log.appendLine(QStringLiteral("Start time:") + dateTimeText());
}

void ConversionJob::writeEndLine()
{
    d->log.appendLine(QStringLiteral("The end time:") + dateTimeText());
}

QString ConversionJob::saveLog(const QString& jobPath) const
{
    return saveLines(logPath(jobPath), d->log.lines());
}

ProgressLog& ConversionJob::log()
{
    return d->log;
}

const QStringList& ConversionJob::lines() const
{
    return d->log.lines();
}

QString exitStatusHelp()
{
    return QStringLiteral(
        "Exit status: 0 every table, key and value converted; 1 a table failed, a key could not be made, or the "
        "run was stopped or ended by an error; 2 the conversion could not start; 3 every table and key made, "
        "but values were not stored as they were (the \"Column\" lines of the log).");
}

int ConversionJob::exitStatus() const
{
    switch (m_outcome) {
    case JobOutcome::Converted:
        return m_tableMissing ? ExitFailed : ExitConverted;
    case JobOutcome::Changed:
        return m_tableMissing ? ExitFailed : ExitValuesChanged;
    case JobOutcome::Ended:
    case JobOutcome::Stopped:
    case JobOutcome::TableFailed:
        return ExitFailed;
    case JobOutcome::NotStarted:
    case JobOutcome::TargetFailed:
        break;
    }
    return ExitNotStarted;
}

MySqlConnection& ConversionJob::source()
{
    return d->source;
}

AccessConnection& ConversionJob::target()
{
    return d->target;
}

AccessDataset& ConversionJob::dataset()
{
    return d->dataset;
}

}  // namespace ferrowane
