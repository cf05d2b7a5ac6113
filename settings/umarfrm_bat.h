// The shortcut-file window: shows a copy of the wizard's job for review and
// saves it as a job file with a launcher beside it. Also the pieces the main
// window uses to start a job it was given on the command line.
#pragma once

#include "settings/job_file.h"
#include "settings/unattended_run.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>

#include <algorithm>
#include <functional>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace ferrowane {

// What btcreatebatClick copies from the wizard.
struct ShortcutInput {
    int accessmode = 0;
    QString host;               // the wizard's host text
    QString database;           // the chosen entry of the database list
    QString port;
    QString user;
    QString password;
    QString charset;            // the text of the character-set box
    int accessformat = 0;
    QString accessfilename;
    int processtable = 0;
    QString processtableCaption;
    bool tabledefonly = false;
    bool skipindex = false;
    bool blobtotext = false;
    QStringList selectedTables;
};

class Tmarfrm_bat : public QDialog {
    Q_OBJECT

public:
    explicit Tmarfrm_bat(QWidget* parent = nullptr);

    // Fills the window from the wizard (rgselecttable keeps its position).
    void fill(const ShortcutInput& input);

    void rgselecttableClick();
    void bttableselectClick();
    void Button1Click();

    // The program the launcher starts; this program unless set otherwise.
    QString programPath;
    // Instead of the save dialog (automated callers): the chosen path, empty to cancel.
    std::function<QString()> chooseShortcutPath;
    // Instead of the message box (automated callers).
    std::function<void(const QString& text)> showMessageText;

    // The job as the window shows it.
    JobContent jobContent() const;

    QGroupBox* gpmysql = nullptr;
    QLineEdit* edtmysqlip = nullptr;
    QLineEdit* edtmysqldatabase = nullptr;
    QLineEdit* edtmysqlport = nullptr;
    QLineEdit* edtmysqlusername = nullptr;
    QLineEdit* edtmysqlpassword = nullptr;
    QLineEdit* edtcharset = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QComboBox* cbaccessformat = nullptr;
    QLineEdit* editaccessname = nullptr;
    QLineEdit* edtoracleexits = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QCheckBox* chktabledefi = nullptr;
    QCheckBox* chkskipindex = nullptr;
    QCheckBox* chkblobtotext = nullptr;
    QGroupBox* rgselecttable = nullptr;
    QButtonGroup* rgselecttableItems = nullptr;
    QListWidget* mysqltableselect = nullptr;
    QPushButton* bttableselect = nullptr;
    QPushButton* Button1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

private:
    void message(const QString& text);

    // Of the main window, for the job lines that are not shown here.
    int m_accessmode = 0;
    QString m_host;
    int m_processtable = 0;
};

// ---- The main window's side. Templates over the window class, so that this
// library needs nothing of the wizard's; the window passes itself.

// What "Create Shortcut File" copies into Tmarfrm_bat.
template <class Form>
ShortcutInput shortcutInputFrom(const Form& f)
{
    ShortcutInput in;
    in.accessmode = std::max(0, f.accessmodeItems->checkedId());
    in.host = f.edthost->text();
    const QList<QListWidgetItem*> chosen = f.mysqldblist->selectedItems();
    in.database = chosen.isEmpty() ? QString() : chosen.first()->text();
    in.port = f.edtport->text();
    in.user = f.edtname->text();
    in.password = f.edtpassword->text();
    in.charset = f.cbcharset->currentText();
    in.accessformat = std::max(0, f.cbaccessformat->currentIndex());
    in.accessfilename = f.editaccessname->text();
    in.processtable = std::max(0, f.processtableItems->checkedId());
    if (QAbstractButton* b = f.processtableItems->checkedButton())
        in.processtableCaption = b->text().remove(u'&');
    in.tabledefonly = f.chktabledefi->isChecked();
    in.skipindex = f.chkskipindex->isChecked();
    in.blobtotext = f.chkblobtotext->isChecked();
    for (int i = 0; i < f.selecttables->count(); ++i)
        in.selectedTables.append(f.selecttables->item(i)->text());
    return in;
}

// Applies a job to the wizard's controls.
template <class Form>
class FormJobSink : public JobSettingsSink {
public:
    explicit FormJobSink(Form& form) : f(form) {}

    void setAccessMode(int position) override
    {
        check(f.accessmodeItems, position);
        f.accessmodeClick();
    }
    void setDatabase(const QString& text) override { f.edtdatabase->setText(text); }
    void setUser(const QString& text) override { f.edtname->setText(text); }
    void setPassword(const QString& text) override { f.edtpassword->setText(text); }
    void setHost(const QString& text) override { f.edthost->setText(text); }
    void setPort(const QString& text) override { f.edtport->setText(text); }
    void setOracle(const QString& service, const QString& user, const QString& password) override
    {
        f.edtservice->setText(service);
        f.edtoracleusername->setText(user);
        f.edtoraclepassword->setText(password);
    }
    void setAccessFormat(int position) override
    {
        // Out of range: the nearest entry.
        f.cbaccessformat->setCurrentIndex(std::clamp(position, 0, f.cbaccessformat->count() - 1));
    }
    void setAccessFileName(const QString& path) override
    {
        f.SaveDialog1->selectFile(path);
        f.editaccessname->setText(path);
    }
    void setCharacterSet(const QString& name) override
    {
        const int at = f.cbcharset->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        f.cbcharset->setCurrentIndex(at);
        if (at < 0)
            f.cbcharset->setEditText(name);
    }
    void setProcessTable(int position) override { check(f.processtableItems, position); }
    void setFlags(bool tabledefonly, bool nameuppercase, bool skipindex, bool blobtotext) override
    {
        f.chktabledefi->setChecked(tabledefonly);
        f.chkuppercase->setChecked(nameuppercase);
        f.chkskipindex->setChecked(skipindex);
        f.chkblobtotext->setChecked(blobtotext);
    }

private:
    // A position outside the group checks nothing (a run then merges).
    static void check(QButtonGroup* group, int position)
    {
        if (QAbstractButton* b = group->button(position)) {
            b->setChecked(true);
            return;
        }
        const bool exclusive = group->exclusive();
        group->setExclusive(false);
        for (QAbstractButton* b : group->buttons())
            b->setChecked(false);
        group->setExclusive(exclusive);
    }

    Form& f;
};

// What the window does with the job it was started with.
struct JobStart {
    enum Outcome {
        Armed,         // applied: switch Timer1 on
        BadValue,      // applying stopped: show `message`; no run
        EndProgram,    // the job could not be read; the log is written: close the window
        LogUnwritable  // neither could the log be written: show `message`; no run
    } outcome = Armed;
    QString message;
};

// Loads the job named by the form's first argument into its job list and
// applies it. The "Start time:" line must be in the form's log already.
template <class Form>
JobStart startJob(Form& f)
{
    JobStart result;
    QString error;
    const std::optional<JobFile> job = JobFile::read(f.jobPath(), &error);
    if (!job) {
        f.progressLog().appendLine(error);
        result.message = writeTextLines(jobLogPath(f.jobPath()), f.logLines());
        result.outcome = result.message.isEmpty() ? JobStart::EndProgram : JobStart::LogUnwritable;
        return result;
    }
    f.setJobLines(job->lines());
    FormJobSink<Form> sink(f);
    result.message = ApplyJobSettings(*job, sink);
    result.outcome = result.message.isEmpty() ? JobStart::Armed : JobStart::BadValue;
    return result;
}

}  // namespace ferrowane
