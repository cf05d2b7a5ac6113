// The connection page, the never-shown second-server page and the options
// page of the wizard: their layout and the way their controls hold the
// options of a job.
#include "wizard/option_pages.h"

#include "engine/conversion_job.h"
#include "wizard/controls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace ferrowane {

// ---------------------------------------------------------------- connection (step 2)

ConnectionPage::ConnectionPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet2"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->setSpacing(5);

    QLabel* heading = makeLabel(this, "Label11");
    heading->setWordWrap(true);
    layout->addWidget(heading);

    m_accessMode = makeRadioGroup(this, "accessmode", {QStringLiteral("&Local"), QStringLiteral("&Remote")},
                                  Qt::Horizontal, m_accessModeItems);
    layout->addWidget(m_accessMode);
    connect(m_accessModeItems, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            followAccessMode();
    });

    auto* authorization = new QGroupBox(this);
    authorization->setObjectName(QStringLiteral("authorization"));
    auto* auth = new QGridLayout(authorization);
    auth->setContentsMargins(8, 4, 8, 6);
    auth->setVerticalSpacing(4);
    // Created in the order the language exports list them.
    const std::pair<const char*, const char*> rows[] = {
        {"Label15", "edtdatabase"}, {"Label12", "edtname"}, {"Label13", "edtpassword"}};
    QLineEdit* edits[3] = {};
    for (int row = 0; row < 3; ++row) {
        QLabel* label = makeLabel(authorization, rows[row].first);
        auth->addWidget(label, row, 0);
        edits[row] = makeEdit(authorization, rows[row].second);
        label->setBuddy(edits[row]);  // its mnemonic focuses the field
        auth->addWidget(edits[row], row, 1);
    }
    m_database = edits[0];
    m_user = edits[1];
    m_password = edits[2];
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
    m_rememberPassword = makeCheck(authorization, "chkrememberpassword");
    m_rememberPassword->setChecked(true);
    auth->addWidget(m_rememberPassword, 3, 1);
    auth->setColumnStretch(1, 1);
    layout->addWidget(authorization);

    auto* remoteBox = new QGroupBox(this);
    remoteBox->setObjectName(QStringLiteral("GroupBox2"));
    auto* remote = new QGridLayout(remoteBox);
    remote->setContentsMargins(8, 4, 8, 6);
    remote->setVerticalSpacing(2);
    QLabel* hostLabel = makeLabel(remoteBox, "Label14");
    remote->addWidget(hostLabel, 0, 0);
    m_host = makeEdit(remoteBox, "edthost");
    hostLabel->setBuddy(m_host);
    remote->addWidget(m_host, 0, 1);
    remote->addWidget(makeLabel(remoteBox, "Label16"), 1, 1);
    remote->setColumnStretch(1, 1);
    layout->addWidget(remoteBox);

    auto* portBox = new QGroupBox(this);
    portBox->setObjectName(QStringLiteral("GroupBox1"));
    auto* port = new QHBoxLayout(portBox);
    port->setContentsMargins(8, 4, 8, 6);
    QLabel* portLabel = makeLabel(portBox, "edtport111");
    port->addWidget(portLabel);
    m_port = makeEdit(portBox, "edtport");
    portLabel->setBuddy(m_port);
    m_port->setText(QStringLiteral("3306"));
    m_port->setFixedWidth(70);
    port->addWidget(m_port);
    port->addSpacing(6);
    port->addWidget(makeLabel(portBox, "Label17"));
    port->addStretch();
    layout->addWidget(portBox);

    auto* charset = new QHBoxLayout;
    QLabel* charsetLabel = makeLabel(this, "Label33");
    m_characterSet = new QComboBox(this);
    m_characterSet->setObjectName(QStringLiteral("cbcharset"));
    m_characterSet->setEditable(true);
    m_characterSet->setInsertPolicy(QComboBox::NoInsert);
    m_characterSet->setCompleter(nullptr);  // typed text stays as typed
    m_characterSet->setMaxVisibleItems(6);
    m_characterSet->addItems(characterSetNames());
    m_characterSet->setCurrentIndex(0);
    m_characterSet->setMinimumWidth(140);
    charsetLabel->setBuddy(m_characterSet);
    charset->addWidget(charsetLabel);
    charset->addWidget(m_characterSet);
    charset->addStretch();
    layout->addLayout(charset);
    layout->addStretch();

    // Keyboard order: the groups top to bottom, within them as laid out.
    setTabOrder(m_accessModeItems->button(0), m_accessModeItems->button(1));
    setTabOrder(m_accessModeItems->button(1), m_database);
    setTabOrder(m_database, m_user);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_rememberPassword);
    setTabOrder(m_rememberPassword, m_host);
    setTabOrder(m_host, m_port);
    setTabOrder(m_port, m_characterSet);

    followAccessMode();
}

void ConnectionPage::followAccessMode()
{
    const bool remote = m_accessModeItems->checkedId() == 1;
    m_host->setEnabled(remote);
    QPalette p = m_host->palette();
    const QPalette normal = m_port->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::Base,
                   remote ? normal.color(QPalette::Active, QPalette::Base) : normal.color(QPalette::Active, QPalette::Button));
    m_host->setPalette(p);
}

void ConnectionPage::readInto(ConversionSettings& s) const
{
    s.accessmode = m_accessModeItems->checkedId();
    s.mysqldatabase = m_database->text();
    s.port = m_port->text();
    s.mysqlu = m_user->text();
    s.mysqlp = m_password->text();
    s.host = m_host->text();
    s.character_set = m_characterSet->currentText();
}

void ConnectionPage::showStored(const StoredSettings& s)
{
    checkPosition(m_accessModeItems, s.accessmode, true);
    followAccessMode();
    m_database->setText(s.mysqldatabase);
    m_user->setText(s.mysqlu);
    m_password->setText(s.mysqlp);
    m_host->setText(s.host);
    m_port->setText(s.port.isEmpty() ? QStringLiteral("3306") : s.port);
    if (s.characterSet == -1) {
        m_characterSet->setCurrentIndex(-1);
        m_characterSet->setEditText(s.characterSetName);
    } else {
        const int last = int(characterSetNames().size()) - 1;
        m_characterSet->setCurrentIndex(std::clamp(s.characterSet, 0, last));
    }
}

QString ConnectionPage::typedDatabase() const
{
    return m_database->text();
}

void ConnectionPage::focusDatabase()
{
    m_database->setFocus();
}

int ConnectionPage::characterSetIndex() const
{
    // Typed text counts only when it is one of the entries.
    return m_characterSet->findText(m_characterSet->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void ConnectionPage::setAccessMode(int position)
{
    checkPosition(m_accessModeItems, position, false);
    followAccessMode();
}

void ConnectionPage::setDatabase(const QString& name) { m_database->setText(name); }
void ConnectionPage::setUser(const QString& user) { m_user->setText(user); }
void ConnectionPage::setPassword(const QString& password) { m_password->setText(password); }
bool ConnectionPage::rememberPassword() const { return m_rememberPassword->isChecked(); }
void ConnectionPage::setRememberPassword(bool on) { m_rememberPassword->setChecked(on); }
void ConnectionPage::setHost(const QString& host) { m_host->setText(host); }
void ConnectionPage::setPort(const QString& port) { m_port->setText(port); }

void ConnectionPage::setCharacterSet(const QString& name)
{
    const int at = m_characterSet->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_characterSet->setCurrentIndex(at);
    if (at < 0)
        m_characterSet->setEditText(name);
}

// ---------------------------------------------------------------- second server (never shown)

SecondServerPage::SecondServerPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet3"));
    auto* layout = new QVBoxLayout(this);
    m_service = makeEdit(this, "edtservice");
    m_user = makeEdit(this, "edtoracleusername");
    m_password = makeEdit(this, "edtoraclepassword");
    m_password->setEchoMode(QLineEdit::Password);
    m_upperCase = makeCheck(this, "chkuppercase");
    for (QWidget* w : std::initializer_list<QWidget*>{m_service, m_user, m_password, m_upperCase})
        layout->addWidget(w);
}

void SecondServerPage::readInto(StoredSettings& stored) const
{
    stored.oracleh = m_service->text();
    stored.oracleu = m_user->text();
    stored.oraclep = m_password->text();
    stored.nameuppercase = m_upperCase->isChecked();
}

void SecondServerPage::showStored(const StoredSettings& stored)
{
    setServer(stored.oracleh, stored.oracleu, stored.oraclep);
    m_upperCase->setChecked(stored.nameuppercase);
}

bool SecondServerPage::namesUpperCase() const
{
    return m_upperCase->isChecked();
}

void SecondServerPage::setNamesUpperCase(bool on)
{
    m_upperCase->setChecked(on);
}

void SecondServerPage::setServer(const QString& service, const QString& user, const QString& password)
{
    m_service->setText(service);
    m_user->setText(user);
    m_password->setText(password);
}

// ---------------------------------------------------------------- options (step 4)

OptionsPage::OptionsPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet4"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->setSpacing(6);

    QLabel* heading = makeLabel(this, "Label24");
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(10);
    auto* left = new QVBoxLayout;
    left->setSpacing(3);
    QLabel* databasesLabel = makeLabel(this, "Label25");
    m_databases = new QListWidget(this);
    m_databases->setObjectName(QStringLiteral("mysqldblist"));
    m_databases->setSelectionMode(QAbstractItemView::SingleSelection);
    databasesLabel->setBuddy(m_databases);
    left->addWidget(databasesLabel);
    left->addWidget(m_databases, 1);
    middle->addLayout(left, 1);

    auto* options = new QVBoxLayout;
    options->setSpacing(3);
    m_processTable = makeRadioGroup(this, "processtable",
                                    {QStringLiteral("Overwrite"), QStringLiteral("Merge"), QStringLiteral("Skip")},
                                    Qt::Vertical, m_processTableItems);
    options->addWidget(m_processTable);
    options->addStretch();
    middle->addLayout(options, 1);
    layout->addLayout(middle, 1);

    // The switches in two columns under the list: the conversion's own on
    // the left, the schema beyond types, keys and rows (on for new jobs) on
    // the right.
    m_definitionsOnly = makeCheck(this, "chktabledefi");
    m_skipIndexes = makeCheck(this, "chkskipindex");
    m_blobToText = makeCheck(this, "chkblobtotext");
    m_timeToText = makeCheck(this, "chktimetotext");
    m_autonumber = makeCheck(this, "chkautonumber");
    m_required = makeCheck(this, "chkrequired");
    m_defaults = makeCheck(this, "chkdefaults");
    m_descriptions = makeCheck(this, "chkdescriptions");
    m_relationships = makeCheck(this, "chkrelationships");
    auto* switches = new QGridLayout;
    switches->setVerticalSpacing(2);
    switches->setHorizontalSpacing(10);
    int row = 0;
    for (QCheckBox* box : {m_definitionsOnly, m_skipIndexes, m_blobToText, m_timeToText})
        switches->addWidget(box, row++, 0);
    row = 0;
    for (QCheckBox* box : {m_autonumber, m_required, m_defaults, m_descriptions, m_relationships}) {
        box->setChecked(true);
        switches->addWidget(box, row++, 1);
    }
    switches->setColumnStretch(1, 1);
    layout->addLayout(switches);

    auto* target = new QGridLayout;
    target->setVerticalSpacing(4);
    QLabel* formatLabel = makeLabel(this, "labelaccessformat");
    m_accessFormat = new QComboBox(this);
    m_accessFormat->setObjectName(QStringLiteral("cbaccessformat"));
    m_accessFormat->addItems({QStringLiteral("MS Access 95/97"), QStringLiteral("MS Access 2000")});
    QLabel* nameLabel = makeLabel(this, "labelaccessname");
    formatLabel->setBuddy(m_accessFormat);
    // Typed or pasted, or chosen with the dialog.
    m_accessFileName = makeEdit(this, "editaccessname");
    nameLabel->setBuddy(m_accessFileName);
    m_browse = makeButton(this, "btbrowse", QStringLiteral("Browse..."));
    target->addWidget(formatLabel, 0, 0, 1, 2);
    target->addWidget(m_accessFormat, 1, 0);
    target->addWidget(nameLabel, 2, 0, 1, 2);
    target->addWidget(m_accessFileName, 3, 0);
    target->addWidget(m_browse, 3, 1);
    target->setColumnStretch(0, 1);
    layout->addLayout(target);
    connect(m_browse, &QPushButton::clicked, this, &OptionsPage::browseForAccessFile);

    m_saveDialog = new QFileDialog(this);
    m_saveDialog->setObjectName(QStringLiteral("SaveDialog1"));
    m_saveDialog->setAcceptMode(QFileDialog::AcceptSave);
    m_saveDialog->setFileMode(QFileDialog::AnyFile);
    // An existing file is a valid target: its tables are governed by processtable.
    m_saveDialog->setOption(QFileDialog::DontConfirmOverwrite);
    m_saveDialog->setOption(QFileDialog::HideNameFilterDetails);
    m_saveDialog->setDefaultSuffix(QStringLiteral("mdb"));
    setDialogTexts(QString(), QStringLiteral("MS Access Databases (.mdb)"));
}

void OptionsPage::setDialogTexts(const QString& title, const QString& filterName)
{
    m_saveDialog->setWindowTitle(title);
    m_saveDialog->setNameFilter(filterName + QStringLiteral(" (*.mdb)"));
}

void OptionsPage::readInto(ConversionSettings& s) const
{
    s.accessfilename = m_accessFileName->text();
    s.accessformat = m_accessFormat->currentIndex();
    s.processtable = m_processTableItems->checkedId();
    s.tabledefonly = m_definitionsOnly->isChecked();
    s.skipindex = m_skipIndexes->isChecked();
    s.blobtotext = m_blobToText->isChecked();
    s.timetotext = m_timeToText->isChecked();
    s.autonumber = m_autonumber->isChecked();
    s.required = m_required->isChecked();
    s.defaults = m_defaults->isChecked();
    s.descriptions = m_descriptions->isChecked();
    s.relationships = m_relationships->isChecked();
}

QString OptionsPage::storedFolder() const
{
    return m_defaultAccessDir;
}

void OptionsPage::showStored(const StoredSettings& s)
{
    checkPosition(m_processTableItems, s.processtable, true);
    setSwitches(s.tabledefonly, s.skipindex, s.blobtotext);
    setTimeAsText(s.timetotext);
    setSchemaOptions(s.autonumber, s.required, s.defaults, s.descriptions, s.relationships);
    setAccessFormat(s.accessformat);
    m_defaultAccessDir = s.defaultaccessdir;
    m_saveDialog->setDirectory(accessDialogFolder());
}

void OptionsPage::showDatabases(const QStringList& names, int selectedIndex)
{
    m_databases->clear();
    m_databases->addItems(names);
    m_databases->setCurrentRow(selectedIndex >= 0 ? selectedIndex : -1);
}

QString OptionsPage::chosenDatabase() const
{
    const QList<QListWidgetItem*> chosen = m_databases->selectedItems();
    return chosen.isEmpty() ? QString() : chosen.first()->text();
}

bool OptionsPage::databaseChosen() const
{
    return !m_databases->selectedItems().isEmpty();
}

void OptionsPage::focusDatabases()
{
    m_databases->setFocus();
}

QString OptionsPage::accessFileName() const
{
    return m_accessFileName->text();
}

void OptionsPage::focusBrowse()
{
    m_browse->setFocus();
}

void OptionsPage::browseForAccessFile()
{
    const QString current = trimBlanks(m_accessFileName->text());
    if (current.isEmpty()) {
        // The last folder used (or the documents folder), and "<database>.mdb" proposed.
        const QDir folder(accessDialogFolder());
        m_saveDialog->setDirectory(folder);
        const QString database = chosenDatabase().replace(u'/', u'_').replace(u'\\', u'_');
        m_saveDialog->selectFile(database.isEmpty() ? QString() : folder.filePath(database + QStringLiteral(".mdb")));
    } else {
        m_saveDialog->setDirectory(QFileInfo(current).absolutePath());
        m_saveDialog->selectFile(current);
    }
    if (m_saveDialog->exec() != QDialog::Accepted)
        return;
    const QStringList files = m_saveDialog->selectedFiles();
    if (files.isEmpty())
        return;
    m_accessFileName->setText(QDir::toNativeSeparators(files.first()));
    m_defaultAccessDir = folderOfPath(files.first());
}

QString OptionsPage::accessDialogFolder() const
{
    if (!m_defaultAccessDir.isEmpty())
        return m_defaultAccessDir;
    // Not the hidden data folder: where a person keeps documents.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

QString OptionsPage::processTableCaption() const
{
    QAbstractButton* chosen = m_processTableItems->checkedButton();
    return chosen ? plainCaption(chosen->text()) : QString();
}

void OptionsPage::setAccessFormat(int position)
{
    m_accessFormat->setCurrentIndex(std::clamp(position, 0, m_accessFormat->count() - 1));
}

void OptionsPage::setAccessFileName(const QString& path)
{
    m_saveDialog->selectFile(path);
    m_accessFileName->setText(path);
}

void OptionsPage::setProcessTable(int position)
{
    checkPosition(m_processTableItems, position, false);
}

void OptionsPage::setSwitches(bool tabledefonly, bool skipindex, bool blobtotext)
{
    m_definitionsOnly->setChecked(tabledefonly);
    m_skipIndexes->setChecked(skipindex);
    m_blobToText->setChecked(blobtotext);
}

void OptionsPage::setTimeAsText(bool on)
{
    m_timeToText->setChecked(on);
}

void OptionsPage::setSchemaOptions(bool autonumber, bool required, bool defaults, bool descriptions, bool relationships)
{
    m_autonumber->setChecked(autonumber);
    m_required->setChecked(required);
    m_defaults->setChecked(defaults);
    m_descriptions->setChecked(descriptions);
    m_relationships->setChecked(relationships);
}

}  // namespace ferrowane
