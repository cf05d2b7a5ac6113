// ferrowane-convert: the conversion without a window. Logs in the way the
// wizard does, converts the chosen tables into an Access file and prints the
// same progress log; a progress bar goes to standard error on a terminal.
// Exit status: see exitStatusHelp() (0 all went across, 1 a failure or a
// Stop, 2 could not start, 3 values changed).
#include "engine/access_provider.h"
#include "engine/conversion_job.h"
#include "engine/conversion_settings.h"
#include "engine/progress_log.h"
#include "ferrowane_version.h"
#include "settings/unattended_run.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace ferrowane;

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

void onInterrupt(int)
{
    // The first Ctrl-C asks for a Stop at the next progress point; the second ends the program.
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 2) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

// Prints each log line to standard output once it is final (the run replaces
// the last line while it works on it), and draws a progress bar on standard
// error when that is a terminal.
class ConsoleLog : public ProgressLog {
public:
    explicit ConsoleLog(bool bar, bool everyLine = false) : m_bar(bar), m_everyLine(everyLine), m_out(stdout) {}
    ~ConsoleLog() override { finish(); }

    void appendLine(const QString& line) override
    {
        flushPending();
        m_pending = line;
        m_hasPending = true;
        if (m_everyLine)
            flushPending();
    }
    void replaceLastLine(const QString& line) override
    {
        m_pending = line;
        m_hasPending = true;
        if (m_everyLine)
            flushPending();
    }
    QString lastLine() const override { return m_hasPending ? m_pending : m_lastWritten; }

    bool progressPoint(qint64 rowsWritten) override
    {
        // A few redraws a second are enough for the eye.
        if (m_bar && (!m_lastDraw.isValid() || m_lastDraw.elapsed() >= 100)) {
            drawBar(rowsWritten);
            m_lastDraw.start();
        }
        if (g_interrupts > 0)
            m_stop = true;
        return m_stop;
    }
    bool stopRequested() const override { return m_stop || g_interrupts > 0; }
    void clearStopRequest() override
    {
        m_stop = false;
        g_interrupts = 0;
    }
    void rowTotal(const QString& table, qint64 total) override
    {
        m_table = table;
        m_total = total;
        m_timer.start();
    }

    void finish()
    {
        flushPending();
        clearBar();
    }
    int linesWritten() const { return m_written + (m_hasPending ? 1 : 0); }

private:
    void flushPending()
    {
        if (!m_hasPending)
            return;
        clearBar();
        m_out << m_pending << '\n';
        m_out.flush();
        m_lastWritten = m_pending;
        m_hasPending = false;
        ++m_written;
    }
    void drawBar(qint64 rows)
    {
        const double seconds = m_timer.isValid() ? m_timer.elapsed() / 1000.0 : 0;
        const qint64 rate = seconds > 0 ? qint64(rows / seconds) : 0;
        QString text;
        if (m_total > 0) {
            const int width = 30;
            const int filled = int(qMin<qint64>(width, rows * width / m_total));
            text = QStringLiteral("%1 [%2%3] %4/%5 rows, %6 rows/s")
                       .arg(m_table.left(30))
                       .arg(QString(filled, QLatin1Char('#')))
                       .arg(QString(width - filled, QLatin1Char('.')))
                       .arg(rows)
                       .arg(m_total)
                       .arg(rate);
        } else {
            text = QStringLiteral("%1 %2 rows, %3 rows/s").arg(m_table.left(30)).arg(rows).arg(rate);
        }
        const QByteArray bytes = "\r" + text.toLocal8Bit() + "\x1b[K";
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
        m_barShown = true;
    }
    void clearBar()
    {
        if (!m_barShown)
            return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        m_barShown = false;
    }

    bool m_bar;
    bool m_everyLine;  // each state of the last line, so that a watcher sees every commit
    QTextStream m_out;
    QString m_pending;
    QString m_lastWritten;
    bool m_hasPending = false;
    int m_written = 0;
    bool m_stop = false;
    bool m_barShown = false;
    QString m_table;
    qint64 m_total = -1;
    QElapsedTimer m_timer;
    QElapsedTimer m_lastDraw;
};

int fail(const QString& message, int code)
{
    QTextStream(stderr) << "ferrowane-convert: " << message << "\n";
    return code;
}

// The first line of a file or of standard input ("-"), without its line end.
// Returns nothing and sets *error when it cannot be read.
std::optional<QString> readPasswordLine(const QString& path, QString* error)
{
    const bool standardInput = path == QLatin1String("-");
    QFile file(standardInput ? QString() : path);
    const bool opened = standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened) {
        *error = QStringLiteral("cannot read the password from %1: %2")
                     .arg(standardInput ? QStringLiteral("standard input") : path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine();
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// The command line's options, registered with the parser they are made for.
struct Options {
    explicit Options(QCommandLineParser& parser);

    const QCommandLineOption host{"host", "Server host name or address (remote mode); without it, local mode.", "name"};
    const QCommandLineOption socket{"socket", "Unix socket of a local server.", "path"};
    const QCommandLineOption port{"port", "TCP port of the server (default 3306).", "number", "3306"};
    const QCommandLineOption user{"user", "MySQL user name.", "name"};
    const QCommandLineOption password{
        "password", "MySQL password; \"-\" reads its first line from standard input. Other users can see a "
                    "password given here in the process list: prefer $MYSQL_PWD (the default) or --password-file.",
        "text|-"};
    const QCommandLineOption passwordFile{"password-file", "Read the MySQL password from the first line of FILE.",
                                          "FILE"};
    const QCommandLineOption charset{"charset", "Character set to ask the server for (default: none).", "name"};
    const QCommandLineOption database{"database", "The database to convert.", "name"};
    const QCommandLineOption table{"table", "A table to convert; repeat for more, in order (default: every table).",
                                   "name"};
    const QCommandLineOption output{"output", "The Access file to create or fill.", "FILE.mdb"};
    const QCommandLineOption format{"format", "Format of a new file: 97 (Access 95/97, the default) or 2000.",
                                    "97|2000", "97"};
    const QCommandLineOption existing{"existing", "What to do with a table the file has: overwrite (default), "
                                                  "merge or skip.",
                                      "overwrite|merge|skip", "overwrite"};
    const QCommandLineOption definitionsOnly{"definitions-only", "Create the tables (and keys) without rows."};
    const QCommandLineOption skipIndexes{"skip-indexes", "Create no primary keys and indexes."};
    const QCommandLineOption blobToText{"blob-to-text", "Make BLOB columns Memo columns holding their text."};
    const QCommandLineOption uppercase{"uppercase", "Upper-case table names, for the server and the file."};
    const QCommandLineOption timeToText{"time-to-text", "Make TIME columns text as the server writes them "
                                                        "([-]h:mm:ss[.ffffff]), so that durations stay as they are."};
    const QCommandLineOption noAutonumber{"no-autonumber",
                                          "Keep AUTO_INCREMENT columns plain numbers, not AutoNumbers."};
    const QCommandLineOption noRequired{"no-required", "Make no field required for NOT NULL."};
    const QCommandLineOption noDefaults{"no-defaults", "Carry over no column defaults."};
    const QCommandLineOption noDescriptions{"no-descriptions", "Carry over no table and column comments."};
    const QCommandLineOption noRelationships{"no-relationships", "Make no relationships from foreign keys."};
    const QCommandLineOption listTables{"list-tables", "Only print the database's tables, one per line."};
    const QCommandLineOption job{"job", "Run a job file (.frwjob) as an unattended run; the log goes beside it.",
                                 "FILE"};
    const QCommandLineOption progressLines{
        "progress-lines", "Print the last log line each time it changes (a progress line every 100 rows), "
                          "not only its final state."};
    QCommandLineOption maxFileSize{"max-file-size", "Refuse to let the Access file grow beyond this many bytes.",
                                   "bytes"};
};

Options::Options(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Copies a MySQL database into an Access file (.mdb).\n")
                                     + exitStatusHelp());
    parser.addHelpOption();
    parser.addVersionOption();
    maxFileSize.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({host, socket, port, user, password, passwordFile, charset, database, table, output, format,
                       existing, definitionsOnly, skipIndexes, blobToText, uppercase, timeToText, noAutonumber,
                       noRequired, noDefaults, noDescriptions, noRelationships, listTables, job, progressLines,
                       maxFileSize});
}

// The server's side of the settings: login, password, character set.
// Returns what is wrong with them, or nothing.
QString readServerSettings(const QCommandLineParser& parser, const Options& o, ConversionSettings& settings,
                           int& charsetPosition)
{
    settings.accessmode = parser.isSet(o.host) ? 1 : 0;
    settings.host = parser.value(o.host);
    settings.port = parser.value(o.port);
    settings.mysqlu = parser.value(o.user);
    if (parser.isSet(o.password) && parser.isSet(o.passwordFile))
        return QStringLiteral("give the password once: --password or --password-file");
    if (parser.isSet(o.passwordFile) || (parser.isSet(o.password) && parser.value(o.password) == QLatin1String("-"))) {
        QString error;
        const std::optional<QString> read =
            readPasswordLine(parser.isSet(o.passwordFile) ? parser.value(o.passwordFile) : QStringLiteral("-"), &error);
        if (!read)
            return error;
        settings.mysqlp = *read;
    } else {
        settings.mysqlp = parser.isSet(o.password) ? parser.value(o.password) : qEnvironmentVariable("MYSQL_PWD");
    }
    if (parser.isSet(o.socket))
        qputenv("MYSQL_UNIX_PORT", parser.value(o.socket).toLocal8Bit());
    charsetPosition = 0;
    if (parser.isSet(o.charset)) {
        settings.character_set = parser.value(o.charset);
        charsetPosition = characterSetPosition(settings.character_set);
        if (charsetPosition < 0)
            return "unknown character set " + settings.character_set + "; one of: " + characterSetNames().join(", ");
    }
    if (!parser.isSet(o.database))
        return QStringLiteral("give the database to convert with --database");
    return QString();
}

// The Access side of the settings: the file, its format and the options.
QString readTargetSettings(const QCommandLineParser& parser, const Options& o, ConversionSettings& settings)
{
    if (!parser.isSet(o.output) || parser.value(o.output).isEmpty())
        return QStringLiteral("give the Access file with --output FILE.mdb");
    settings.accessfilename = QFileInfo(parser.value(o.output)).absoluteFilePath();
    const QString f = parser.value(o.format);
    if (f == "97")
        settings.accessformat = 0;
    else if (f == "2000")
        settings.accessformat = 1;
    else
        return "--format takes 97 or 2000, not " + f;
    const QString e = parser.value(o.existing).toLower();
    if (e == "overwrite")
        settings.processtable = int(ProcessTable::Overwrite);
    else if (e == "merge")
        settings.processtable = int(ProcessTable::Merge);
    else if (e == "skip")
        settings.processtable = int(ProcessTable::Skip);
    else
        return "--existing takes overwrite, merge or skip, not " + parser.value(o.existing);
    settings.tabledefonly = parser.isSet(o.definitionsOnly);
    settings.skipindex = parser.isSet(o.skipIndexes);
    settings.blobtotext = parser.isSet(o.blobToText);
    settings.nameuppercase = parser.isSet(o.uppercase);
    settings.timetotext = parser.isSet(o.timeToText);
    settings.autonumber = !parser.isSet(o.noAutonumber);
    settings.required = !parser.isSet(o.noRequired);
    settings.defaults = !parser.isSet(o.noDefaults);
    settings.descriptions = !parser.isSet(o.noDescriptions);
    settings.relationships = !parser.isSet(o.noRelationships);
    return QString();
}

// The tables named on the command line, each checked against the server's
// list, or every table. Returns what is wrong, or nothing.
QString chooseTables(const QCommandLineParser& parser, const Options& o, const ConversionSettings& settings,
                     const QStringList& available, QStringList& tables)
{
    if (!parser.isSet(o.table)) {
        tables = available;
        return QString();
    }
    for (const QString& t : parser.values(o.table)) {
        if (!available.contains(t))
            return "the database " + settings.mysqldatabase + " has no table named " + t;
        tables.append(t);
    }
    return QString();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("ferrowane-convert");
    QCoreApplication::setApplicationVersion(FERROWANE_VERSION);

    QCommandLineParser parser;
    const Options o(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), 2);
    if (parser.isSet("help"))
        parser.showHelp(0);
    if (parser.isSet("version"))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail("unexpected argument " + parser.positionalArguments().first(), 2);

    quint64 sizeLimit = 0;
    if (parser.isSet(o.maxFileSize)) {
        bool ok = false;
        sizeLimit = parser.value(o.maxFileSize).toULongLong(&ok);
        if (!ok || sizeLimit == 0)
            return fail("--max-file-size takes a number of bytes, not " + parser.value(o.maxFileSize), 2);
    }
    const bool everyLine = parser.isSet(o.progressLines);

    if (parser.isSet(o.job)) {
        // The job holds every option; the run's lines are echoed here as well.
        // The window's stored options (its password among them) are not ours to change.
        ConsoleLog log(isatty(STDERR_FILENO) == 1, everyLine);
        std::signal(SIGINT, onInterrupt);
        const int status = runJobHeadless(parser.value(o.job), &log, StoredOptions::Leave);
        log.finish();
        return status;
    }

    ConversionSettings settings;
    int charsetPosition = 0;
    QString error = readServerSettings(parser, o, settings, charsetPosition);
    const bool listOnly = parser.isSet(o.listTables);
    if (error.isEmpty() && !listOnly)
        error = readTargetSettings(parser, o, settings);
    if (!error.isEmpty())
        return fail(error, 2);

    ConsoleLog log(isatty(STDERR_FILENO) == 1, everyLine);
    ConversionJob conversion(&log);
    QStringList tables;
    try {
        const DatabaseList databases = conversion.logIn(settings, parser.value(o.database));
        if (databases.selectedIndex < 0)
            return fail("the server lists no database named " + parser.value(o.database), 2);
        settings.mysqldatabase = databases.names[databases.selectedIndex];
        const QStringList available = conversion.openDatabase(settings, settings.mysqldatabase, charsetPosition);
        if (listOnly) {
            QTextStream out(stdout);
            for (const QString& t : available)
                out << t << "\n";
            return 0;
        }
        error = chooseTables(parser, o, settings, available, tables);
        if (!error.isEmpty())
            return fail(error, 2);
    } catch (const std::exception& e) {
        return fail(messageOf(e), 2);
    }
    settings.tables = tables;

    std::signal(SIGINT, onInterrupt);
    conversion.target().setMaxFileSize(sizeLimit);
    try {
        conversion.run(settings, tables);
        log.finish();
        conversion.closeTarget();
    } catch (const std::exception&) {
        log.finish();
        return fail(conversion.failure(), conversion.exitStatus());
    }
    if (conversion.outcome() == JobOutcome::Stopped)
        return fail("stopped", conversion.exitStatus());
    return conversion.exitStatus();
}
