#include "settings/umarfrm_bat.h"

#include "settings/launcher.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ferrowane {

namespace {

QLineEdit* readOnlyEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setReadOnly(true);
    return edit;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

}  // namespace

Tmarfrm_bat::Tmarfrm_bat(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("marfrm_bat"));
    setWindowTitle(QStringLiteral("marfrm_bat"));
    setModal(true);
    programPath = QCoreApplication::applicationFilePath();

    auto* layout = new QVBoxLayout(this);

    // The server: host, database and port on the left; user, password and character set on the right.
    gpmysql = new QGroupBox(QStringLiteral("Connect Mysql Server"), this);
    gpmysql->setObjectName(QStringLiteral("gpmysql"));
    auto* server = new QGridLayout(gpmysql);
    edtmysqlip = readOnlyEdit(gpmysql, "edtmysqlip");
    edtmysqldatabase = readOnlyEdit(gpmysql, "edtmysqldatabase");
    edtmysqlport = readOnlyEdit(gpmysql, "edtmysqlport");
    edtmysqlusername = readOnlyEdit(gpmysql, "edtmysqlusername");
    edtmysqlpassword = readOnlyEdit(gpmysql, "edtmysqlpassword");  // shown as it is: the job holds it anyway
    edtcharset = readOnlyEdit(gpmysql, "edtcharset");
    const std::pair<QLineEdit*, const char*> left[] = {{edtmysqlip, "IP address or network name"},
                                                       {edtmysqldatabase, "MySQL database name"},
                                                       {edtmysqlport, "MySQL Port"}};
    const std::pair<QLineEdit*, const char*> right[] = {{edtmysqlusername, "MySQL user name"},
                                                        {edtmysqlpassword, "MySQL user password"},
                                                        {edtcharset, "Character Set"}};
    for (int row = 0; row < 3; ++row) {
        server->addWidget(new QLabel(QLatin1String(left[row].second), gpmysql), row * 2, 0);
        server->addWidget(left[row].first, row * 2 + 1, 0);
        server->addWidget(new QLabel(QLatin1String(right[row].second), gpmysql), row * 2, 1);
        server->addWidget(right[row].first, row * 2 + 1, 1);
    }
    layout->addWidget(gpmysql);

    GroupBox3 = new QGroupBox(QStringLiteral("Access Database"), this);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    auto* access = new QGridLayout(GroupBox3);
    cbaccessformat = new QComboBox(GroupBox3);
    cbaccessformat->setObjectName(QStringLiteral("cbaccessformat"));
    cbaccessformat->addItems({QStringLiteral("MS Access 95/97"), QStringLiteral("MS Access 2000")});
    editaccessname = readOnlyEdit(GroupBox3, "editaccessname");
    edtoracleexits = readOnlyEdit(GroupBox3, "edtoracleexits");
    access->addWidget(new QLabel(QStringLiteral("Access format:"), GroupBox3), 0, 0);
    access->addWidget(cbaccessformat, 0, 1);
    access->addWidget(new QLabel(QStringLiteral("MS Access database name:"), GroupBox3), 1, 0);
    access->addWidget(editaccessname, 1, 1);
    access->addWidget(new QLabel(QStringLiteral("Process existing tables"), GroupBox3), 2, 0);
    access->addWidget(edtoracleexits, 2, 1);
    layout->addWidget(GroupBox3);

    GroupBox2 = new QGroupBox(QStringLiteral("Conversion Settings."), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    auto* options = new QVBoxLayout(GroupBox2);
    chktabledefi = checkBox(GroupBox2, "chktabledefi", QStringLiteral("Convert table definitions only"));
    chkskipindex = checkBox(GroupBox2, "chkskipindex", QStringLiteral("Skip converting indexes"));
    chkblobtotext = checkBox(GroupBox2, "chkblobtotext", QStringLiteral("Convert BLOB to text"));
    for (QCheckBox* box : {chktabledefi, chkskipindex, chkblobtotext})
        options->addWidget(box);
    layout->addWidget(GroupBox2);

    rgselecttable = new QGroupBox(QStringLiteral("Select MySQL tables"), this);
    rgselecttable->setObjectName(QStringLiteral("rgselecttable"));
    auto* tables = new QGridLayout(rgselecttable);
    rgselecttableItems = new QButtonGroup(rgselecttable);
    auto* selected = new QRadioButton(QStringLiteral("Selected tables"), rgselecttable);
    auto* all = new QRadioButton(QStringLiteral("All database tables"), rgselecttable);
    rgselecttableItems->addButton(selected, 0);
    rgselecttableItems->addButton(all, 1);
    all->setChecked(true);
    mysqltableselect = new QListWidget(rgselecttable);
    mysqltableselect->setObjectName(QStringLiteral("mysqltableselect"));
    bttableselect = new QPushButton(QStringLiteral("Reselect tables"), rgselecttable);
    bttableselect->setObjectName(QStringLiteral("bttableselect"));
    tables->addWidget(selected, 0, 0);
    tables->addWidget(all, 1, 0);
    tables->addWidget(mysqltableselect, 0, 1, 3, 1);
    tables->addWidget(bttableselect, 2, 0);
    layout->addWidget(rgselecttable);

    Button1 = new QPushButton(QStringLiteral("Create Shortcut File"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    layout->addWidget(Button1, 0, Qt::AlignRight);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->hide();

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
#ifdef _WIN32
    SaveDialog1->setDefaultSuffix(QStringLiteral("lnk"));
    SaveDialog1->setNameFilter(QStringLiteral("lnk (*.lnk)"));
#else
    SaveDialog1->setDefaultSuffix(QStringLiteral("sh"));
    SaveDialog1->setNameFilter(QStringLiteral("sh (*.sh)"));
#endif

    connect(rgselecttableItems, &QButtonGroup::idClicked, this, [this] { rgselecttableClick(); });
    connect(bttableselect, &QPushButton::clicked, this, &Tmarfrm_bat::bttableselectClick);
    connect(Button1, &QPushButton::clicked, this, &Tmarfrm_bat::Button1Click);
    rgselecttableClick();
}

void Tmarfrm_bat::fill(const ShortcutInput& in)
{
    m_accessmode = in.accessmode;
    m_host = in.host;
    m_processtable = in.processtable;
    edtmysqlip->setText(in.accessmode == 1 ? in.host : QStringLiteral("localhost"));
    edtmysqldatabase->setText(in.database);
    edtmysqlport->setText(in.port);
    edtmysqlusername->setText(in.user);
    edtmysqlpassword->setText(in.password);
    edtcharset->setText(in.charset);
    cbaccessformat->setCurrentIndex(std::clamp(in.accessformat, 0, 1));
    editaccessname->setText(in.accessfilename);
    edtoracleexits->setText(in.processtableCaption);
    chktabledefi->setChecked(in.tabledefonly);
    chkskipindex->setChecked(in.skipindex);
    chkblobtotext->setChecked(in.blobtotext);
    mysqltableselect->clear();
    mysqltableselect->addItems(in.selectedTables);
    rgselecttableClick();
}

void Tmarfrm_bat::rgselecttableClick()
{
    mysqltableselect->setVisible(rgselecttableItems->checkedId() != 1);
    bttableselect->setVisible(!mysqltableselect->isHidden());
}

void Tmarfrm_bat::message(const QString& text)
{
    if (showMessageText)
        showMessageText(text);
    else
        QMessageBox::information(this, windowTitle(), text);
}

void Tmarfrm_bat::bttableselectClick()
{
    message(QStringLiteral("This form will be closed.\rAfter you finish your choice,please click the button "
                           "\"Create Shortcut File\" to return to this form."));
    reject();
}

JobContent Tmarfrm_bat::jobContent() const
{
    JobContent job;
    job.accessmode = m_accessmode;
    job.mysqldatabase = edtmysqldatabase->text();
    job.port = edtmysqlport->text();
    job.mysqlu = edtmysqlusername->text();
    job.mysqlp = edtmysqlpassword->text();
    job.host = m_host;
    job.accessfilename = editaccessname->text();
    job.accessformat = cbaccessformat->currentIndex();
    job.processtable = m_processtable;
    job.character_set = edtcharset->text();
    job.tabledefonly = chktabledefi->isChecked();
    job.skipindex = chkskipindex->isChecked();
    job.blobtotext = chkblobtotext->isChecked();
    job.alltables = rgselecttableItems->checkedId() == 0 ? 0 : 1;
    for (int i = 0; i < mysqltableselect->count(); ++i)
        job.tables.append(mysqltableselect->item(i)->text());
    return job;
}

void Tmarfrm_bat::Button1Click()
{
    QString shortcut;
    if (chooseShortcutPath) {
        shortcut = chooseShortcutPath();
    } else if (SaveDialog1->exec() == QDialog::Accepted && !SaveDialog1->selectedFiles().isEmpty()) {
        shortcut = SaveDialog1->selectedFiles().first();
    }
    if (shortcut.isEmpty())
        return;

    const JobContent job = jobContent();
    Memo1->setPlainText(jobLines(job).join(u'\n'));
    const QString jobPath = replaceExtension(shortcut, QStringLiteral(".frwjob"));
    const QString logPath = replaceExtension(shortcut, QStringLiteral(".log"));
    QString error = writeJobFile(jobPath, job);
    if (error.isEmpty())
        error = writeLauncher(programPath, jobPath, shortcut);
    if (!error.isEmpty()) {
        message(error);
        return;
    }
    message(QStringLiteral("Success to create \"%1\".\rCreate setting file \"%2\" OK.\rIt will build a log file "
                           "\"%3\" after running with this Shortcut File.")
                .arg(shortcut, jobPath, logPath));
    accept();
}

}  // namespace ferrowane
