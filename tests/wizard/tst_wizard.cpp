// Walks the wizard window against the real MariaDB server: steps, buttons,
// the checks of Next, the table moves, the texts and the stored settings.
#include "wizard/wizard_window.h"
#include "wizard/log_view.h"
#include "wizard/option_pages.h"
#include "wizard/table_page.h"
#include "wizard/clickable_image.h"
#include "wizard/controls.h"
#include "wizard/help_window.h"
#include "wizard_test_support.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ferrowane;

namespace {
const QStringList kTables = {"orders", "Customers", "alpha", "beta", "Zeta"};

// A TCP port on this computer where nothing listens.
int unusedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}
}

class TestWizard : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    wiztest::MySqlEnv m_env = wiztest::MySqlEnv::fromEnvironment();
    std::unique_ptr<wiztest::MessageBoxes> m_boxes;
    std::unique_ptr<WizardWindow> m_form;

    WizardWindow& form() { return *m_form; }

    void newForm()
    {
        m_form = std::make_unique<WizardWindow>();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QApplication::setActiveWindow(m_form.get());
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void fillLogin(const QString& database)
    {
        wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(1)->setChecked(true);
        wiztest::control<QLineEdit>(form(), "edthost")->setText(m_env.host);
        wiztest::control<QLineEdit>(form(), "edtport")->setText(m_env.port);
        wiztest::control<QLineEdit>(form(), "edtname")->setText(m_env.user);
        wiztest::control<QLineEdit>(form(), "edtpassword")->setText(m_env.password);
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText(database);
    }

    // Steps 1 -> 2 -> 4 with the test database; a target file chosen.
    void walkToStep4(const QString& typed = "wiz_shop")
    {
        form().goNext();
        QCOMPARE(form().currentStep(), 2);
        fillLogin(typed);
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 0);
        QCOMPARE(form().currentStep(), 4);
    }

    void walkToStep5()
    {
        walkToStep4();
        wiztest::control<QLineEdit>(form(), "editaccessname")->setText(m_home.filePath("target.mdb"));
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 0);
        QCOMPARE(form().currentStep(), 5);
    }

    QStringList items(QListWidget* list) const
    {
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names.append(list->item(i)->text());
        return names;
    }

    void select(QListWidget* list, const QStringList& names)
    {
        list->clearSelection();
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setSelected(names.contains(list->item(i)->text()));
    }

    // Back, Next, Close, Help: enabled flags and the Next caption.
    void checkButtons(bool back, const QString& nextText, bool next, bool close, bool help)
    {
        QCOMPARE(wiztest::control<QPushButton>(form(), "btback")->isEnabled(), back);
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btnext")->text()), nextText);
        QCOMPARE(wiztest::control<QPushButton>(form(), "btnext")->isEnabled(), next);
        QCOMPARE(wiztest::control<QPushButton>(form(), "btcancel")->isEnabled(), close);
        QCOMPARE(wiztest::control<QPushButton>(form(), "bthelp")->isEnabled(), help);
    }

    QLabel* boldStepLabel()
    {
        QLabel* bold = nullptr;
        for (QLabel* l : {wiztest::control<QLabel>(form(), "Label1"), wiztest::control<QLabel>(form(), "Label2"), wiztest::control<QLabel>(form(), "Label4"), wiztest::control<QLabel>(form(), "Label5"), wiztest::control<QLabel>(form(), "Label6")}) {
            if (l->font().bold()) {
                if (bold)
                    return nullptr;  // more than one
                bold = l;
            }
        }
        return bold;
    }

    // The run database: a long table and a short one.
    void prepareRunDatabase()
    {
        static bool done = false;
        if (done)
            return;
        done = true;
        QVERIFY(m_env.run("drop database if exists wiz_run; create database wiz_run; use wiz_run;\n"
                          "create table big (id int primary key, name varchar(40));\n"
                          "set session max_recursive_iterations = 100000;\n"
                          "insert into big with recursive s(n) as (select 1 union all select n + 1 from s where n < 5000)"
                          " select n, concat('row ', n) from s;\n"
                          "create table small (id int primary key, label varchar(10));\n"
                          "insert into small values (1, 'a'), (2, 'b'), (3, 'c');\n"));
    }

    void walkToRunTables(const QString& target, const QStringList& tables = {"big", "small"})
    {
        form().goNext();
        fillLogin("wiz_run");
        form().goNext();
        QCOMPARE(form().currentStep(), 4);
        wiztest::control<QLineEdit>(form(), "editaccessname")->setText(target);
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 0);
        QCOMPARE(form().currentStep(), 5);
        for (const QString& table : tables) {
            select(wiztest::control<QListWidget>(form(), "availabletables"), {table});
            form().tablePage().addSelected();
        }
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), tables);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        wiztest::isolateUserFolders(m_home);
        m_boxes = std::make_unique<wiztest::MessageBoxes>();
        if (m_env.valid()) {
            QByteArray sql = "drop database if exists wiz_shop; create database wiz_shop; use wiz_shop;\n";
            for (const QString& t : kTables)
                sql += "create table `" + t.toUtf8() + "` (id int primary key);\n";
            sql += "drop database if exists wiz_other; create database wiz_other;\n";
            // Names that differ only in case: the typed one logs in, the last match is chosen.
            sql += "drop database if exists wiz_case; create database wiz_case;\n";
            sql += "drop database if exists WIZ_CASE; create database WIZ_CASE;\n";
            QVERIFY(m_env.run(sql));
        }
    }

    void cleanupTestCase()
    {
        m_form.reset();
        if (m_env.valid())
            m_env.run("drop database if exists wiz_run; drop database if exists wiz_shop; drop database if exists wiz_other;"
                      "drop database if exists wiz_case; drop database if exists WIZ_CASE;");
    }

    void init()
    {
        QFile::remove(settingsLocation());
        m_boxes->clear();
        newForm();
    }

    void cleanup()
    {
        m_form.reset();
    }

    void startState()
    {
        QCOMPARE(form().windowTitle(), QString("Ferrowane 4.0"));
        QCOMPARE(form().currentStep(), 1);
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet1"));
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget()->objectName(), QString("TabSheet1"));
        QCOMPARE(boldStepLabel(), wiztest::control<QLabel>(form(), "Label1"));
        checkButtons(false, "Next >", true, true, true);
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btback")->text()), QString("< Back"));
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Close"));
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "bthelp")->text()), QString("Help"));
        QCOMPARE(form().size(), QSize(594, 425));
        QVERIFY(!form().unattended());
        QVERIFY(!form().stopRequested());

        // Side panel and welcome texts.
        QCOMPARE(wiztest::control<QLabel>(form(), "Label1")->text(), QString("Welcome"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label2")->text(), QString("Connect to Mysql server"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label4")->text(), QString("Conversion Settings"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label5")->text(), QString("Select table to convert"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label6")->text(), QString("Conversion is Completed"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label7")->text(), QString("Welcome to the Database"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label8")->text(), QString("Conversion Wizard"));
        QVERIFY(wiztest::control<QLabel>(form(), "Label7")->font().bold() && wiztest::control<QLabel>(form(), "Label8")->font().bold());
        QCOMPARE(wiztest::control<QLabel>(form(), "Label10")->text(), QString("Click 'Next' to continue."));

        // First-start defaults of the two option pages.
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "accessmodeItems")->checkedId(), 0);
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(0)->text(), QString("&Local"));
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(1)->text(), QString("&Remote"));
        QVERIFY(!wiztest::control<QLineEdit>(form(), "edthost")->isEnabled());
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edthost")->palette().color(QPalette::Base), form().palette().color(QPalette::Button));
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edtport")->text(), QString("3306"));
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edtpassword")->echoMode(), QLineEdit::Password);
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbcharset")->currentText(), QString("Default"));
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbcharset")->count(), 38);
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbcharset")->itemText(36), QString("utf8"));
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbcharset")->itemText(37), QString("utf8mb4"));
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbcharset")->maxVisibleItems(), 6);
        QVERIFY(wiztest::control<QComboBox>(form(), "cbcharset")->isEditable());
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "processtableItems")->checkedId(), 0);
        QVERIFY(!wiztest::control<QCheckBox>(form(), "chktabledefi")->isChecked());
        QVERIFY(!wiztest::control<QCheckBox>(form(), "chkskipindex")->isChecked());
        QVERIFY(!wiztest::control<QCheckBox>(form(), "chkblobtotext")->isChecked());
        QVERIFY(!wiztest::control<QCheckBox>(form(), "chkuppercase")->isChecked());
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbaccessformat")->currentText(), QString("MS Access 95/97"));
        QVERIFY(!wiztest::control<QComboBox>(form(), "cbaccessformat")->isEditable());
        QVERIFY(wiztest::control<QLineEdit>(form(), "editaccessname")->text().isEmpty());
        QVERIFY(!wiztest::control<QLineEdit>(form(), "editaccessname")->isReadOnly());  // typed or pasted
        // The data folder is made at start, but the dialog opens where documents are kept.
        QVERIFY(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Orvanel/").exists());
        QVERIFY(QDir(form().accessDialogFolder()).exists());

        // Controls that carry the names of the window's design.
        for (const char* name : {"Panel1", "Panel3", "pg", "Image1", "btback", "btnext", "btcancel", "bthelp",
                                 "accessmode", "authorization", "GroupBox1", "GroupBox2", "edtdatabase", "edtname",
                                 "edtpassword", "edthost", "edtport", "edtport111", "cbcharset", "mysqldblist",
                                 "processtable", "chktabledefi", "chkskipindex", "chkblobtotext", "cbaccessformat",
                                 "editaccessname", "btbrowse", "SaveDialog1", "availabletables", "selecttables",
                                 "Button1", "Button2", "Button3", "Button4", "btcreatebat", "sc", "Timer1",
                                 "edtservice", "edtoracleusername", "edtoraclepassword", "chkuppercase",
                                 "helpurl", "queryclose", "linkmysqlerror", "nullaccessname", "TabSheet4"})
            QVERIFY2(form().findChild<QObject*>(name), name);
    }

    void hostFieldFollowsAccessMode()
    {
        wiztest::control<QLineEdit>(form(), "edthost")->setText("db.example");
        wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(1)->setChecked(true);
        QVERIFY(wiztest::control<QLineEdit>(form(), "edthost")->isEnabled());
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edthost")->palette().color(QPalette::Base), wiztest::control<QLineEdit>(form(), "edtport")->palette().color(QPalette::Base));
        wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(0)->setChecked(true);
        QVERIFY(!wiztest::control<QLineEdit>(form(), "edthost")->isEnabled());
        QVERIFY(wiztest::control<QLineEdit>(form(), "edtport")->isEnabled());
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edthost")->text(), QString("db.example"));
    }

    void nextFromWelcomeNeedsNoAction()
    {
        form().goNext();
        QCOMPARE(form().currentStep(), 2);
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet2"));
        QCOMPARE(boldStepLabel(), wiztest::control<QLabel>(form(), "Label2"));
        checkButtons(true, "Next >", true, true, true);
        QVERIFY(wiztest::control<QLineEdit>(form(), "edtdatabase")->hasFocus());
        QVERIFY(m_boxes->shown.isEmpty());
        form().goBack();
        QCOMPARE(form().currentStep(), 1);
        checkButtons(false, "Next >", true, true, true);
    }

    void blankDatabaseNameIsRefused()
    {
        form().goNext();
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText("  \t ");
        wiztest::control<QLineEdit>(form(), "edtname")->setFocus();
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->lastText(), QString("Please enter database name"));
        QCOMPARE(m_boxes->shown.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(form().currentStep(), 2);
        QVERIFY(wiztest::control<QLineEdit>(form(), "edtdatabase")->hasFocus());
    }

    void refusedLoginShowsServerMessage()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        form().goNext();
        fillLogin("wiz_shop");
        wiztest::control<QLineEdit>(form(), "edtpassword")->setText("wrong-password");
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY2(m_boxes->lastText().contains("Access denied"), qPrintable(m_boxes->lastText()));
        QCOMPARE(form().currentStep(), 2);
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet2"));
    }

    void databaseChosenWithoutRegardToCase()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        walkToStep4("wiz_shop");
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet4"));
        QCOMPARE(boldStepLabel(), wiztest::control<QLabel>(form(), "Label4"));
        checkButtons(true, "Next >", true, true, true);
        QVERIFY(wiztest::control<QListWidget>(form(), "mysqldblist")->hasFocus());
        const QStringList names = items(wiztest::control<QListWidget>(form(), "mysqldblist"));
        QVERIFY(names.contains("wiz_shop") && names.contains("wiz_other"));
        QCOMPARE(wiztest::control<QListWidget>(form(), "mysqldblist")->selectedItems().size(), 1);
        QCOMPARE(wiztest::control<QListWidget>(form(), "mysqldblist")->selectedItems().first()->text(), QString("wiz_shop"));

        // Two databases whose names differ only in case: both match, the later one is chosen.
        form().goBack();
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText("WIZ_CASE");
        form().goNext();
        QCOMPARE(form().currentStep(), 4);
        const QStringList listed = items(wiztest::control<QListWidget>(form(), "mysqldblist"));
        const int upper = listed.indexOf("WIZ_CASE"), lower = listed.indexOf("wiz_case");
        QVERIFY(upper >= 0 && lower >= 0);
        QCOMPARE(wiztest::control<QListWidget>(form(), "mysqldblist")->selectedItems().size(), 1);
        QCOMPARE(wiztest::control<QListWidget>(form(), "mysqldblist")->currentRow(), std::max(upper, lower));

        // A name that matches nothing exactly enough: the list has no selection.
        form().goBack();
        QCOMPARE(form().currentStep(), 2);
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText("wiz_shop ");  // the blank is kept: no entry equals it
        form().goNext();
        if (form().currentStep() == 4)
            QVERIFY(wiztest::control<QListWidget>(form(), "mysqldblist")->selectedItems().isEmpty());
        else  // the server refused the name with the blank: its own message
            QCOMPARE(m_boxes->shown.size(), 1);
    }

    void settingsPageChecks()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        walkToStep4();
        // No target file: the language table's message, focus on Browse.
        wiztest::control<QListWidget>(form(), "mysqldblist")->setFocus();
        form().goNext();
        QCOMPARE(m_boxes->lastText(), QString("Please input Access database name"));
        QCOMPARE(form().currentStep(), 4);
        QVERIFY(wiztest::control<QPushButton>(form(), "btbrowse")->hasFocus());

        // No database chosen in the list: an error, the step stays.
        m_boxes->clear();
        wiztest::control<QLineEdit>(form(), "editaccessname")->setText(m_home.filePath("t.mdb"));
        wiztest::control<QListWidget>(form(), "mysqldblist")->clearSelection();
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(form().currentStep(), 4);
        QVERIFY(!form().source().isOpen());

        // A database that has vanished: the server's message.
        m_boxes->clear();
        wiztest::control<QListWidget>(form(), "mysqldblist")->addItem("wiz_no_such_db");
        wiztest::control<QListWidget>(form(), "mysqldblist")->setCurrentRow(wiztest::control<QListWidget>(form(), "mysqldblist")->count() - 1);
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY2(m_boxes->lastText().contains("wiz_no_such_db"), qPrintable(m_boxes->lastText()));
        QCOMPARE(form().currentStep(), 4);
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->count(), 0);
    }

    void tablePageArrival()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        walkToStep5();
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet5"));
        QCOMPARE(boldStepLabel(), wiztest::control<QLabel>(form(), "Label5"));
        checkButtons(true, "Next >", false, true, true);
        QVERIFY(wiztest::control<QListWidget>(form(), "availabletables")->hasFocus());
        QStringList listed = items(wiztest::control<QListWidget>(form(), "availabletables"));
        QStringList sortedListed = listed, sortedExpected = kTables;
        sortedListed.sort();
        sortedExpected.sort();
        QCOMPARE(sortedListed, sortedExpected);
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->currentRow(), 0);
        QVERIFY(wiztest::control<QListWidget>(form(), "availabletables")->selectedItems().isEmpty());
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 0);

        // "Add >" before any click moves nothing.
        form().tablePage().addSelected();
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 0);
        QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->selectionMode(), QAbstractItemView::ExtendedSelection);
    }

    void tableMoves()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        walkToStep5();
        const QStringList server = items(wiztest::control<QListWidget>(form(), "availabletables"));

        // Second and fourth: appended in list order.
        select(wiztest::control<QListWidget>(form(), "availabletables"), {server[1], server[3]});
        form().tablePage().addSelected();
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({server[1], server[3]}));
        QVERIFY(wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "availabletables")), QStringList({server[0], server[2], server[4]}));

        // Then the last one: after those already selected.
        select(wiztest::control<QListWidget>(form(), "availabletables"), {server[4]});
        form().tablePage().addSelected();
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({server[1], server[3], server[4]}));

        // Removal: back in alphabetical position, the whole list sorted without regard to case.
        select(wiztest::control<QListWidget>(form(), "selecttables"), {server[3]});
        form().tablePage().removeSelected();
        QStringList available = {server[0], server[2], server[3]};
        std::sort(available.begin(), available.end(),
                  [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "availabletables")), available);
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({server[1], server[4]}));

        // Remove all: everything back, sorted: Customers among the small letters.
        form().tablePage().removeAll();
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "availabletables")), QStringList({"alpha", "beta", "Customers", "orders", "Zeta"}));
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 0);
        QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());

        // Add all: in the order shown.
        form().tablePage().addAll();
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({"alpha", "beta", "Customers", "orders", "Zeta"}));
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->count(), 0);
        QVERIFY(wiztest::control<QPushButton>(form(), "btnext")->isEnabled());

        // Double clicks move the selection of their list.
        select(wiztest::control<QListWidget>(form(), "selecttables"), {"beta", "orders"});
        emit wiztest::control<QListWidget>(form(), "selecttables")->itemDoubleClicked(nullptr);
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "availabletables")), QStringList({"beta", "orders"}));
        select(wiztest::control<QListWidget>(form(), "availabletables"), {"orders"});
        emit wiztest::control<QListWidget>(form(), "availabletables")->itemDoubleClicked(nullptr);
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({"alpha", "Customers", "Zeta", "orders"}));

        // Moves with nothing to move change nothing; Next follows the selected list.
        wiztest::control<QListWidget>(form(), "availabletables")->clearSelection();
        form().tablePage().addSelected();
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 4);
        form().tablePage().removeAll();
        QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
        form().tablePage().removeSelected();
        QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());

        // Back empties both lists; Next lists again, now kept in alphabetical order.
        form().goBack();
        QCOMPARE(form().currentStep(), 4);
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->count(), 0);
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 0);
        checkButtons(true, "Next >", true, true, true);
        form().goNext();
        QCOMPARE(form().currentStep(), 5);
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "availabletables")), QStringList({"alpha", "beta", "Customers", "orders", "Zeta"}));
        QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());

        // Back from step 4 lands on step 2.
        form().goBack();
        form().goBack();
        QCOMPARE(form().currentStep(), 2);
    }

    void doubleClickWithTheMouse()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        walkToStep5();
        QListWidget* list = wiztest::control<QListWidget>(form(), "availabletables");
        const QString name = list->item(2)->text();
        const QPoint at = list->visualItemRect(list->item(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({name}));
        QVERIFY(wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
    }

    void lastStepButtonsAndPicture()
    {
        form().showStep(6);
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet6"));
        QCOMPARE(boldStepLabel(), wiztest::control<QLabel>(form(), "Label6"));
        checkButtons(false, "Finish", true, false, false);
        // The picture opens help also here, where Help itself is disabled.
        QTest::mouseClick(wiztest::control<ClickableImage>(form(), "Image1"), Qt::LeftButton, {}, QPoint(20, 20));
        auto* help = wiztest::child<HelpWindow>(form(), "helpWindow");
        QVERIFY(help->isVisible());
        help->close();
    }

    // Help shows the help that ships with the program, in the window's
    // language, with the online page as a link: no browser needed.
    void helpShowsBuiltInTextOfTheLanguage()
    {
        QTest::mouseClick(wiztest::control<QPushButton>(form(), "bthelp"), Qt::LeftButton);
        auto* help = wiztest::child<HelpWindow>(form(), "helpWindow");
        QVERIFY(help->isVisible());
        QVERIFY(wiztest::child<QTextBrowser>(*help, "helpText")->toPlainText().contains("Conversion Settings"));
        QVERIFY(wiztest::child<QLabel>(*help, "helpLink")->text().contains(
            "href=\"https://github.com/tarnwick/ferrowane/blob/main/docs/help-en.md\""));
        form().setLanguage("cn");  // an open help window follows the language
        QVERIFY(wiztest::child<QTextBrowser>(*help, "helpText")->toPlainText().contains(QString::fromUtf8("帮助")));
        QVERIFY(wiztest::child<QLabel>(*help, "helpLink")->text().contains("/docs/help-zh.md"));
        form().setLanguage("en");
        help->close();
        QVERIFY(QFile::exists(QStringLiteral(FERROWANE_SOURCE_DIR) + "/docs/help-en.md"));
        QVERIFY(QFile::exists(QStringLiteral(FERROWANE_SOURCE_DIR) + "/docs/help-zh.md"));
    }

    void closeQuestion()
    {
        m_boxes->answers = {QMessageBox::No};
        QTest::mouseClick(wiztest::control<QPushButton>(form(), "btcancel"), Qt::LeftButton);
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->lastText(), QString("Close this Wizard ?"));
        QCOMPARE(m_boxes->shown.last().title, QString("Information"));
        QCOMPARE(m_boxes->shown.last().buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(form().isVisible());

        wiztest::control<QLineEdit>(form(), "edtname")->setText("kept-user");
        m_boxes->answers = {QMessageBox::Yes};
        QTest::mouseClick(wiztest::control<QPushButton>(form(), "btcancel"), Qt::LeftButton);
        QVERIFY(!form().isVisible());
        QCOMPARE(LoadSettings().mysqlu, QString("kept-user"));
    }

    void titleBarCloseAsksNothingAndSaves()
    {
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText("from-title-bar");
        QVERIFY(form().close());
        QVERIFY(m_boxes->shown.isEmpty());
        QCOMPARE(LoadSettings().mysqldatabase, QString("from-title-bar"));
    }

    void storedSettingsShownAtStart()
    {
        {
            QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Tarnwick", "Ferrowane");
            raw.setValue("accessmode", "1");
            raw.setValue("host", "db.example");
            raw.setValue("port", "");
            raw.setValue("Character Set", "36");
            raw.setValue("processtable", "-3");
            raw.setValue("accessformat", "7");
            raw.setValue("tabledefonly", "true");
            raw.setValue("blobtotext", "1");
            raw.setValue("nameuppercase", "1");
            raw.setValue("oracleu", "ou");
            raw.setValue("defaultaccessdir", m_home.path() + "/");
        }
        newForm();
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "accessmodeItems")->checkedId(), 1);
        QVERIFY(wiztest::control<QLineEdit>(form(), "edthost")->isEnabled());
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edthost")->text(), QString("db.example"));
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edtport")->text(), QString("3306"));
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbcharset")->currentText(), QString("utf8"));
        QCOMPARE(form().characterSetIndex(), 36);
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "processtableItems")->checkedId(), 0);   // nearest in range
        QCOMPARE(wiztest::control<QComboBox>(form(), "cbaccessformat")->currentIndex(), 1);
        QVERIFY(!wiztest::control<QCheckBox>(form(), "chktabledefi")->isChecked());
        QVERIFY(wiztest::control<QCheckBox>(form(), "chkblobtotext")->isChecked());
        QVERIFY(wiztest::control<QCheckBox>(form(), "chkuppercase")->isChecked());
        QCOMPARE(wiztest::control<QLineEdit>(form(), "edtoracleusername")->text(), QString("ou"));
        QCOMPARE(form().accessDialogFolder(), m_home.path() + "/");

        // Leaving without a chosen file keeps the stored folder; the rest is written back.
        QVERIFY(form().close());
        const StoredSettings stored = LoadSettings();
        QCOMPARE(stored.defaultaccessdir, m_home.path() + "/");
        QCOMPARE(stored.processtable, 0);
        QCOMPARE(stored.accessformat, 1);
        QCOMPARE(stored.characterSet, 36);
        QVERIFY(stored.nameuppercase);
    }

    void chosenFileMovesTheStoredFolder()
    {
        QDir(m_home.path()).mkpath("out dir");
        wiztest::control<QLineEdit>(form(), "editaccessname")->setText(m_home.path() + "/out dir/new.mdb");
        QVERIFY(form().close());
        QCOMPARE(LoadSettings().defaultaccessdir, m_home.path() + "/out dir/");
    }

    void typedCharacterSetAsksForNone()
    {
        wiztest::control<QComboBox>(form(), "cbcharset")->setEditText("klingon");
        QCOMPARE(form().characterSetIndex(), -1);
        QCOMPARE(form().conversionSettings().character_set, QString("klingon"));
        QCOMPARE(form().storedFromControls().characterSet, -1);
        wiztest::control<QComboBox>(form(), "cbcharset")->setEditText("utf8");
        QCOMPARE(form().characterSetIndex(), 36);
        wiztest::control<QComboBox>(form(), "cbcharset")->setEditText("UTF8");
        QCOMPARE(form().characterSetIndex(), -1);
    }

    void browseDialog()
    {
        const QString folder = m_home.path() + "/browse";
        QDir().mkpath(folder);
        // OK with a name typed without extension: ".mdb" is added.
        QTimer::singleShot(0, this, [&] {
            QVERIFY(wiztest::control<QFileDialog>(form(), "SaveDialog1")->isVisible());
            wiztest::control<QFileDialog>(form(), "SaveDialog1")->selectFile(folder + "/typed");
            QMetaObject::invokeMethod(wiztest::control<QFileDialog>(form(), "SaveDialog1"), "accept");
        });
        form().optionsPage().browseForAccessFile();
        QCOMPARE(wiztest::control<QLineEdit>(form(), "editaccessname")->text(), folder + "/typed.mdb");

        // An existing file is taken without a question.
        QFile existing(folder + "/there.mdb");
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        QTimer::singleShot(0, this, [&] {
            // Typed into the name field, as a user would.
            auto* name = wiztest::control<QFileDialog>(form(), "SaveDialog1")->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText("there.mdb");
            QMetaObject::invokeMethod(wiztest::control<QFileDialog>(form(), "SaveDialog1"), "accept");
        });
        form().optionsPage().browseForAccessFile();
        QCOMPARE(wiztest::control<QLineEdit>(form(), "editaccessname")->text(), folder + "/there.mdb");

        // Cancel leaves the field as it was; the dialog reopened on the earlier choice.
        QString offered;
        QTimer::singleShot(0, this, [&] {
            offered = wiztest::control<QFileDialog>(form(), "SaveDialog1")->selectedFiles().value(0);
            wiztest::control<QFileDialog>(form(), "SaveDialog1")->reject();
        });
        form().optionsPage().browseForAccessFile();
        QCOMPARE(offered, folder + "/there.mdb");
        QCOMPARE(wiztest::control<QLineEdit>(form(), "editaccessname")->text(), folder + "/there.mdb");
        QCOMPARE(wiztest::control<QFileDialog>(form(), "SaveDialog1")->defaultSuffix(), QString("mdb"));
        QCOMPARE(wiztest::control<QFileDialog>(form(), "SaveDialog1")->nameFilters(), QStringList({"MS Access Databases (.mdb) (*.mdb)"}));
        QVERIFY(wiztest::control<QFileDialog>(form(), "SaveDialog1")->testOption(QFileDialog::DontConfirmOverwrite));
        QVERIFY(m_boxes->shown.isEmpty());
    }

    void chineseCaptions()
    {
        form().setLanguage("cn");
        auto button = [&](const char* name) { return plainCaption(wiztest::control<QPushButton>(form(), name)->text()); };
        QCOMPARE(wiztest::control<QLabel>(form(), "Label1")->text(), QString::fromUtf8("欢迎"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label2")->text(), QString::fromUtf8("连接MYSQL"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label8")->text(), QString());
        QCOMPARE(wiztest::control<QGroupBox>(form(), "accessmode")->title(), QString::fromUtf8("存取模式"));
        QCOMPARE(wiztest::control<QGroupBox>(form(), "authorization")->title(), QString::fromUtf8("登录设置"));
        QCOMPARE(wiztest::control<QGroupBox>(form(), "GroupBox1")->title(), QString::fromUtf8("端口设置"));
        QCOMPARE(wiztest::control<QCheckBox>(form(), "chkblobtotext")->text(), QString::fromUtf8("转换BLOB为TEXT类型"));
        QCOMPARE(button("Button1"), QString::fromUtf8("添加>"));
        QCOMPARE(button("Button2"), QString::fromUtf8("添加全部>"));
        QCOMPARE(button("Button3"), QString::fromUtf8("<去除"));
        QCOMPARE(button("Button4"), QString::fromUtf8("<去除全部"));
        QCOMPARE(button("btbrowse"), QString::fromUtf8("浏览..."));
        QCOMPARE(button("bthelp"), QString::fromUtf8("帮助"));
        QCOMPARE(button("btcreatebat"), QString::fromUtf8("创建快捷方式"));
        QCOMPARE(button("btnext"), QString::fromUtf8("下一步 >"));
        QCOMPARE(button("btcancel"), QString::fromUtf8("关闭"));
        QCOMPARE(wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(1)->text(), QString::fromUtf8("远程(&R)"));
        QCOMPARE(wiztest::control<QLabel>(form(), "nullaccessname")->text(), QString::fromUtf8("请输入Access文件名"));
        // The end of a run that did not all go through, and the TIME option.
        QCOMPARE(wiztest::control<QCheckBox>(form(), "chktimetotext")->text(), QString::fromUtf8("转换TIME为文本"));
        QCOMPARE(wiztest::control<QLabel>(form(), "endfinishedwith")->text(),
                 QString::fromUtf8("转换已结束，但有%1：请查看上面的记录"));
        QCOMPARE(wiztest::control<QLabel>(form(), "endvalueschanged")->text(), QString::fromUtf8("%1 个值被改变"));

        m_boxes->answers = {QMessageBox::No};
        form().confirmClose();
        QCOMPARE(m_boxes->lastText(), QString::fromUtf8("退出向导 ?"));

        // Back to English: every caption English again.
        form().setLanguage("en");
        QCOMPARE(wiztest::control<QLabel>(form(), "Label1")->text(), QString("Welcome"));
        QCOMPARE(button("btcreatebat"), QString("Create Shortcut File"));
        QCOMPARE(button("Button1"), QString("Add >"));
    }

    void englishCaptionsOfThePages()
    {
        QCOMPARE(wiztest::control<QGroupBox>(form(), "GroupBox1")->title(), QString("Port settings"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label17")->text(), QString("(Default Mysql Port is 3306)"));
        QCOMPARE(plainCaption(wiztest::control<QLabel>(form(), "edtport111")->text()), QString("Port number:"));
        QCOMPARE(plainCaption(wiztest::control<QLabel>(form(), "Label15")->text()), QString("Database :"));
        QCOMPARE(wiztest::control<QGroupBox>(form(), "processtable")->title(), QString("How to process existing tables:"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label26")->text(), QString("Select MySQL tables to convert into Access format."));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label29")->text(), QString("Conversion is Completed"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label30")->text(), QString("Wizard has migrated your MySQL database to Access successfully."));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label32")->text(), QString("Click 'Finish' to exit the wizard."));
        QCOMPARE(plainCaption(wiztest::control<QLabel>(form(), "labelaccessname")->text()), QString("MS Access database name:"));
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcreatebat")->text()), QString("Create Shortcut File"));
        QCOMPARE(wiztest::control<QLabel>(form(), "queryclose")->text(), QString("Close this Wizard ?"));
        QVERIFY(wiztest::control<QLabel>(form(), "linkmysqlerror")->text().startsWith("Access denied. Verify"));
        QVERIFY(!wiztest::control<QLabel>(form(), "helpurl")->isVisible());
    }

    void unknownLabelGetsEmptyCaption()
    {
        auto* extra = new QLabel("before", wiztest::control<QWidget>(form(), "TabSheet1"));
        extra->setObjectName("Label99");
        form().setLanguage("en");
        QCOMPARE(extra->text(), QString());
        extra->setText("kept");
        form().setLanguage("fr");
        QCOMPARE(extra->text(), QString("kept"));
        QCOMPARE(wiztest::control<QLabel>(form(), "Label1")->text(), QString("Welcome"));
    }

    void languageTablesAreComplete()
    {
        // The texts of the window and its messages, the end captions, the messages of the connection and job rules.
        QCOMPARE(englishTable().size(), 68);
        QCOMPARE(chineseTable().size(), 68);
        for (int i = 0; i < 68; ++i)
            QCOMPARE(englishTable()[i].first, chineseTable()[i].first);
        QCOMPARE(englishTable().first().first, QString("Label1"));
        QVERIFY(englishTable().contains(qMakePair(QString("nullaccessname"), QString("Please input Access database name"))));
        QCOMPARE(englishTable().last().first, QString("samelauncherpath"));
        // The other texts: the same keys in the same order, none left empty.
        QCOMPARE(englishOtherTexts().size(), chineseOtherTexts().size());
        for (int i = 0; i < englishOtherTexts().size(); ++i) {
            QCOMPARE(englishOtherTexts()[i].first, chineseOtherTexts()[i].first);
            QVERIFY(!englishOtherTexts()[i].second.isEmpty() && !chineseOtherTexts()[i].second.isEmpty());
        }
    }

    void maintenanceExports()
    {
        QTemporaryDir out;
        QVERIFY(form().exportLanguageTables(out.path()));
        QFile en(out.filePath("english.txt")), cn(out.filePath("chn.txt"));
        QVERIFY(en.open(QIODevice::ReadOnly) && cn.open(QIODevice::ReadOnly));
        const QList<QByteArray> enLines = en.readAll().split('\n');
        QCOMPARE(enLines.first(), QByteArray("Label1=Welcome\r"));
        QCOMPARE(enLines.size(), 69);  // 68 lines and the empty text after the last line end
        QVERIFY(cn.readAll().startsWith(QString::fromUtf8("Label1=欢迎\r\n").toUtf8()));

        QVERIFY(form().exportLabelCaptions(out.path()));
        QFile lb(out.filePath("lb.txt"));
        QVERIFY(lb.open(QIODevice::ReadOnly));
        const QString saved = QString::fromUtf8(lb.readAll());
        QVERIFY(saved.contains("Label11=Provide necessary information"));
        QVERIFY(saved.contains("accessmode=Access mode\r\n"));
        QVERIFY(!saved.contains("GroupBox1="));  // group boxes only with loaditems
        lb.close();
        // The captured table replaced the English one.
        QCOMPARE(tableText(form().english(), "processtable"), QString("How to process existing tables:"));

        QVERIFY(form().exportAllCaptions(out.path()));
        QVERIFY(lb.open(QIODevice::ReadOnly));
        const QString loaded = QString::fromUtf8(lb.readAll());
        QVERIFY(loaded.contains("GroupBox1=Port settings\r\n"));
        QVERIFY(loaded.contains("chkskipindex=Skip converting indexes\r\n"));
        QVERIFY(loaded.indexOf("accessmode=") < loaded.indexOf("authorization="));
        QVERIFY(loaded.indexOf("authorization=") < loaded.indexOf("chktabledefi="));
    }

    void progressLogKeepsWholeLines()
    {
        ProgressLog& log = form().progressLog();
        QCOMPARE(log.lastLine(), QString());
        log.appendLine("Create table orders... ");
        log.replaceLastLine("Create table orders...Done");
        log.appendLine(QString());
        const QString longLine = "Insert table " + QString(400, u'x') + " 100 Rows ";
        log.appendLine(longLine);
        log.replaceLastLine("two\nlines");
        QCOMPARE(log.lastLine(), QString("two\nlines"));
        log.replaceLastLine(log.lastLine() + "...Done");
        QCOMPARE(form().logLines(), QStringList({"Create table orders...Done", "", "two\nlines...Done"}));
        // The memo catches up with a rapidly replaced line when the run flushes it.
        dynamic_cast<LogView&>(log).flush();
        QCOMPARE(wiztest::control<QPlainTextEdit>(form(), "sc")->toPlainText(), QString("Create table orders...Done\n\ntwo\nlines...Done"));
        QVERIFY(wiztest::control<QPlainTextEdit>(form(), "sc")->isReadOnly());
        QCOMPARE(wiztest::control<QPlainTextEdit>(form(), "sc")->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        log.appendLine("after");
        QCOMPARE(wiztest::control<QPlainTextEdit>(form(), "sc")->toPlainText(), QString("Create table orders...Done\n\ntwo\nlines...Done\nafter"));
    }

    void wholeConversionToFinish()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        prepareRunDatabase();
        const QString target = m_home.filePath("whole.mdb");
        QFile::remove(target);
        walkToRunTables(target);
        int pointsSeen = 0;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            // Only Stop and Help can be used while the run goes on.
            if (form().runGoingOn()) {
                ++pointsSeen;
                QVERIFY(!wiztest::control<QPushButton>(form(), "btback")->isEnabled());
                QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
                QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Stop"));
                QVERIFY(wiztest::control<QPushButton>(form(), "btcancel")->isEnabled());
                QVERIFY(wiztest::control<QPushButton>(form(), "bthelp")->isEnabled());
                QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet6"));
                QCOMPARE(form().currentStep(), 5);
                QCOMPARE(boldStepLabel(), wiztest::control<QLabel>(form(), "Label5"));
            }
        });
        probe.start(0);
        form().goNext();
        probe.stop();
        QVERIFY(m_boxes->shown.isEmpty());
        QVERIFY(pointsSeen > 0);
        QVERIFY(QFile::exists(target));
        QCOMPARE(form().currentStep(), 6);
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet6"));
        checkButtons(false, "Finish", true, false, false);
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Stop"));

        const QStringList log = form().logLines();
        QVERIFY2(log.contains("Create table big...Done"), qPrintable(log.join('|')));
        QVERIFY(log.contains("Insert table big 5000 Rows ...Done"));
        QVERIFY(log.contains("Insert table small 3 Rows ...Done"));
        QCOMPARE(log.mid(log.size() - 3), QStringList({"Conversion is Completed",
                                                      "Wizard has migrated your MySQL database to Access successfully.",
                                                      "Click 'Finish' to exit the wizard."}));
        QCOMPARE(wiztest::control<QProgressBar>(form(), "pbtable")->maximum(), 3);  // the last table's count
        QCOMPARE(wiztest::control<QProgressBar>(form(), "pbtable")->value(), 3);
        QVERIFY(!wiztest::control<QPlainTextEdit>(form(), "sc")->toPlainText().contains(" / "));  // the bar adds nothing to the log

        // Finish: log and selection emptied, the window closes, the settings are stored.
        form().goNext();
        QVERIFY(!form().isVisible());
        QVERIFY(form().logLines().isEmpty());
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 0);
        QCOMPARE(LoadSettings().mysqldatabase, QString("wiz_run"));
        QCOMPARE(LoadSettings().defaultaccessdir, m_home.path() + "/");
    }

    void stopAnsweredNoKeepsRunning()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        prepareRunDatabase();
        walkToRunTables(m_home.filePath("no-stop.mdb"));
        bool asked = false;
        QTimer::singleShot(0, this, [&] {
            QVERIFY(form().runGoingOn());
            m_boxes->answers = {QMessageBox::No};
            QTest::mouseClick(wiztest::control<QPushButton>(form(), "btcancel"), Qt::LeftButton);
            asked = true;
            QCOMPARE(m_boxes->lastText(), QString("Stop"));
            QCOMPARE(m_boxes->shown.last().title, QString("Info"));
            QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Stop"));
            QVERIFY(!wiztest::control<QPushButton>(form(), "btback")->isEnabled());
        });
        form().goNext();
        QVERIFY(asked);
        QCOMPARE(form().currentStep(), 6);
        QVERIFY(!form().stopRequested());
    }

    void stopConfirmedDuringLongTable()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        prepareRunDatabase();
        walkToRunTables(m_home.filePath("stopped.mdb"));
        QTimer::singleShot(0, this, [&] {
            QVERIFY(form().runGoingOn());
            m_boxes->answers = {QMessageBox::Yes};
            QTest::mouseClick(wiztest::control<QPushButton>(form(), "btcancel"), Qt::LeftButton);
            QVERIFY(form().stopRequested());
            QVERIFY(wiztest::control<QPushButton>(form(), "btback")->isEnabled());
            QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Close"));
        });
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(form().currentStep(), 5);
        QCOMPARE(wiztest::control<QStackedWidget>(form(), "pg")->currentWidget(), wiztest::control<QWidget>(form(), "TabSheet6"));
        QVERIFY(wiztest::control<QPushButton>(form(), "btback")->isEnabled());
        QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Close"));
        QVERIFY(wiztest::control<QPushButton>(form(), "btcancel")->isEnabled());
        const QStringList log = form().logLines();
        QVERIFY2(log.size() >= 4, qPrintable(log.join('|')));
        QCOMPARE(log.mid(log.size() - 5), QStringList({"Operation aborted", "Operation aborted", "Operation aborted", "",
                                                        "Conversion was stopped, with 1 failed table: see the lines above"}));
        QVERIFY(!log.contains("Conversion is Completed"));

        // Close now asks the close question again.
        m_boxes->answers = {QMessageBox::No};
        form().closeOrStop();
        QCOMPARE(m_boxes->lastText(), QString("Close this Wizard ?"));

        // Back: step 4, both lists empty; the log stays for the next run.
        form().goBack();
        QCOMPARE(form().currentStep(), 4);
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->count(), 0);
        QCOMPARE(wiztest::control<QListWidget>(form(), "selecttables")->count(), 0);
        checkButtons(true, "Next >", true, true, true);
        QVERIFY(!form().logLines().isEmpty());
    }

    void stopDuringTheLastTableIsForgottenAfterTheRun()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        prepareRunDatabase();
        walkToRunTables(m_home.filePath("last.mdb"), {"big"});
        QTimer::singleShot(0, this, [&] {
            QVERIFY(form().runGoingOn());
            m_boxes->answers = {QMessageBox::Yes};
            QTest::mouseClick(wiztest::control<QPushButton>(form(), "btcancel"), Qt::LeftButton);
        });
        form().goNext();
        QCOMPARE(form().currentStep(), 5);  // no "Finish" after a Stop
        QVERIFY(!form().stopRequested());   // the run that saw it has ended
        // Back and Next work again.
        form().goBack();
        QCOMPARE(form().currentStep(), 4);
        form().goNext();
        QCOMPARE(form().currentStep(), 5);
        QCOMPARE(m_boxes->shown.size(), 1);  // the Stop question only
    }

    void connectionRules()
    {
        form().goNext();
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText("wiz_shop");
        wiztest::control<QLineEdit>(form(), "edtname")->setText("u");

        // Remote with no host: refused with its message; nothing is tried.
        wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(1)->setChecked(true);
        wiztest::control<QLineEdit>(form(), "edthost")->setText("");
        form().goNext();
        QCOMPARE(form().currentStep(), 2);
        QCOMPARE(m_boxes->lastText(), tableText(englishTable(), "nullhost"));
        QVERIFY(wiztest::control<QLineEdit>(form(), "edthost")->hasFocus());

        // A port where nothing listens: the message says where it tried and why it may have failed.
        const int port = unusedPort();
        wiztest::control<QLineEdit>(form(), "edthost")->setText("127.0.0.1");
        wiztest::control<QLineEdit>(form(), "edtport")->setText(QString::number(port));
        m_boxes->clear();
        form().goNext();
        QCOMPARE(form().currentStep(), 2);
        QVERIFY2(m_boxes->lastText().contains(QString("\nNo MySQL server answered at 127.0.0.1 port %1: ").arg(port)),
                 qPrintable(m_boxes->lastText()));
        QVERIFY(m_boxes->lastText().contains("firewall"));

        // Local with a port other than 3306: TCP to this computer on that port, not the socket.
        WIZ_REQUIRE_MYSQL(m_env);
        if (m_env.host != "127.0.0.1")
            QSKIP("the test server is not on 127.0.0.1");
        fillLogin("wiz_shop");
        wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(0)->setChecked(true);
        const QByteArray socket = qgetenv("MYSQL_UNIX_PORT");
        qputenv("MYSQL_UNIX_PORT", "/nonexistent/ferrowane-no.sock");
        m_boxes->clear();
        form().goNext();
        qputenv("MYSQL_UNIX_PORT", socket);
        QVERIFY2(m_boxes->shown.isEmpty(), qPrintable(m_boxes->lastText()));
        QCOMPARE(form().currentStep(), 4);
        QCOMPARE(form().source().params().host, QString("127.0.0.1"));
    }

    void databaseNameInAnotherCase()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        // The server knows wiz_shop only and compares names exactly: the list decides.
        walkToStep4("Wiz_Shop");
        QCOMPARE(form().optionsPage().chosenDatabase(), QString("wiz_shop"));
        wiztest::control<QLineEdit>(form(), "editaccessname")->setText(m_home.filePath("case.mdb"));
        form().goNext();
        QCOMPARE(form().currentStep(), 5);
        QCOMPARE(wiztest::control<QListWidget>(form(), "availabletables")->count(), int(kTables.size()));
    }

    void cancelWhileConnecting()
    {
        // A server that accepts and never answers.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        QVERIFY(::listen(silent, 4) == 0);
        QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length) == 0);

        form().goNext();
        wiztest::control<QButtonGroup>(form(), "accessmodeItems")->button(1)->setChecked(true);
        wiztest::control<QLineEdit>(form(), "edthost")->setText("127.0.0.1");
        wiztest::control<QLineEdit>(form(), "edtport")->setText(QString::number(ntohs(address.sin_port)));
        wiztest::control<QLineEdit>(form(), "edtdatabase")->setText("wiz_shop");
        bool waited = false;
        QTimer::singleShot(300, this, [&] {
            // The window is alive: a busy cursor, Next and Back held, Close reads "Cancel".
            QVERIFY(form().connecting());
            QVERIFY(QApplication::overrideCursor());
            QVERIFY(!wiztest::control<QPushButton>(form(), "btnext")->isEnabled());
            QVERIFY(!wiztest::control<QPushButton>(form(), "btback")->isEnabled());
            QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Cancel"));
            waited = true;
            QTest::mouseClick(wiztest::control<QPushButton>(form(), "btcancel"), Qt::LeftButton);
        });
        form().goNext();
        ::close(silent);
        QVERIFY(waited);
        QVERIFY(m_boxes->shown.isEmpty());  // cancelled, not timed out, and not the close question
        QCOMPARE(form().currentStep(), 2);
        QVERIFY(!form().connecting());
        QVERIFY(!QApplication::overrideCursor());
        checkButtons(true, "Next >", true, true, true);
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Close"));

        // Usable again: a login to the real server goes through.
        WIZ_REQUIRE_MYSQL(m_env);
        fillLogin("wiz_shop");
        form().goNext();
        QVERIFY(m_boxes->shown.isEmpty());
        QCOMPARE(form().currentStep(), 4);
    }

    void runErrorShownAndButtonsStay()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        prepareRunDatabase();
        // A target in a folder that does not exist cannot be written.
        walkToRunTables(m_home.filePath("no/such/folder/x.mdb"));
        form().goNext();
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY(!m_boxes->lastText().isEmpty());
        QCOMPARE(form().currentStep(), 5);
        QVERIFY(!form().runGoingOn());
        QCOMPARE(plainCaption(wiztest::control<QPushButton>(form(), "btcancel")->text()), QString("Stop"));
        // The way out: Stop, then Back; Next works again after it.
        form().closeOrStop();
        QVERIFY(wiztest::control<QPushButton>(form(), "btback")->isEnabled());
        QVERIFY(!form().stopRequested());  // no run to stop
        form().goBack();
        QCOMPARE(form().currentStep(), 4);
        form().goNext();
        QCOMPARE(form().currentStep(), 5);
    }

    void unattendedCascadeRunsTheJob()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        prepareRunDatabase();
        const QString job = m_home.filePath("nightly.frwjob");
        const QString logFile = m_home.filePath("nightly.log");
        QFile::remove(logFile);
        // Keys without regard to case; names with the server's exact case only.
        const QStringList jobLines = {"accessmode=1", "mysqldatabase=wiz_run", "port=" + m_env.port,
                                      "mysqlu=" + m_env.user, "mysqlp=" + m_env.password, "host=" + m_env.host,
                                      "accessfilename=" + m_home.filePath("nightly.mdb"), "accessformat=0",
                                      "processtable=0", "character_set=Default", "tabledefonly=0", "skipindex=0",
                                      "blobtotext=0", "alltables=0", "tables0=small", "TABLES1=BIG", "tables2=big"};
        {
            QFile jobFile(job);
            QVERIFY(jobFile.open(QIODevice::WriteOnly));
            jobFile.write((jobLines.join("\r\n") + "\r\n").toUtf8());
        }
        m_form = std::make_unique<WizardWindow>(QStringList{job});
        m_form->show();
        QVERIFY(form().unattended());
        QCOMPARE(form().jobPath(), job);
        QVERIFY(form().logLines().value(0).startsWith("Start time:"));
        QVERIFY(wiztest::control<QTimer>(form(), "Timer1")->isActive());
        wiztest::control<QTimer>(form(), "Timer1")->stop();
        QCOMPARE(form().jobValue("Tables1"), QString("BIG"));
        QCOMPARE(form().jobValue("nameuppercase"), QString());

        form().goNext();  // what the timer's tick does
        QVERIFY(m_boxes->shown.isEmpty());
        QVERIFY(!form().isVisible());
        QCOMPARE(items(wiztest::control<QListWidget>(form(), "selecttables")), QStringList({"small", "big"}));

        QFile file(logFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        QStringList lines = QString::fromUtf8(bytes).split("\r\n");
        lines.removeLast();
        QVERIFY(lines.first().startsWith("Start time:"));
        QVERIFY(lines.last().startsWith("The end time:"));
        QCOMPARE(lines.mid(lines.size() - 3, 2), QStringList({"Conversion is Completed",
                                                             "Wizard has migrated your MySQL database to Access successfully."}));
        QVERIFY(lines.indexOf("Insert table small 3 Rows ...Done") < lines.indexOf("Insert table big 5000 Rows ...Done"));
        QCOMPARE(form().logLines().last(), QString("Click 'Finish' to exit the wizard."));
        // "BIG" is not on the server: logged, and the program ends with 1.
        QCOMPARE(lines.filter("Table BIG is not in database wiz_run").size(), 1);
        QCOMPARE(form().exitStatus(), 1);
    }
};

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
