// Job files, the shortcut-file window, launchers and unattended runs.
//
// MySQL cases run against the server named by FERROWANE_MYSQL_*; without it
// they are skipped (failed when FERROWANE_REQUIRE_MYSQL=1). Started with a
// single ".frwjob" argument this program runs that job without a window, as
// the program does when there is no display, so that a launcher it writes can
// be run as a real process.
#include "settings/job_file.h"
#include "settings/launcher.h"
#include "settings/settings_store.h"
#include "settings/unattended_run.h"
#include "wizard/shortcut_window.h"
#include "wizard/unattended_steps.h"
#include "wizard/message_box.h"
#include "wizard/wizard_window.h"
#include "wizard_test_support.h"

#include <QApplication>
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ferrowane;
using wiztest::MessageBoxes;

namespace {

QString env(const char* name) { return qEnvironmentVariable(name); }

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QStringList logLinesOf(const QString& path)
{
    const QByteArray bytes = readAll(path);
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Runs SQL through the root client of the test server.
bool rootSql(const QByteArray& sql)
{
    QStringList args = QProcess::splitCommand(env("FERROWANE_MYSQL_CLIENT"));
    if (args.isEmpty())
        return false;
    const QString program = args.takeFirst();
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted())
        return false;
    p.write(sql);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool haveServer()
{
    return !env("FERROWANE_MYSQL_HOST").isEmpty() && !env("FERROWANE_MYSQL_PORT").isEmpty()
           && !env("FERROWANE_MYSQL_USER").isEmpty() && !env("FERROWANE_MYSQL_CLIENT").isEmpty();
}

#define MYSQL_OR_SKIP()                                                                      \
    do {                                                                                     \
        if (!haveServer()) {                                                                 \
            if (env("FERROWANE_REQUIRE_MYSQL") == QLatin1String("1"))                        \
                QFAIL("FERROWANE_MYSQL_* not set");                                          \
            QSKIP("no MySQL test server (FERROWANE_MYSQL_*)");                               \
        }                                                                                    \
    } while (0)

// A job for the test server in remote mode.
QByteArray serverJob(const QString& database, const QString& target, const QByteArray& tail,
                     const QString& password = env("FERROWANE_MYSQL_PASSWORD"))
{
    QByteArray job = "accessmode=1\r\nmysqldatabase=" + database.toUtf8() + "\r\nport=" + env("FERROWANE_MYSQL_PORT").toUtf8()
                     + "\r\nmysqlu=" + env("FERROWANE_MYSQL_USER").toUtf8() + "\r\nmysqlp=" + password.toUtf8()
                     + "\r\nhost=" + env("FERROWANE_MYSQL_HOST").toUtf8() + "\r\naccessfilename=" + target.toUtf8()
                     + "\r\naccessformat=1\r\nprocesstable=0\r\n";
    return job + tail;
}

// Environment of a run without a display, with its own settings store.
QProcessEnvironment headlessEnvironment(const QString& home)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove(QStringLiteral("DISPLAY"));
    e.remove(QStringLiteral("WAYLAND_DISPLAY"));
    e.remove(QStringLiteral("QT_QPA_PLATFORM"));
    e.insert(QStringLiteral("HOME"), home);
    e.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    return e;
}

// Runs a launcher script as cron would; returns the exit status, -1 on a hang or crash.
int runLauncher(const QString& launcher, const QString& home, bool offscreen = false)
{
    QProcess p;
    QProcessEnvironment e = headlessEnvironment(home);
    if (offscreen)
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(QDir::tempPath());
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shellQuote(launcher)});
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A folder name that a careless launcher would split or expand.
const QString kAwkwardFolder = QStringLiteral("night jobs 'a' \"b\" $HOME `x`");

}  // namespace

class TestJobs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void jobLinesInOrder();
    void shortcutWindowWritesJobAndLauncher_data();
    void shortcutWindowWritesJobAndLauncher();
    void shortcutWindowFromTheWizard();
    void selectedTablesWithEmptySelection();
    void tableListShownOnlyForSelectedTables();
    void reselectTablesClosesWithMessage();
    void cancelledDialogWritesNothing();
    void unwritableJobShowsErrorNotSuccess();
    void multiLineMessagesBreakOnScreen();
    void launcherRules();
    void typedCharacterSetIsKept();

    void readerByteOrderMarksAndLineEnds();
    void readerKeysWithoutCaseAndTableNumbers();
    void applyStopsAtBadChoice();
    void applyToTheWizard();
    void launcherQuotesAnyPath();

    void unreadableJobWritesLogBeside();
    void badAccessFormatStartsNoRun();
    void badValueWithWindowEndsWithLog();

    void launcherConvertsThroughServer();
    void programRunsJobWithAndWithoutWindow_data();
    void programRunsJobWithAndWithoutWindow();
    void missingTablesAreLoggedAndFail();
    void charsetDefaultAndUnknown();
    void failingJobEndsWithoutAPerson_data();
    void failingJobEndsWithoutAPerson();
    void missingPortEndsWithMessage();
    void refusedLoginEndsWithServerMessage();

private:
    QTemporaryDir m_home;
    ShortcutInput sampleInput() const;
};

void TestJobs::initTestCase()
{
    QVERIFY(m_home.isValid());
    // Our own settings store, never the user's.
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/.config")).toUtf8());
}

ShortcutInput TestJobs::sampleInput() const
{
    ShortcutInput in;
    in.accessmode = 0;
    in.host = QStringLiteral("db.example");
    in.database = QStringLiteral("shop");
    in.port = QStringLiteral("3307");
    in.user = QStringLiteral("ann");
    in.password = QStringLiteral("p=w d");
    in.charset = QStringLiteral("utf8");
    in.accessformat = 1;
    in.accessfilename = QStringLiteral("/data/out put/shop.mdb");
    in.processtable = 2;
    in.processtableCaption = QStringLiteral("Skip");
    in.tabledefonly = true;
    in.skipindex = false;
    in.blobtotext = true;
    in.selectedTables = {QStringLiteral("orders"), QStringLiteral("Order Lines"), QStringLiteral("x=y")};
    return in;
}

void TestJobs::jobLinesInOrder()
{
    JobContent job;
    job.alltables = 0;
    job.tables = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    const QStringList lines = jobLines(job);
    QCOMPARE(lines.size(), 22);
    QCOMPARE(lines[14], QStringLiteral("tables1=a"));
    QCOMPARE(lines[17], QStringLiteral("autonumber=0"));
    QCOMPARE(lines[21], QStringLiteral("relationships=0"));
    job.alltables = 1;
    QCOMPARE(jobLines(job).size(), 19);
}

void TestJobs::shortcutWindowWritesJobAndLauncher_data()
{
    QTest::addColumn<int>("alltables");
    QTest::newRow("all tables") << 1;
    QTest::newRow("selected tables") << 0;
}

void TestJobs::shortcutWindowWritesJobAndLauncher()
{
    QFETCH(int, alltables);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(kAwkwardFolder));
    const QString folder = dir.path() + u'/' + kAwkwardFolder + u'/';

    ShortcutWindow bat;
    bat.programPath = QStringLiteral("/opt/fw/ferrowane");
    QStringList messages;
    bat.showMessageText = [&](const QString& t) { messages.append(t); };
    bat.chooseShortcutPath = [&] { return folder + QStringLiteral("nightly.sh"); };
    bat.fill(sampleInput());
    QCOMPARE(wiztest::child<QLineEdit>(bat, "edtmysqlip")->text(), QStringLiteral("localhost"));
    QCOMPARE(wiztest::child<QLineEdit>(bat, "edtoracleexits")->text(), QStringLiteral("Skip"));
    QCOMPARE(wiztest::child<QLineEdit>(bat, "edtmysqlpassword")->echoMode(), QLineEdit::Password);  // masked on screen
    wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->button(alltables)->click();
    bat.saveJobAndShortcut();

    QByteArray expected = "accessmode=0\r\nmysqldatabase=shop\r\nport=3307\r\nmysqlu=ann\r\nmysqlp=p=w d\r\n"
                          "host=db.example\r\naccessfilename=/data/out put/shop.mdb\r\naccessformat=1\r\n"
                          "processtable=2\r\ncharacter_set=utf8\r\ntabledefonly=1\r\nskipindex=0\r\n"
                          "blobtotext=1\r\n";
    if (alltables == 1)
        expected += "alltables=1\r\n";
    else
        expected += "alltables=0\r\ntables1=orders\r\ntables2=Order Lines\r\ntables3=x=y\r\n";
    expected += "autonumber=1\r\nrequired=1\r\ndefaults=1\r\ndescriptions=1\r\nrelationships=1\r\n";
    const QString jobPath = folder + QStringLiteral("nightly.frwjob");
    QCOMPARE(readAll(jobPath), expected);
    QCOMPARE(QFile::permissions(jobPath) & 0x0077, QFileDevice::Permissions());  // nobody else reads the password

    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0], QStringLiteral("Success to create \"%1nightly.sh\".\rCreate setting file \"%1nightly.frwjob\" OK.\r"
                                         "It will build a log file \"%1nightly.log\" after running with this Shortcut File.")
                              .arg(folder));
    const QString launcher = folder + QStringLiteral("nightly.sh");
    QVERIFY(QFileInfo(launcher).isExecutable());
    QCOMPARE(QString::fromUtf8(readAll(launcher)), launcherScript(bat.programPath, jobPath));
    QVERIFY(bat.result() == QDialog::Accepted);

    // Written again: replaced, still owner-only.
    bat.saveJobAndShortcut();
    QCOMPARE(readAll(jobPath), expected);
    QCOMPARE(QFile::permissions(jobPath) & 0x0077, QFileDevice::Permissions());
}

void TestJobs::shortcutWindowFromTheWizard()
{
    WizardWindow form;
    wiztest::control<QButtonGroup>(form, "accessmodeItems")->button(1)->click();
    wiztest::control<QLineEdit>(form, "edthost")->setText(QStringLiteral("10.0.0.9"));
    wiztest::control<QLineEdit>(form, "edtport")->setText(QStringLiteral("3310"));
    wiztest::control<QLineEdit>(form, "edtname")->setText(QStringLiteral("bob"));
    wiztest::control<QLineEdit>(form, "edtpassword")->setText(QStringLiteral("s3cret"));
    wiztest::control<QListWidget>(form, "mysqldblist")->addItems({QStringLiteral("a"), QStringLiteral("Sales")});
    wiztest::control<QListWidget>(form, "mysqldblist")->setCurrentRow(1);
    wiztest::control<QComboBox>(form, "cbcharset")->setCurrentIndex(characterSetPosition(QStringLiteral("latin1")));
    wiztest::control<QLineEdit>(form, "editaccessname")->setText(QStringLiteral("/tmp/x.mdb"));
    wiztest::control<QButtonGroup>(form, "processtableItems")->button(1)->click();
    wiztest::control<QListWidget>(form, "selecttables")->addItems({QStringLiteral("t2"), QStringLiteral("t1")});

    ShortcutWindow bat;
    bat.fill(shortcutInputFrom(form));
    QCOMPARE(wiztest::child<QLineEdit>(bat, "edtmysqlip")->text(), QStringLiteral("10.0.0.9"));
    QCOMPARE(wiztest::child<QLineEdit>(bat, "edtmysqldatabase")->text(), QStringLiteral("Sales"));
    QCOMPARE(wiztest::child<QLineEdit>(bat, "edtcharset")->text(), QStringLiteral("latin1"));
    QCOMPARE(wiztest::child<QListWidget>(bat, "mysqltableselect")->count(), 2);
    QVERIFY(!wiztest::child<QLineEdit>(bat, "edtoracleexits")->text().isEmpty());
    wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->button(0)->click();
    const QStringList lines = jobLines(bat.jobContent());
    QCOMPARE(lines.mid(0, 3), QStringList({"accessmode=1", "mysqldatabase=Sales", "port=3310"}));
    QCOMPARE(lines[5], QStringLiteral("host=10.0.0.9"));
    QCOMPARE(lines[8], QStringLiteral("processtable=1"));
    QCOMPARE(lines.mid(14, 2), QStringList({"tables1=t2", "tables2=t1"}));
    // The options page's schema check boxes (on for a new job) go into the job.
    QCOMPARE(lines.mid(16), QStringList({"autonumber=1", "required=1", "defaults=1", "descriptions=1",
                                         "relationships=1"}));

    // "Create Shortcut File" on the table page opens the window's own shortcut window, filled.
    QString shownHost;
    QTimer::singleShot(0, [&] {
        auto* opened = qobject_cast<ShortcutWindow*>(QApplication::activeModalWidget());
        QVERIFY(opened);
        shownHost = wiztest::child<QLineEdit>(*opened, "edtmysqlip")->text();
        opened->reject();
    });
    wiztest::control<QPushButton>(form, "btcreatebat")->click();
    QCOMPARE(shownHost, QStringLiteral("10.0.0.9"));
}

void TestJobs::selectedTablesWithEmptySelection()
{
    ShortcutWindow bat;
    ShortcutInput in = sampleInput();
    in.selectedTables.clear();
    bat.fill(in);
    wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->button(0)->click();
    const QStringList lines = jobLines(bat.jobContent());
    QCOMPARE(lines.size(), 19);
    QCOMPARE(lines[13], QStringLiteral("alltables=0"));
}

void TestJobs::tableListShownOnlyForSelectedTables()
{
    ShortcutWindow bat;
    QCOMPARE(wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->checkedId(), 1);
    QVERIFY(wiztest::child<QListWidget>(bat, "mysqltableselect")->isHidden());
    QVERIFY(wiztest::child<QPushButton>(bat, "bttableselect")->isHidden());
    wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->button(0)->click();
    QVERIFY(!wiztest::child<QListWidget>(bat, "mysqltableselect")->isHidden());
    QVERIFY(!wiztest::child<QPushButton>(bat, "bttableselect")->isHidden());
    // The choice survives a refill.
    bat.fill(sampleInput());
    QCOMPARE(wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->checkedId(), 0);
    QVERIFY(!wiztest::child<QListWidget>(bat, "mysqltableselect")->isHidden());
}

void TestJobs::reselectTablesClosesWithMessage()
{
    ShortcutWindow bat;
    QString shown;
    bat.showMessageText = [&](const QString& t) { shown = t; };
    bat.show();
    bat.closeToReselectTables();
    QCOMPARE(shown, QStringLiteral("This form will be closed.\rAfter you finish your choice,please click the button "
                                   "\"Create Shortcut File\" to return to this form."));
    QVERIFY(!bat.isVisible());
}

void TestJobs::cancelledDialogWritesNothing()
{
    QTemporaryDir dir;
    ShortcutWindow bat;
    bool messaged = false;
    bat.showMessageText = [&](const QString&) { messaged = true; };
    bat.chooseShortcutPath = [] { return QString(); };
    bat.fill(sampleInput());
    bat.saveJobAndShortcut();
    QVERIFY(!messaged);
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestJobs::unwritableJobShowsErrorNotSuccess()
{
    QTemporaryDir dir;
    ShortcutWindow bat;
    QStringList messages;
    bat.showMessageText = [&](const QString& t) { messages.append(t); };
    bat.chooseShortcutPath = [&] { return dir.path() + QStringLiteral("/no such folder/job.sh"); };
    bat.fill(sampleInput());
    bat.saveJobAndShortcut();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].contains(QStringLiteral("job.frwjob")));
    QVERIFY(!messages[0].startsWith(QStringLiteral("Success")));
}

void TestJobs::multiLineMessagesBreakOnScreen()
{
    // The texts keep their CR; the box on screen breaks the lines there.
    ShortcutWindow bat;
    QString onScreen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        onScreen = box->text();
        box->accept();
    });
    bat.closeToReselectTables();
    QCOMPARE(onScreen, QStringLiteral("This form will be closed.\nAfter you finish your choice,please click the button "
                                      "\"Create Shortcut File\" to return to this form."));
    QCOMPARE(screenLines(QStringLiteral("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
}

void TestJobs::launcherRules()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    // Named like its job or its log: refused, and an earlier job stays as it was.
    writeBytes(folder + QStringLiteral("nightly.frwjob"), "accessmode=0\r\n");
    for (const char* name : {"nightly.frwjob", "nightly.log"}) {
        ShortcutWindow bat;
        QStringList messages;
        bat.showMessageText = [&](const QString& t) { messages.append(t); };
        bat.chooseShortcutPath = [&] { return folder + QLatin1String(name); };
        bat.fill(sampleInput());
        bat.saveJobAndShortcut();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith(QStringLiteral("The shortcut file cannot have the name of its job file")),
                 qPrintable(messages[0]));
        QVERIFY(messages[0].contains(folder + QLatin1String(name)));
        QCOMPARE(readAll(folder + QStringLiteral("nightly.frwjob")), QByteArray("accessmode=0\r\n"));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("nightly.log")));
    }
    QVERIFY(launcherPathClash(folder + QStringLiteral("nightly.sh")).isEmpty());

    // The launcher starts the program in the program's folder, wherever it is run from.
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("bin")));
    const QString program = folder + QStringLiteral("bin/prog");
    writeBytes(program, "#!/bin/sh\npwd > \"$1.cwd\"\n");
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(writeLauncher(program, folder + QStringLiteral("j.frwjob"), folder + QStringLiteral("j.sh")).isEmpty());
    QCOMPARE(runLauncher(folder + QStringLiteral("j.sh"), m_home.path()), 0);
    QCOMPARE(readAll(folder + QStringLiteral("j.frwjob.cwd")).trimmed(), QFileInfo(program).absolutePath().toUtf8());
}

void TestJobs::typedCharacterSetIsKept()
{
    {
        WizardWindow form;
        auto* box = wiztest::control<QComboBox>(form, "cbcharset");
        QCOMPARE(box->findText(QStringLiteral("utf8mb4")), 37);
        box->setEditText(QStringLiteral("cp1252"));  // typed: no entry of the list
        QCOMPARE(form.characterSetIndex(), -1);
        QVERIFY(form.close());  // the settings are stored
    }
    WizardWindow again;
    QCOMPARE(wiztest::control<QComboBox>(again, "cbcharset")->currentText(), QStringLiteral("cp1252"));
    QCOMPARE(LoadSettings().characterSet, -1);
}

void TestJobs::readerByteOrderMarksAndLineEnds()
{
    const QString text = QStringLiteral("mysqldatabase=d\u00e9j\u00e0\r\nport=1\r\n");
    QCOMPARE(JobFile::fromBytes(text.toUtf8()).value(QStringLiteral("mysqldatabase")), QStringLiteral("d\u00e9j\u00e0"));
    QCOMPARE(JobFile::fromBytes("\xEF\xBB\xBF" + text.toUtf8()).value(QStringLiteral("mysqldatabase")),
             QStringLiteral("d\u00e9j\u00e0"));
    QByteArray le("\xFF\xFE", 2), be("\xFE\xFF", 2);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        le += char(u & 0xFF);
        le += char(u >> 8);
        be += char(u >> 8);
        be += char(u & 0xFF);
    }
    for (const QByteArray& bytes : {le, be}) {
        const JobFile job = JobFile::fromBytes(bytes);
        QCOMPARE(job.lines().size(), 2);
        QCOMPARE(job.value(QStringLiteral("mysqldatabase")), QStringLiteral("d\u00e9j\u00e0"));
        QCOMPARE(job.value(QStringLiteral("port")), QStringLiteral("1"));
    }
    // Hand-written files: bare LF, a lone CR, no final line end.
    const JobFile mixed = JobFile::fromBytes("a=1\nb=2\rc=3");
    QCOMPARE(mixed.lines(), QStringList({"a=1", "b=2", "c=3"}));
}

void TestJobs::readerKeysWithoutCaseAndTableNumbers()
{
    const JobFile job = JobFile::fromBytes("MySqlDatabase=Shop\r\nmysqldatabase=second\r\nHOST=h=x\r\n"
                                           "tables0=zero\r\nTables1=one\r\ntables2=\r\ntables9=too far\r\n");
    QCOMPARE(job.value(QStringLiteral("mysqldatabase")), QStringLiteral("Shop"));  // the first line wins
    QCOMPARE(job.value(QStringLiteral("host")), QStringLiteral("h=x"));           // split at the first "="
    QCOMPARE(job.value(QStringLiteral("port")), QString());
    // Numbered from 0 or 1; numbers from the line count (7) on are not read.
    QCOMPARE(job.tableEntries(), QStringList({"zero", "one"}));
    QVERIFY(!job.allTables());
    QVERIFY(JobFile::fromBytes("alltables=1\r\n").allTables());
    QVERIFY(!JobFile::fromBytes("alltables= 1\r\n").allTables());
}

void TestJobs::applyStopsAtBadChoice()
{
    ConversionSettings s;
    s.port = QStringLiteral("3306");
    SettingsRecordSink sink(s);
    const QString bad = ApplyJobSettings(
        JobFile::fromBytes("accessmode=1\r\nmysqldatabase=db\r\nhost=h\r\naccessformat=x2\r\naccessfilename=/f.mdb\r\n"
                           "processtable=1\r\ntabledefonly=1\r\n"),
        sink);
    // The message names the value, its key and what the key takes.
    QCOMPARE(bad, QStringLiteral("'x2' is not a valid integer value for \"accessformat\" in the job file: "
                                 "use 0 (MS Access 95/97) or 1 (MS Access 2000)."));
    QCOMPARE(s.accessmode, 1);
    QCOMPARE(s.mysqldatabase, QStringLiteral("db"));
    QCOMPARE(s.port, QString());  // applied: a job has no port default
    QCOMPARE(s.accessfilename, QString());  // after the bad key: not applied
    QVERIFY(!s.tabledefonly);

    ConversionSettings t;
    SettingsRecordSink all(t);
    QCOMPARE(ApplyJobSettings(JobFile::fromBytes("accessmode=0\r\naccessformat=1\r\nprocesstable=2\r\n"
                                                 "character_set=utf8\r\nnameuppercase=1\r\nskipindex=true\r\n"
                                                 "oracleu=scott\r\n"),
                              all),
             QString());
    QCOMPARE(t.processtable, 2);
    QCOMPARE(t.character_set, QStringLiteral("utf8"));
    QVERIFY(t.nameuppercase);
    QVERIFY(!t.skipindex);
    QCOMPARE(all.oracleu, QStringLiteral("scott"));
    // A job saved before the schema options has none of them; one with their keys has what they say.
    QVERIFY(!t.autonumber && !t.required && !t.defaults && !t.descriptions && !t.relationships);
    ConversionSettings v;
    SettingsRecordSink schema(v);
    QCOMPARE(ApplyJobSettings(JobFile::fromBytes("accessmode=0\r\naccessformat=0\r\nprocesstable=0\r\n"
                                                 "autonumber=1\r\nrequired=0\r\ndefaults=1\r\nrelationships=1\r\n"),
                              schema),
             QString());
    QVERIFY(v.autonumber && !v.required && v.defaults && !v.descriptions && v.relationships);

    ConversionSettings u;
    SettingsRecordSink missing(u);
    QCOMPARE(ApplyJobSettings(JobFile::fromBytes("mysqldatabase=db\r\n"), missing),
             QStringLiteral("'' is not a valid integer value for \"accessmode\" in the job file: "
                            "use 0 (Local) or 1 (Remote)."));
    QCOMPARE(u.mysqldatabase, QString());  // stopped at the first key
}

void TestJobs::applyToTheWizard()
{
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/w.frwjob");
    writeBytes(jobPath, "accessmode=1\r\nmysqldatabase=Sales\r\nmysqlu=bob\r\nmysqlp=pw\r\nhost=srv\r\n"
                        "accessformat=1\r\naccessfilename=/tmp/w.mdb\r\ncharacter_set=nonsense\r\n"
                        "processtable=7\r\ntabledefonly=1\r\nnameuppercase=1\r\n");
    WizardWindow form({jobPath});
    const JobStart start = startJob(form);
    QCOMPARE(int(start.outcome), int(JobStart::Armed));
    QCOMPARE(form.jobValue(QStringLiteral("MYSQLU")), QStringLiteral("bob"));
    QCOMPARE(wiztest::control<QButtonGroup>(form, "accessmodeItems")->checkedId(), 1);
    QCOMPARE(wiztest::control<QLineEdit>(form, "edtdatabase")->text(), QStringLiteral("Sales"));
    QCOMPARE(wiztest::control<QLineEdit>(form, "edtport")->text(), QString());  // no port line: empty, not the store's 3306
    QCOMPARE(wiztest::control<QLineEdit>(form, "edthost")->text(), QStringLiteral("srv"));
    QCOMPARE(wiztest::control<QComboBox>(form, "cbaccessformat")->currentIndex(), 1);
    QCOMPARE(wiztest::control<QLineEdit>(form, "editaccessname")->text(), QStringLiteral("/tmp/w.mdb"));
    QCOMPARE(wiztest::control<QComboBox>(form, "cbcharset")->currentText(), QStringLiteral("nonsense"));
    QCOMPARE(form.characterSetIndex(), -1);  // asks for no character set
    QCOMPARE(wiztest::control<QButtonGroup>(form, "processtableItems")->checkedId(), -1);  // out of range: none, which merges
    QVERIFY(wiztest::control<QCheckBox>(form, "chktabledefi")->isChecked());
    QVERIFY(wiztest::control<QCheckBox>(form, "chkuppercase")->isChecked());

    writeBytes(jobPath, "accessmode=0\r\ncharacter_set=utf8\r\naccessformat=0\r\nprocesstable=0\r\n");
    const JobStart second = startJob(form);
    QCOMPARE(int(second.outcome), int(JobStart::Armed));
    QCOMPARE(wiztest::control<QComboBox>(form, "cbcharset")->currentIndex(), 36);
    QVERIFY(!wiztest::control<QCheckBox>(form, "chkuppercase")->isChecked());  // no line: clear, whatever was set before

    wiztest::control<QLineEdit>(form, "edtdatabase")->setText(QStringLiteral("kept"));
    writeBytes(jobPath, "accessmode=zero\r\nmysqldatabase=other\r\n");
    const JobStart bad = startJob(form);
    QCOMPARE(int(bad.outcome), int(JobStart::BadValue));
    QVERIFY(bad.message.contains(QStringLiteral("'zero'")));
    QCOMPARE(wiztest::control<QLineEdit>(form, "edtdatabase")->text(), QStringLiteral("kept"));  // nothing past the bad key
}

void TestJobs::launcherQuotesAnyPath()
{
    QCOMPARE(shellQuote(QStringLiteral("a b")), QStringLiteral("'a b'"));
    QCOMPARE(shellQuote(QStringLiteral("it's")), QStringLiteral("'it'\\''s'"));
    // The shell hands the path over unchanged, as one argument.
    QTemporaryDir dir;
    const QString weird = dir.path() + u'/' + kAwkwardFolder + QStringLiteral("/j'o\"b $1.frwjob");
    const QString script = dir.path() + QStringLiteral("/l.sh");
    QVERIFY(writeLauncher(QStringLiteral("/usr/bin/printf"), weird, script).isEmpty());
    // printf prints its format: here the job path itself.
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {script});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), weird);
}

void TestJobs::unreadableJobWritesLogBeside()
{
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/missing job.frwjob");
    QCOMPARE(runJobHeadless(jobPath), int(JobNotStarted));
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/missing job.log"));
    QCOMPARE(log.size(), 2);
    QVERIFY(log[0].startsWith(QStringLiteral("Start time:")));
    QVERIFY(log[1].contains(jobPath));

    // A path with no extension gets ".log" added.
    const QString bare = dir.path() + QStringLiteral("/bare");
    QCOMPARE(runJobHeadless(bare), int(JobNotStarted));
    QVERIFY(QFileInfo::exists(bare + QStringLiteral(".log")));

    // With a window: the log is written and the window told to end the program.
    const QString other = dir.path() + QStringLiteral("/gone.frwjob");
    WizardWindow form({other});  // its start writes the "Start time:" line
    const JobStart start = startJob(form);
    QCOMPARE(int(start.outcome), int(JobStart::EndProgram));
    const QStringList formLog = logLinesOf(dir.path() + QStringLiteral("/gone.log"));
    QVERIFY(formLog.first().startsWith(QStringLiteral("Start time:")));
    QVERIFY(formLog.last().contains(other));
    QCOMPARE(form.exitStatus(), int(JobNotStarted));  // the status of a run without a window
}

void TestJobs::badAccessFormatStartsNoRun()
{
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/bad.frwjob");
    const QString target = dir.path() + QStringLiteral("/bad.mdb");
    writeBytes(jobPath, "accessmode=1\r\nmysqldatabase=x\r\nport=1\r\nhost=127.0.0.1\r\naccessfilename=" + target.toUtf8()
                            + "\r\naccessformat=Access 2000\r\nprocesstable=0\r\n");
    QCOMPARE(runJobHeadless(jobPath), int(JobNotStarted));
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/bad.log"));
    QCOMPARE(log.size(), 2);
    QVERIFY(log[1].startsWith(QStringLiteral("'Access 2000' is not a valid integer value for \"accessformat\"")));
    QVERIFY(!QFileInfo::exists(target));
}

void TestJobs::badValueWithWindowEndsWithLog()
{
    // Nobody is there to answer a box: the message goes to the log beside the job.
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/bad.frwjob");
    writeBytes(jobPath, "accessmode=1\r\nmysqldatabase=x\r\naccessformat=x\r\nprocesstable=0\r\n");
    QStringList shown;
    const MessageBoxHandler previous = setMessageBoxHandler([&](const MessageRequest& r) {
        shown.append(r.text);
        return QMessageBox::Ok;
    });
    WizardWindow form({jobPath});
    setMessageBoxHandler(previous);
    QVERIFY(shown.isEmpty());
    QVERIFY(!wiztest::control<QTimer>(form, "Timer1")->isActive());  // no run starts
    QCOMPARE(wiztest::control<QLineEdit>(form, "edtdatabase")->text(), QStringLiteral("x"));  // the keys before the bad one are applied
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/bad.log"));
    QCOMPARE(log.size(), 2);
    QVERIFY(log[1].startsWith(QStringLiteral("'x' is not a valid integer value for \"accessformat\"")));
    QVERIFY(form.unattendedRunEnded());
    QCOMPARE(form.exitStatus(), int(JobNotStarted));
}

void TestJobs::launcherConvertsThroughServer()
{
    MYSQL_OR_SKIP();
    QVERIFY(rootSql("drop database if exists job_e2e; create database job_e2e character set utf8mb4;"
                    "create table job_e2e.orders (id int primary key, note varchar(20));"
                    "insert into job_e2e.orders values (1,'a'),(2,'b'),(3,'c');"
                    "create table job_e2e.lines2 (n int);"));
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(kAwkwardFolder));
    const QString folder = dir.path() + u'/' + kAwkwardFolder + u'/';

    ShortcutWindow bat;
    bat.programPath = QCoreApplication::applicationFilePath();  // runs jobs as the program does headless
    bat.showMessageText = [](const QString&) {};
    bat.chooseShortcutPath = [&] { return folder + QStringLiteral("nightly.sh"); };
    ShortcutInput in;
    in.accessmode = 1;
    in.host = env("FERROWANE_MYSQL_HOST");
    in.database = QStringLiteral("job_e2e");
    in.port = env("FERROWANE_MYSQL_PORT");
    in.user = env("FERROWANE_MYSQL_USER");
    in.password = env("FERROWANE_MYSQL_PASSWORD");
    in.charset = QStringLiteral("Default");
    in.accessformat = 1;
    in.accessfilename = folder + QStringLiteral("out.mdb");
    in.selectedTables = {QStringLiteral("orders")};
    bat.fill(in);
    wiztest::child<QButtonGroup>(bat, "rgselecttableItems")->button(0)->click();
    bat.saveJobAndShortcut();

    QCOMPARE(runLauncher(folder + QStringLiteral("nightly.sh"), m_home.path()), 0);
    const QStringList log = logLinesOf(folder + QStringLiteral("nightly.log"));
    QVERIFY2(log.size() >= 6, qPrintable(log.join(u'|')));
    QVERIFY(log.first().startsWith(QStringLiteral("Start time:")));
    QVERIFY(log.contains(QStringLiteral("Create table orders...Done")));
    QVERIFY2(log.contains(QStringLiteral("Insert table orders 3 Rows ...Done")), qPrintable(log.join(u'|')));
    QVERIFY(!log.join(u'\n').contains(QStringLiteral("lines2")));
    const int n = int(log.size());
    QCOMPARE(log[n - 3], QStringLiteral("Conversion is Completed"));
    QCOMPARE(log[n - 2], QStringLiteral("Wizard has migrated your MySQL database to Access successfully."));
    QVERIFY(log[n - 1].startsWith(QStringLiteral("The end time:")));  // nothing after it
    QVERIFY(QFileInfo(in.accessfilename).size() > 0);
    rootSql("drop database if exists job_e2e;");
}

void TestJobs::programRunsJobWithAndWithoutWindow_data()
{
    QTest::addColumn<bool>("offscreen");
    QTest::newRow("no display") << false;
    QTest::newRow("offscreen window") << true;
}

void TestJobs::programRunsJobWithAndWithoutWindow()
{
    MYSQL_OR_SKIP();
    QFETCH(bool, offscreen);
    const QString program = QStringLiteral(FERROWANE_BINARY_DIR "/wizard/ferrowane");
    if (!QFileInfo(program).isExecutable())
        QSKIP("the program is not built");
    QVERIFY(rootSql("drop database if exists job_prog; create database job_prog;"
                    "create table job_prog.items (id int primary key, name varchar(10));"
                    "insert into job_prog.items values (1,'a'),(2,'b');"));
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(kAwkwardFolder));
    const QString folder = dir.path() + u'/' + kAwkwardFolder + u'/';
    const QString jobPath = folder + QStringLiteral("prog.frwjob");
    writeBytes(jobPath, serverJob(QStringLiteral("job_prog"), folder + QStringLiteral("p.mdb"),
                                  "character_set=Default\r\nalltables=1\r\n"));
    const QString launcher = folder + QStringLiteral("prog.sh");
    QVERIFY(writeLauncher(program, jobPath, launcher).isEmpty());
    QCOMPARE(runLauncher(launcher, m_home.path(), offscreen), 0);
    const QStringList log = logLinesOf(folder + QStringLiteral("prog.log"));
    QVERIFY2(log.size() >= 6, qPrintable(log.join(u'|')));
    QVERIFY(log.first().startsWith(QStringLiteral("Start time:")));
    QVERIFY2(log.contains(QStringLiteral("Insert table items 2 Rows ...Done")), qPrintable(log.join(u'|')));
    const int n = int(log.size());
    QCOMPARE(log[n - 3], QStringLiteral("Conversion is Completed"));
    QCOMPARE(log[n - 2], QStringLiteral("Wizard has migrated your MySQL database to Access successfully."));
    QVERIFY(log[n - 1].startsWith(QStringLiteral("The end time:")));
    rootSql("drop database if exists job_prog;");
}

void TestJobs::missingTablesAreLoggedAndFail()
{
    MYSQL_OR_SKIP();
    QVERIFY(rootSql("drop database if exists job_case; create database job_case;"
                    "create table job_case.Alpha (id int); create table job_case.beta (id int);"
                    "insert into job_case.beta values (7);"));
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/case.frwjob");
    // Numbered from 0; "alpha" differs from "Alpha" in case only; "nosuch" is not there.
    writeBytes(jobPath, serverJob(QStringLiteral("job_case"), dir.path() + QStringLiteral("/c.mdb"),
                                  "character_set=Default\r\nalltables=0\r\ntables0=beta\r\ntables1=alpha\r\ntables2=nosuch\r\n"));
    QCOMPARE(runJobHeadless(jobPath), int(JobTableFailed));  // converted what it found, but not all it named
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/case.log"));
    QVERIFY2(log.contains(QStringLiteral("Insert table beta 1 Rows ...Done")), qPrintable(log.join(u'|')));
    const QString all = log.join(u'\n');
    QVERIFY(!all.contains(QStringLiteral("Alpha")));  // "alpha" selects nothing
    for (const char* name : {"alpha", "nosuch"})
        QCOMPARE(log.filter(QStringLiteral("Table %1 is not in database job_case").arg(QLatin1String(name))).size(), 1);
    // The job's options stay in the store, as after a run with a window.
    const StoredSettings stored = LoadSettings();
    QCOMPARE(stored.mysqldatabase, QStringLiteral("job_case"));
    QCOMPARE(stored.accessmode, 1);
    QCOMPARE(stored.accessformat, 1);
    QCOMPARE(stored.characterSet, 0);
    QCOMPARE(stored.defaultaccessdir, dir.path() + u'/');

    // Nothing found, or no table named at all: a failure, and no target file.
    for (const QByteArray& tables : {QByteArray("tables1=nosuch\r\n"), QByteArray()}) {
        const QString target = dir.path() + QStringLiteral("/none.mdb");
        writeBytes(jobPath, serverJob(QStringLiteral("job_case"), target, "alltables=0\r\n" + tables));
        QCOMPARE(runJobHeadless(jobPath), int(JobTableFailed));
        QCOMPARE(logLinesOf(dir.path() + QStringLiteral("/case.log")).last(),
                 QStringLiteral("No table to convert: the job selects no table of database job_case"));
        QVERIFY(!QFileInfo::exists(target));

        // The same job with a window: the same log and status.
        MessageBoxes boxes;
        WizardWindow form({jobPath});
        wiztest::control<QTimer>(form, "Timer1")->stop();
        form.goNext();  // what the timer's tick does
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(form.exitStatus(), int(JobTableFailed));
        QCOMPARE(logLinesOf(dir.path() + QStringLiteral("/case.log")).last(), form.logLines().last());
        QCOMPARE(form.logLines().last(), QStringLiteral("No table to convert: the job selects no table of database job_case"));
    }
    rootSql("drop database if exists job_case;");
}

void TestJobs::charsetDefaultAndUnknown()
{
    MYSQL_OR_SKIP();
    QVERIFY(rootSql("drop database if exists job_cs; create database job_cs character set utf8mb4;"
                    "create table job_cs.t (s varchar(10)); insert into job_cs.t values ('x');"));
    for (const char* charset : {"Default", "no-such-set", "utf8"}) {
        QTemporaryDir dir;
        const QString jobPath = dir.path() + QStringLiteral("/cs.frwjob");
        writeBytes(jobPath, serverJob(QStringLiteral("job_cs"), dir.path() + QStringLiteral("/cs.mdb"),
                                      QByteArray("character_set=") + charset + "\r\nalltables=1\r\n"));
        QCOMPARE(runJobHeadless(jobPath), int(JobConverted));
        QVERIFY2(logLinesOf(dir.path() + QStringLiteral("/cs.log")).contains(QStringLiteral("Insert table t 1 Rows ...Done")),
                 charset);
    }
    rootSql("drop database if exists job_cs;");
}

void TestJobs::failingJobEndsWithoutAPerson_data()
{
    QTest::addColumn<QString>("platform");  // QT_QPA_PLATFORM; empty: unset, with a display nobody serves
    QTest::addColumn<bool>("wrongPassword");  // else: a key missing from the job
    QTest::newRow("offscreen, missing key") << QStringLiteral("offscreen") << false;
    QTest::newRow("unreachable display, missing key") << QString() << false;
    QTest::newRow("offscreen, wrong password") << QStringLiteral("offscreen") << true;
    QTest::newRow("unreachable display, wrong password") << QString() << true;
}

void TestJobs::failingJobEndsWithoutAPerson()
{
    QFETCH(QString, platform);
    QFETCH(bool, wrongPassword);
    if (wrongPassword)
        MYSQL_OR_SKIP();
    const QString program = QStringLiteral(FERROWANE_BINARY_DIR "/wizard/ferrowane");
    if (!QFileInfo(program).isExecutable())
        QSKIP("the program is not built");
    if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X99")))
        QSKIP("display :99 has a server here");
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/fail.frwjob");
    QByteArray job = serverJob(QStringLiteral("mysql"), dir.path() + QStringLiteral("/f.mdb"), "alltables=1\r\n",
                               QStringLiteral("wrong-password"));
    if (!wrongPassword)
        job.replace("accessformat=1\r\n", "");
    writeBytes(jobPath, job);

    QProcess p;
    QProcessEnvironment e = headlessEnvironment(m_home.path());
    if (platform.isEmpty())
        e.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
    else
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    p.setProcessEnvironment(e);
    p.start(program, {jobPath});
    QVERIFY(p.waitForStarted(10000));
    const bool ended = p.waitForFinished(30000);
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    QVERIFY2(ended, "the run waited for a person");
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), int(JobNotStarted));
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/fail.log"));
    QCOMPARE(log.size(), 2);
    QVERIFY(log[0].startsWith(QStringLiteral("Start time:")));
    QVERIFY2(log[1].contains(wrongPassword ? QStringLiteral("Access denied") : QStringLiteral("\"accessformat\"")),
             qPrintable(log[1]));
}

void TestJobs::missingPortEndsWithMessage()
{
    MYSQL_OR_SKIP();
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/np.frwjob");
    QByteArray job = serverJob(QStringLiteral("mysql"), dir.path() + QStringLiteral("/np.mdb"), "alltables=1\r\n");
    job.replace("port=" + env("FERROWANE_MYSQL_PORT").toUtf8() + "\r\n", "");
    writeBytes(jobPath, job);
    QCOMPARE(runJobHeadless(jobPath), int(JobNotStarted));
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/np.log"));
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[1], QStringLiteral("Invalid port number: "));
}

void TestJobs::refusedLoginEndsWithServerMessage()
{
    MYSQL_OR_SKIP();
    QTemporaryDir dir;
    const QString jobPath = dir.path() + QStringLiteral("/refused.frwjob");
    writeBytes(jobPath, serverJob(QStringLiteral("mysql"), dir.path() + QStringLiteral("/r.mdb"), "alltables=1\r\n",
                                  QStringLiteral("wrong-password")));
    const QString launcher = dir.path() + QStringLiteral("/refused.sh");
    QVERIFY(writeLauncher(QCoreApplication::applicationFilePath(), jobPath, launcher).isEmpty());
    const int status = runLauncher(launcher, m_home.path());
    QVERIFY(status > 0);  // ended, not hung (-1), and not reported as success
    const QStringList log = logLinesOf(dir.path() + QStringLiteral("/refused.log"));
    QCOMPARE(log.size(), 2);
    QVERIFY(log[0].startsWith(QStringLiteral("Start time:")));
    QVERIFY2(log[1].contains(QStringLiteral("Access denied")), qPrintable(log[1]));
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/r.mdb")));
}

int main(int argc, char** argv)
{
    // Started by a launcher: run the job as the program does without a display.
    if (argc == 2 && QByteArray(argv[1]).endsWith(".frwjob")) {
        QCoreApplication app(argc, argv);
        return runJobHeadless(QString::fromLocal8Bit(argv[1]));
    }
    QApplication app(argc, argv);
    TestJobs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jobs.moc"
