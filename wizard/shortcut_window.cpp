// The shortcut-file window: its layout, what it copies from the wizard, and
// the writing of the job file and its launcher.
#include "wizard/shortcut_window.h"

#include "settings/launcher.h"
#include "wizard/language.h"
#include "wizard/message_box.h"
#include "wizard/controls.h"
#include "wizard/option_pages.h"
#include "wizard/table_page.h"
#include "wizard/wizard_window.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ferrowane {

ShortcutInput shortcutInputFrom(const WizardWindow& window)
{
    const ConversionSettings s = window.conversionSettings();
    ShortcutInput in;
    in.accessmode = std::max(0, s.accessmode);
    in.host = s.host;
    in.database = window.optionsPage().chosenDatabase();
    in.port = s.port;
    in.user = s.mysqlu;
    in.password = s.mysqlp;
    in.charset = s.character_set;
    in.accessformat = std::max(0, s.accessformat);
    in.accessfilename = s.accessfilename;
    in.processtable = std::max(0, s.processtable);
    in.processtableCaption = window.optionsPage().processTableCaption();
    in.tabledefonly = s.tabledefonly;
    in.skipindex = s.skipindex;
    in.blobtotext = s.blobtotext;
    in.timetotext = s.timetotext;
    in.autonumber = s.autonumber;
    in.required = s.required;
    in.defaults = s.defaults;
    in.descriptions = s.descriptions;
    in.relationships = s.relationships;
    in.selectedTables = s.tables;
    return in;
}

ShortcutWindow::ShortcutWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("shortcutWindow"));
    setWindowTitle(QStringLiteral("Shortcut File"));
    setModal(true);
    programPath = QCoreApplication::applicationFilePath();

    auto* layout = new QVBoxLayout(this);

    // The server: host, database and port on the left; user, password and character set on the right.
    auto* server = new QGroupBox(QStringLiteral("Connect Mysql Server"), this);
    server->setObjectName(QStringLiteral("gpmysql"));
    auto* serverGrid = new QGridLayout(server);
    m_host = makeReadOnlyEdit(server, "edtmysqlip");
    m_database = makeReadOnlyEdit(server, "edtmysqldatabase");
    m_port = makeReadOnlyEdit(server, "edtmysqlport");
    m_user = makeReadOnlyEdit(server, "edtmysqlusername");
    m_password = makeReadOnlyEdit(server, "edtmysqlpassword");
    m_password->setEchoMode(QLineEdit::Password);  // not for whoever looks at the screen
    m_characterSet = makeReadOnlyEdit(server, "edtcharset");
    const std::pair<QLineEdit*, const char*> left[] = {
        {m_host, "IP address or network name"}, {m_database, "MySQL database name"}, {m_port, "MySQL Port"}};
    const std::pair<QLineEdit*, const char*> right[] = {
        {m_user, "MySQL user name"}, {m_password, "MySQL user password"}, {m_characterSet, "Character Set"}};
    // Each caption label is named after its key ("bat.host" -> "labelhost").
    const char* const leftKeys[] = {"host", "database", "port"};
    const char* const rightKeys[] = {"user", "password", "charset"};
    for (int row = 0; row < 3; ++row) {
        serverGrid->addWidget(makeLabel(server, qPrintable(QStringLiteral("label") + QLatin1String(leftKeys[row])),
                                        QLatin1String(left[row].second)),
                              row * 2, 0);
        serverGrid->addWidget(left[row].first, row * 2 + 1, 0);
        serverGrid->addWidget(makeLabel(server, qPrintable(QStringLiteral("label") + QLatin1String(rightKeys[row])),
                                        QLatin1String(right[row].second)),
                              row * 2, 1);
        serverGrid->addWidget(right[row].first, row * 2 + 1, 1);
    }
    layout->addWidget(server);

    auto* target = new QGroupBox(QStringLiteral("Access Database"), this);
    target->setObjectName(QStringLiteral("GroupBox3"));
    auto* targetGrid = new QGridLayout(target);
    m_accessFormat = new QComboBox(target);
    m_accessFormat->setObjectName(QStringLiteral("cbaccessformat"));
    m_accessFormat->addItems({QStringLiteral("MS Access 95/97"), QStringLiteral("MS Access 2000")});
    m_accessFileName = makeReadOnlyEdit(target, "editaccessname");
    m_existingTables = makeReadOnlyEdit(target, "edtoracleexits");
    targetGrid->addWidget(makeLabel(target, "labelaccessformat", QStringLiteral("Access format:")), 0, 0);
    targetGrid->addWidget(m_accessFormat, 0, 1);
    targetGrid->addWidget(makeLabel(target, "labelaccessname", QStringLiteral("MS Access database name:")), 1, 0);
    targetGrid->addWidget(m_accessFileName, 1, 1);
    targetGrid->addWidget(makeLabel(target, "labelexisting", QStringLiteral("Process existing tables")), 2, 0);
    targetGrid->addWidget(m_existingTables, 2, 1);
    layout->addWidget(target);

    auto* switches = new QGroupBox(QStringLiteral("Conversion Settings."), this);
    switches->setObjectName(QStringLiteral("GroupBox2"));
    auto* switchList = new QVBoxLayout(switches);
    m_definitionsOnly = makeCheck(switches, "chktabledefi", QStringLiteral("Convert table definitions only"));
    m_skipIndexes = makeCheck(switches, "chkskipindex", QStringLiteral("Skip converting indexes"));
    m_blobToText = makeCheck(switches, "chkblobtotext", QStringLiteral("Convert BLOB to text"));
    for (QCheckBox* box : {m_definitionsOnly, m_skipIndexes, m_blobToText})
        switchList->addWidget(box);
    layout->addWidget(switches);

    auto* choice = new QGroupBox(QStringLiteral("Select MySQL tables"), this);
    choice->setObjectName(QStringLiteral("rgselecttable"));
    auto* choiceGrid = new QGridLayout(choice);
    m_tableChoice = new QButtonGroup(choice);
    m_tableChoice->setObjectName(QStringLiteral("rgselecttableItems"));
    auto* selected = new QRadioButton(QStringLiteral("Selected tables"), choice);
    selected->setObjectName(QStringLiteral("selected"));
    auto* all = new QRadioButton(QStringLiteral("All database tables"), choice);
    all->setObjectName(QStringLiteral("all"));
    m_tableChoice->addButton(selected, 0);
    m_tableChoice->addButton(all, 1);
    all->setChecked(true);
    m_tables = new QListWidget(choice);
    m_tables->setObjectName(QStringLiteral("mysqltableselect"));
    m_reselect = new QPushButton(QStringLiteral("Reselect tables"), choice);
    m_reselect->setObjectName(QStringLiteral("bttableselect"));
    choiceGrid->addWidget(selected, 0, 0);
    choiceGrid->addWidget(all, 1, 0);
    choiceGrid->addWidget(m_tables, 0, 1, 3, 1);
    choiceGrid->addWidget(m_reselect, 2, 0);
    layout->addWidget(choice);

    auto* create = new QPushButton(QStringLiteral("Create Shortcut File"), this);
    create->setObjectName(QStringLiteral("Button1"));
    layout->addWidget(create, 0, Qt::AlignRight);

    m_jobText = new QPlainTextEdit(this);
    m_jobText->setObjectName(QStringLiteral("Memo1"));
    m_jobText->hide();

    m_saveDialog = new QFileDialog(this);
    m_saveDialog->setObjectName(QStringLiteral("SaveDialog1"));
    m_saveDialog->setAcceptMode(QFileDialog::AcceptSave);
#ifdef _WIN32
    m_saveDialog->setDefaultSuffix(QStringLiteral("lnk"));
    m_saveDialog->setNameFilter(QStringLiteral("lnk (*.lnk)"));
#else
    m_saveDialog->setDefaultSuffix(QStringLiteral("sh"));
    m_saveDialog->setNameFilter(QStringLiteral("sh (*.sh)"));
#endif

    connect(m_tableChoice, &QButtonGroup::idClicked, this, [this] { followTableChoice(); });
    connect(m_reselect, &QPushButton::clicked, this, &ShortcutWindow::closeToReselectTables);
    connect(create, &QPushButton::clicked, this, &ShortcutWindow::saveJobAndShortcut);
    followTableChoice();
}

void ShortcutWindow::fill(const ShortcutInput& in)
{
    m_accessmode = in.accessmode;
    m_hostText = in.host;
    m_processtable = in.processtable;
    m_schema = in;
    m_host->setText(in.accessmode == 1 ? in.host : QStringLiteral("localhost"));
    m_database->setText(in.database);
    m_port->setText(in.port);
    m_user->setText(in.user);
    m_password->setText(in.password);
    m_characterSet->setText(in.charset);
    m_accessFormat->setCurrentIndex(std::clamp(in.accessformat, 0, 1));
    m_accessFileName->setText(in.accessfilename);
    m_existingTables->setText(in.processtableCaption);
    m_definitionsOnly->setChecked(in.tabledefonly);
    m_skipIndexes->setChecked(in.skipindex);
    m_blobToText->setChecked(in.blobtotext);
    m_timeToText = in.timetotext;
    m_tables->clear();
    m_tables->addItems(in.selectedTables);
    followTableChoice();
}

void ShortcutWindow::applyTexts(const std::function<QString(const QString& key)>& text)
{
    m_text = text;
    auto bat = [&](const char* key) { return text(QStringLiteral("bat.") + QLatin1String(key)); };
    setWindowTitle(bat("title"));
    // Its own controls, not those of the save dialog it owns.
    for (QLabel* label : findChildren<QLabel*>()) {
        const QString name = label->objectName();
        if (label->window() == this && name.startsWith(QLatin1String("label")))
            label->setText(bat(qPrintable(name.mid(5))));
    }
    for (QGroupBox* box : findChildren<QGroupBox*>())
        if (box->window() == this)
            box->setTitle(bat(qPrintable(box->objectName())));
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        const QString caption = bat(qPrintable(button->objectName()));
        if (button->window() == this && !button->objectName().isEmpty() && !caption.isEmpty())
            button->setText(caption);
    }
}

void ShortcutWindow::followTableChoice()
{
    m_tables->setVisible(m_tableChoice->checkedId() != 1);
    m_reselect->setVisible(!m_tables->isHidden());
}

QString ShortcutWindow::batText(const QString& key, const QString& english) const
{
    return m_text ? m_text(QStringLiteral("bat.") + key) : english;
}

void ShortcutWindow::message(const QString& text)
{
    if (showMessageText)
        showMessageText(text);
    else
        showInfo(this, text, windowTitle());
}

void ShortcutWindow::closeToReselectTables()
{
    message(batText(QStringLiteral("reselect"),
                    QStringLiteral("This form will be closed.\rAfter you finish your choice,please click the button "
                                   "\"Create Shortcut File\" to return to this form.")));
    reject();
}

JobContent ShortcutWindow::jobContent() const
{
    JobContent job;
    job.accessmode = m_accessmode;
    job.mysqldatabase = m_database->text();
    job.port = m_port->text();
    job.mysqlu = m_user->text();
    job.mysqlp = m_password->text();
    job.host = m_hostText;
    job.accessfilename = m_accessFileName->text();
    job.accessformat = m_accessFormat->currentIndex();
    job.processtable = m_processtable;
    job.character_set = m_characterSet->text();
    job.tabledefonly = m_definitionsOnly->isChecked();
    job.skipindex = m_skipIndexes->isChecked();
    job.blobtotext = m_blobToText->isChecked();
    job.timetotext = m_timeToText;
    job.autonumber = m_schema.autonumber;
    job.required = m_schema.required;
    job.defaults = m_schema.defaults;
    job.descriptions = m_schema.descriptions;
    job.relationships = m_schema.relationships;
    job.alltables = m_tableChoice->checkedId() == 0 ? 0 : 1;
    for (int i = 0; i < m_tables->count(); ++i)
        job.tables.append(m_tables->item(i)->text());
    return job;
}

void ShortcutWindow::saveJobAndShortcut()
{
    QString shortcut;
    if (chooseShortcutPath) {
        shortcut = chooseShortcutPath();
    } else if (m_saveDialog->exec() == QDialog::Accepted && !m_saveDialog->selectedFiles().isEmpty()) {
        shortcut = m_saveDialog->selectedFiles().first();
    }
    if (shortcut.isEmpty())
        return;
    // Named like its job or its log, the launcher and the job would overwrite each other.
    if (const QString clash = launcherPathClash(shortcut); !clash.isEmpty()) {
        const auto* wizard = qobject_cast<const WizardWindow*>(parentWidget());
        const bool chinese = wizard && wizard->language() == QLatin1String("cn");
        message(tableText(chinese ? chineseTable() : englishTable(), QStringLiteral("samelauncherpath")).arg(clash));
        return;
    }

    const JobContent job = jobContent();
    m_jobText->setPlainText(jobLines(job).join(u'\n'));
    const QString jobPath = replaceExtension(shortcut, QStringLiteral(".frwjob"));
    const QString logPath = replaceExtension(shortcut, QStringLiteral(".log"));
    QString error = writeJobFile(jobPath, job);
    if (error.isEmpty())
        error = writeLauncher(programPath, jobPath, shortcut);
    if (!error.isEmpty()) {
        message(error);
        return;
    }
    message(batText(QStringLiteral("success"),
                    QStringLiteral("Success to create \"%1\".\rCreate setting file \"%2\" OK.\rIt will build a log "
                                   "file \"%3\" after running with this Shortcut File."))
                .arg(shortcut, jobPath, logPath));
    accept();
}

}  // namespace ferrowane
