// The wizard as a person meets it: the language (from the system at a first
// start, chosen in the window and remembered, every text translated), the
// keyboard (Enter, mnemonics, F1, Esc), the progress details and the run's
// summary, a window that grows and keeps its size, the target-file dialog,
// and a command-line job that leaves the window's stored options alone.
#include "settings/settings_store.h"
#include "wizard/controls.h"
#include "wizard/help_window.h"
#include "wizard/log_view.h"
#include "wizard/option_pages.h"
#include "wizard/table_page.h"
#include "wizard/wizard_window.h"
#include "wizard_test_support.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

using namespace ferrowane;

namespace {

bool hasChinese(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
}

// The mnemonic letter of a caption ("&Next >" -> 'N', "下一步(&N) >" -> 'N'); 0 when none.
QChar mnemonic(const QString& caption)
{
    for (qsizetype i = caption.indexOf(u'&'); i >= 0 && i + 1 < caption.size(); i = caption.indexOf(u'&', i + 2))
        if (caption[i + 1] != u'&')
            return caption[i + 1].toUpper();
    return QChar();
}

// What a person sees of a page and the button bar: captioned controls shown on screen.
QList<QWidget*> visibleCaptioned(WizardWindow& form)
{
    QList<QWidget*> result;
    QWidget* page = wiztest::control<QStackedWidget>(form, "pg")->currentWidget();
    for (QWidget* root : {page, wiztest::control<QWidget>(form, "Panel3"), wiztest::control<QWidget>(form, "Panel1")})
        for (QWidget* w : root->findChildren<QWidget*>())
            if (w->isVisibleTo(&form) && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)
                                          || qobject_cast<QGroupBox*>(w)))
                result.append(w);
    return result;
}

QString caption(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return static_cast<QGroupBox*>(w)->title();
}

}  // namespace

class TestWindowUi : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    wiztest::MySqlEnv m_env = wiztest::MySqlEnv::fromEnvironment();
    std::unique_ptr<wiztest::MessageBoxes> m_boxes;

    QString configFile() const { return m_home.path() + "/config/Tarnwick/Ferrowane.conf"; }

    std::unique_ptr<WizardWindow> shownForm()
    {
        auto form = std::make_unique<WizardWindow>();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qWarning("window not exposed");
        QApplication::setActiveWindow(form.get());
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("window not active");
        return form;
    }

    void logIn(WizardWindow& form, const QString& database)
    {
        wiztest::control<QButtonGroup>(form, "accessmodeItems")->button(1)->setChecked(true);
        wiztest::control<QLineEdit>(form, "edthost")->setText(m_env.host);
        wiztest::control<QLineEdit>(form, "edtport")->setText(m_env.port);
        wiztest::control<QLineEdit>(form, "edtname")->setText(m_env.user);
        wiztest::control<QLineEdit>(form, "edtpassword")->setText(m_env.password);
        wiztest::control<QLineEdit>(form, "edtdatabase")->setText(database);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        wiztest::isolateUserFolders(m_home);
        qputenv("HOME", m_home.path().toLocal8Bit());
        QDir().mkpath(m_home.path() + "/Documents");
        m_boxes = std::make_unique<wiztest::MessageBoxes>();
        if (m_env.valid())
            QVERIFY(m_env.run("drop database if exists wiz_ui; create database wiz_ui; use wiz_ui;\n"
                              "create table small (id int primary key, name varchar(20));\n"
                              "insert into small values (1, 'a'), (2, 'b'), (3, 'c');\n"
                              "create table big (id int primary key);\n"
                              "insert into big select seq from seq_1_to_250;\n"));
    }

    void cleanupTestCase()
    {
        if (m_env.valid())
            m_env.run("drop database if exists wiz_ui;");
    }

    void init()
    {
        QFile::remove(configFile());
        m_boxes->clear();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    // A first start takes the system's language; the choice in the window is
    // kept for the next start and wins over the system's.
    void languageFromTheSystemThenTheChoice()
    {
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        {
            auto form = shownForm();
            QCOMPARE(form->language(), QString("cn"));
            QCOMPARE(wiztest::control<QLabel>(*form, "Label1")->text(), QString::fromUtf8("欢迎"));
            auto* choice = wiztest::control<QComboBox>(*form, "cblanguage");
            QCOMPARE(choice->currentData().toString(), QString("cn"));
            // Chosen with the keyboard, as a person would: Alt+G then a key.
            wiztest::control<QPushButton>(*form, "btnext")->setFocus();
            QTest::keyClick(form.get(), Qt::Key_G, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget(), choice);
            QTest::keyClick(choice, Qt::Key_Up);
            QCOMPARE(form->language(), QString("en"));
            QCOMPARE(wiztest::control<QLabel>(*form, "Label1")->text(), QString("Welcome"));
            form->close();
        }
        auto again = shownForm();
        QCOMPARE(again->language(), QString("en"));  // remembered, though the system is Chinese
        QCOMPARE(wiztest::control<QComboBox>(*again, "cblanguage")->currentData().toString(), QString("en"));
    }

    // In Chinese every text a person sees is Chinese: every page, the button
    // bar, the message boxes and the run's captions. Product names and
    // values (MySQL, Access, 3306, file names) may stay as they are.
    void everyTextIsTranslated()
    {
        auto form = shownForm();
        form->setLanguage("cn");
        const QRegularExpression allowed(QStringLiteral("^(|English|[0-9:]*|.*[\\x{4e00}-\\x{9fff}].*)$"));
        auto checkPage = [&] {
            for (QWidget* w : visibleCaptioned(*form))
                QVERIFY2(allowed.match(caption(w)).hasMatch(),
                         qPrintable(w->objectName() + " reads \"" + caption(w) + "\""));
        };
        for (int step : {1, 2, 4, 5, 6}) {
            form->showStep(step);
            checkPage();
        }
        form->showStep(1);
        form->goNext();
        form->goNext();  // no database name
        QVERIFY(hasChinese(m_boxes->lastText()));
        m_boxes->answers = {QMessageBox::No, QMessageBox::No};
        form->confirmClose();
        QVERIFY(hasChinese(m_boxes->shown.last().title));
        form->confirmStop();
        QVERIFY(hasChinese(m_boxes->lastText()) && hasChinese(m_boxes->shown.last().title));
        // The run's captions, and the last one names the button as it reads.
        for (const char* name : {"Label29", "Label30", "Label32"})
            QVERIFY(hasChinese(wiztest::control<QLabel>(*form, name)->text()));
        QVERIFY(!wiztest::control<QLabel>(*form, "Label32")->text().contains("Finish"));
        // The shortcut-file window: its title, captions and buttons.
        auto* shortcut = wiztest::child<QDialog>(*form, "shortcutWindow");
        QVERIFY(hasChinese(shortcut->windowTitle()));
        for (QWidget* w : shortcut->findChildren<QWidget*>())
            if (w->window() == shortcut && !w->isHidden()
                && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QGroupBox*>(w)))
                QVERIFY2(hasChinese(caption(w)), qPrintable(w->objectName() + " reads " + caption(w)));
    }

    // Enter presses Next (or the focused button); every button and field
    // label has a mnemonic, none twice on a page, in both languages; F1
    // opens help, Esc asks the Close question.
    void keyboard()
    {
        auto form = shownForm();
        for (const char* language : {"en", "cn"}) {
            form->setLanguage(language);
            for (int step : {1, 2, 4, 5, 6}) {
                form->showStep(step);
                QSet<QChar> used;
                for (QWidget* w : visibleCaptioned(*form)) {
                    auto* label = qobject_cast<QLabel*>(w);
                    const bool fieldLabel = label && label->buddy();
                    const bool button = qobject_cast<QPushButton*>(w) || qobject_cast<QRadioButton*>(w);
                    if (!fieldLabel && !button)
                        continue;
                    const QChar key = mnemonic(caption(w));
                    QVERIFY2(!key.isNull(), qPrintable(QString("%1 %2 has no mnemonic").arg(language, w->objectName())));
                    QVERIFY2(!used.contains(key), qPrintable(QString("%1 step %2: %3 again in %4").arg(language).arg(step).arg(key).arg(w->objectName())));
                    used.insert(key);
                }
            }
        }
        form->setLanguage("en");
        form->showStep(1);
        QCOMPARE(form->currentStep(), 1);
        auto* next = wiztest::control<QPushButton>(*form, "btnext");
        QVERIFY(next->isDefault());
        next->setFocus();
        QTest::keyClick(next, Qt::Key_Return);
        QCOMPARE(form->currentStep(), 2);
        // Enter in a field is Next too (here refused: no database name).
        QTest::keyClick(wiztest::control<QLineEdit>(*form, "edtdatabase"), Qt::Key_Return);
        QCOMPARE(m_boxes->lastText(), QString("Please enter database name"));
        // Alt+U reaches the user name, Alt+B goes back (also from inside a field).
        QTest::keyClick(form.get(), Qt::Key_U, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), wiztest::control<QLineEdit>(*form, "edtname"));
        QTest::keyClick(form.get(), Qt::Key_B, Qt::AltModifier);  // from the field
        QTRY_COMPARE(form->currentStep(), 1);  // a mnemonic clicks with a short animation

        QTest::keyClick(form.get(), Qt::Key_F1);
        auto* help = wiztest::child<HelpWindow>(*form, "helpWindow");
        QVERIFY(help->isVisible());
        help->close();
        m_boxes->clear();
        m_boxes->answers = {QMessageBox::No};
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QCOMPARE(m_boxes->lastText(), QString("Close this Wizard ?"));
        QVERIFY(form->isVisible());
    }

    // The details under the bar: table k of n, rows and total, rate, elapsed
    // and remaining time; at the end the summary of what the run reported.
    void progressDetailsAndSummary()
    {
        auto form = shownForm();
        auto& log = dynamic_cast<LogView&>(form->progressLog());
        auto* details = wiztest::control<QLabel>(*form, "progressdetails");
        log.startRun({"first", "orders", "last"});
        log.rowTotal("orders", 1000);
        log.progressPoint(500);
        const QString during = details->text();
        QVERIFY2(during.contains("Table 2 of 3") && during.contains("orders: 500 / 1,000 rows"), qPrintable(during));
        QVERIFY2(QRegularExpression("[0-9,]+ rows/s.*elapsed [0-9]+:[0-9]{2}.*remaining [0-9]+:[0-9]{2}").match(during).hasMatch(),
                 qPrintable(during));
        log.transferEnded("orders", 1000, 2);
        RunResult result;
        result.convertedTables = 2;
        result.failedTables = 1;
        log.finishRun(result, false);
        QCOMPARE(details->text(), QString("Tables: 2 of 3 converted, 1 failed. Rows: 1,000. Time: 0:00. "
                                          "Values not stored as they were: 2."));
        form->setLanguage("cn");
        QVERIFY(hasChinese(details->text()));

        // A real run: the rows are the rows written, table by table.
        WIZ_REQUIRE_MYSQL(m_env);
        form->setLanguage("en");
        form->goNext();
        logIn(*form, "wiz_ui");
        form->goNext();
        QCOMPARE(form->currentStep(), 4);
        wiztest::control<QLineEdit>(*form, "editaccessname")->setText(m_home.filePath("ui.mdb"));
        form->goNext();
        QCOMPARE(form->currentStep(), 5);
        form->tablePage().addAll();
        form->goNext();
        QCOMPARE(form->currentStep(), 6);
        QVERIFY2(details->text().startsWith("Tables: 2 of 2 converted, 0 failed. Rows: 253. Time: "), qPrintable(details->text()));
    }

    // The window grows (not below its first size); the lists and the log grow
    // with it, the side picture stays at the panel's foot, and the size is kept.
    void growsAndKeepsItsSize()
    {
        {
            auto form = shownForm();
            QCOMPARE(form->size(), QSize(594, 425));
            QCOMPARE(form->minimumSize(), QSize(594, 425));
            QVERIFY(form->maximumWidth() > 594 && form->maximumHeight() > 425);
            form->showStep(6);
            auto* log = wiztest::control<QPlainTextEdit>(*form, "sc");
            const int logHeight = log->height();
            form->showStep(5);
            auto* available = wiztest::control<QListWidget>(*form, "availabletables");
            const QSize before = available->size();
            form->resize(760, 560);  // within the offscreen screen's 800x600
            QTRY_VERIFY(available->width() > before.width() + 50 && available->height() > before.height() + 100);
            auto* picture = wiztest::control<QWidget>(*form, "Image1");
            auto* panel = wiztest::control<QWidget>(*form, "Panel1");
            QCOMPARE(panel->width(), 177);
            QCOMPARE(picture->geometry().bottom(), panel->height() - 1);
            form->showStep(6);
            QTRY_VERIFY(log->height() > logHeight + 100);
            form->close();
        }
        auto again = shownForm();
        QCOMPARE(again->size(), QSize(760, 560));
    }

    // The target file: typed or pasted into the field; the dialog starts in
    // the documents folder with "<database>.mdb" proposed, later in the last
    // folder used.
    void targetFileField()
    {
        auto form = shownForm();
        auto* field = wiztest::control<QLineEdit>(*form, "editaccessname");
        form->showStep(4);
        field->setFocus();
        QTest::keyClicks(field, "/tmp/typed.mdb");
        QCOMPARE(form->conversionSettings().accessfilename, QString("/tmp/typed.mdb"));
        field->clear();

        form->optionsPage().showDatabases({"mysql", "shop"}, 1);
        auto* dialog = wiztest::control<QFileDialog>(*form, "SaveDialog1");
        QString folder, proposed;
        QTimer::singleShot(0, this, [&] {
            folder = dialog->directory().absolutePath();
            proposed = dialog->selectedFiles().value(0);
            dialog->selectFile(m_home.path() + "/out/shop.mdb");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QDir().mkpath(m_home.path() + "/out");
        form->optionsPage().browseForAccessFile();
        QCOMPARE(folder, m_home.path() + "/Documents");
        QCOMPARE(proposed, m_home.path() + "/Documents/shop.mdb");
        QCOMPARE(field->text(), m_home.path() + "/out/shop.mdb");

        field->clear();
        QTimer::singleShot(0, this, [&] {
            folder = dialog->directory().absolutePath();
            dialog->reject();
        });
        form->optionsPage().browseForAccessFile();
        QCOMPARE(folder, m_home.path() + "/out");  // the last folder used
    }

    // ferrowane-convert --job runs without touching what the window stored.
    void commandLineJobLeavesStoredOptions()
    {
        StoredSettings window;
        window.mysqlu = "window-user";
        window.mysqlp = "window-secret";
        window.mysqldatabase = "window_db";
        QVERIFY(SaveSettings(window, QString()));
        const QString job = m_home.filePath("cli.frwjob");
        QFile file(job);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // A server that is not there: the job is applied, then the login fails.
        file.write("accessmode=1\r\nhost=127.0.0.1\r\nport=1\r\nmysqlu=job-user\r\nmysqlp=job-secret\r\n"
                   "mysqldatabase=job_db\r\naccessfilename=/tmp/never.mdb\r\nalltables=1\r\n");
        file.close();
        QProcess convert;
        convert.start(QStringLiteral(FERROWANE_BINARY_DIR "/tools/ferrowane-convert"), {"--job", job});
        QVERIFY(convert.waitForFinished(60000));
        QCOMPARE(convert.exitCode(), 2);
        const StoredSettings after = LoadSettings();
        QCOMPARE(after.mysqlu, QString("window-user"));
        QCOMPARE(after.mysqlp, QString("window-secret"));
        QCOMPARE(after.mysqldatabase, QString("window_db"));
    }
};

QTEST_MAIN(TestWindowUi)
#include "tst_window_ui.moc"
