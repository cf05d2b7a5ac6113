// Lays every page out at the window's first size and enlarged, in both
// languages, and checks that nothing is cut off or overlaps; with
// FERROWANE_SCREENSHOT_DIR set it also saves a picture of each there (run
// under Xvfb for pictures as a user sees them).
#include "wizard/table_page.h"
#include "wizard/wizard_window.h"
#include "wizard_test_support.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include <utility>

using namespace ferrowane;

class TestWizardScreens : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    wiztest::MySqlEnv m_env = wiztest::MySqlEnv::fromEnvironment();
    std::unique_ptr<wiztest::MessageBoxes> m_boxes;
    QString m_shots = qEnvironmentVariable("FERROWANE_SCREENSHOT_DIR");

    // At the first size and enlarged ("-big"), then back.
    void shoot(WizardWindow& form, const QString& name)
    {
        for (const auto& [size, suffix] : {std::pair{QSize(594, 425), QString()}, std::pair{QSize(780, 560), QString("-big")}}) {
            form.resize(size);
            QTRY_COMPARE(form.size(), size);
            QApplication::processEvents();
            checkTidy(form);
            if (m_shots.isEmpty())
                continue;
            QDir().mkpath(m_shots);
            // Full colour (a palette bands the side panel's gradient), packed hardest.
            QVERIFY(form.grab().save(QDir(m_shots).filePath(name + suffix + ".png"), "PNG", 0));
        }
        form.resize(594, 425);
    }

    // Every visible control of the page on screen lies inside the page, gets at
    // least the room its text needs, and does not overlap its visible siblings.
    void checkTidy(WizardWindow& form)
    {
        QWidget* page = wiztest::control<QStackedWidget>(form, "pg")->currentWidget();
        const QRect pageRect = page->rect();
        const QList<QWidget*> all = page->findChildren<QWidget*>();
        for (QWidget* w : all) {
            if (!w->isVisibleTo(page) || w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
                continue;
            const QRect r(w->mapTo(page, QPoint(0, 0)), w->size());
            QVERIFY2(pageRect.contains(r), qPrintable(w->objectName() + " leaves its page"));
            if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap()) {
                const int need = label->fontMetrics().horizontalAdvance(QString(label->text()).remove(u'&'));
                QVERIFY2(label->width() >= need, qPrintable(w->objectName() + " is cut off"));
            }
            if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                QVERIFY2(button->width() >= button->minimumSizeHint().width(),
                         qPrintable(w->objectName() + " is cut off"));
            }
            if (auto* box = qobject_cast<QGroupBox*>(w)) {
                const int need = box->fontMetrics().horizontalAdvance(box->title()) + 16;
                QVERIFY2(box->width() >= need, qPrintable(w->objectName() + " title is cut off"));
            }
            for (QWidget* other : all) {
                if (other == w || other->parentWidget() != w->parentWidget() || !other->isVisibleTo(page)
                    || other->objectName().isEmpty() || other->objectName().startsWith("qt_"))
                    continue;
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(w->objectName() + " overlaps " + other->objectName()));
            }
        }
        // The button bar: every button wide enough for its caption.
        for (QPushButton* b : {wiztest::control<QPushButton>(form, "btback"), wiztest::control<QPushButton>(form, "btnext"), wiztest::control<QPushButton>(form, "btcancel"), wiztest::control<QPushButton>(form, "bthelp")})
            QVERIFY2(b->width() >= b->minimumSizeHint().width(), qPrintable(b->objectName()));
        // The step labels fit the side panel.
        for (QLabel* l : {wiztest::control<QLabel>(form, "Label1"), wiztest::control<QLabel>(form, "Label2"), wiztest::control<QLabel>(form, "Label4"), wiztest::control<QLabel>(form, "Label5"), wiztest::control<QLabel>(form, "Label6")})
            QVERIFY2(l->heightForWidth(l->width()) <= 48, qPrintable(l->objectName()));
    }

    void fillLogin(WizardWindow& form, const QString& database)
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
        m_boxes = std::make_unique<wiztest::MessageBoxes>();
        if (m_env.valid()) {
            QVERIFY(m_env.run("drop database if exists wiz_screens; create database wiz_screens; use wiz_screens;\n"
                              "create table customers (id int primary key, name varchar(40));\n"
                              "insert into customers values (1, 'Ada'), (2, 'Grace');\n"
                              "create table orders (id int primary key, customer int, total decimal(10,2));\n"
                              "insert into orders values (1, 1, 12.50), (2, 2, 7.25), (3, 1, 99.00);\n"
                              "create table products (id int primary key, title varchar(80));\n"
                              "create table order_lines (id int primary key, product int);\n"
                              "create table suppliers (id int primary key);\n"));
        }
    }

    void cleanupTestCase()
    {
        if (m_env.valid())
            m_env.run("drop database if exists wiz_screens;");
    }

    void everyStep()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        WizardWindow form;
        form.setLanguage("en");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        shoot(form, "step1-welcome");
        form.goNext();
        fillLogin(form, "wiz_screens");
        shoot(form, "step2-connection");
        form.goNext();
        QCOMPARE(form.currentStep(), 4);
        wiztest::control<QLineEdit>(form, "editaccessname")->setText(m_home.filePath("shop.mdb"));
        wiztest::control<QButtonGroup>(form, "processtableItems")->button(1)->setChecked(true);
        shoot(form, "step4-settings");
        form.goNext();
        QCOMPARE(form.currentStep(), 5);
        wiztest::control<QListWidget>(form, "availabletables")->item(0)->setSelected(true);
        wiztest::control<QListWidget>(form, "availabletables")->item(2)->setSelected(true);
        form.tablePage().addSelected();
        wiztest::control<QListWidget>(form, "availabletables")->item(0)->setSelected(true);
        shoot(form, "step5-tables");
        form.goNext();
        QCOMPARE(form.currentStep(), 6);
        QVERIFY(m_boxes->shown.isEmpty());
        shoot(form, "step6-log");

    }

    void chineseSteps()
    {
        WIZ_REQUIRE_MYSQL(m_env);
        WizardWindow form;
        form.setLanguage("cn");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        shoot(form, "step1-welcome-zh");
        form.goNext();
        fillLogin(form, "wiz_screens");
        shoot(form, "step2-connection-zh");
        form.goNext();
        QCOMPARE(form.currentStep(), 4);
        wiztest::control<QLineEdit>(form, "editaccessname")->setText(m_home.filePath("shop-zh.mdb"));
        shoot(form, "step4-settings-zh");
        form.goNext();
        QCOMPARE(form.currentStep(), 5);
        wiztest::control<QListWidget>(form, "availabletables")->item(1)->setSelected(true);
        wiztest::control<QListWidget>(form, "availabletables")->item(3)->setSelected(true);
        form.tablePage().addSelected();
        shoot(form, "step5-tables-zh");
        form.goNext();
        QCOMPARE(form.currentStep(), 6);
        shoot(form, "step6-log-zh");
    }
};

QTEST_MAIN(TestWizardScreens)
#include "tst_wizard_screens.moc"
