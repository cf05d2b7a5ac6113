// What Next does on the steps that have an action: log in and list the
// server's databases (step 2), open the chosen database and list its tables
// (step 4), run the conversion (step 5), finish (step 6). Each is one
// function, so that the work of a step can be read, and replaced, in one place.
// Also what the steps share: the login on another thread with its Cancel, and
// the report of a message, which an unattended run writes to its log instead
// of showing it.
#include "wizard/wizard_window.h"

#include "engine/conversion_job.h"
#include "settings/job_file.h"
#include "settings/unattended_run.h"
#include "wizard/connect_aside.h"
#include "wizard/language.h"
#include "wizard/log_page.h"
#include "wizard/log_view.h"
#include "wizard/message_box.h"
#include "wizard/option_pages.h"
#include "wizard/table_page.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace ferrowane {

void WizardWindow::logInAndListDatabases()
{
    const QString typed = m_connectionPage->typedDatabase();
    if (trimBlanks(typed).isEmpty()) {
        report(text(QStringLiteral("enterdatabase")), true);
        m_connectionPage->focusDatabase();
        throw SilentAbort();
    }
    const ConversionSettings settings = conversionSettings();
    if (settings.accessmode == 1 && trimBlanks(settings.host).isEmpty()) {
        report(messageText("nullhost"), true);
        if (QWidget* host = control(QStringLiteral("edthost")))
            host->setFocus();
        throw SilentAbort();
    }
    auto list = std::make_shared<DatabaseList>();
    logInAside([settings, typed, list](MySqlConnection& c) { *list = listDatabases(c, settings, typed); });
    m_optionsPage->showDatabases(list->names, list->selectedIndex);
}

void WizardWindow::openDatabaseAndListTables()
{
    if (trimBlanks(m_optionsPage->accessFileName()).isEmpty()) {
        report(m_noAccessFileName->text(), true);
        m_optionsPage->focusBrowse();
        throw SilentAbort();
    }
    if (!m_optionsPage->databaseChosen()) {
        m_job->source().close();
        // A job's database that the server does not list is named; a person sees the list.
        throw SourceInputError(m_unattended ? unknownDatabaseMessage(m_connectionPage->typedDatabase())
                                            : text(QStringLiteral("choosedatabase")));
    }
    const ConversionSettings settings = conversionSettings();
    const QString database = m_optionsPage->chosenDatabase();
    const int charset = characterSetIndex();
    auto tables = std::make_shared<QStringList>();
    logInAside([settings, database, charset, tables](MySqlConnection& c) {
        openDatabase(c, settings, database, charset);
        *tables = listTables(c);
    });
    m_listedTables = *tables;
    m_tablePage->listAvailable(*tables);
}

void WizardWindow::logInAside(std::function<void(MySqlConnection&)> work)
{
    // The earlier session ends first, as a new login replaces it.
    m_job->source().close();
    const bool backEnabled = m_back->isEnabled();
    const bool nextEnabled = m_next->isEnabled();
    const QString closeText = m_close->text();
    m_back->setEnabled(false);
    m_next->setEnabled(false);
    m_close->setText(text(QStringLiteral("cancelconnect")));
    m_connecting = true;
    m_connectCancelled = false;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    auto restore = [&] {
        QApplication::restoreOverrideCursor();
        m_connecting = false;
        m_close->setText(closeText);
        m_back->setEnabled(backEnabled);
        m_next->setEnabled(nextEnabled);
    };
    bool finished = false;
    try {
        finished = connectAside(std::move(work), *m_job, [this] { return m_connectCancelled; });
    } catch (...) {
        restore();
        throw;
    }
    restore();
    if (!finished)
        throw SilentAbort();
}

QString WizardWindow::messageText(const char* key) const
{
    const LanguageTable& table = m_languageCode == QLatin1String("cn") ? chineseTable() : englishTable();
    return tableText(table, QLatin1String(key));
}

void WizardWindow::report(const QString& text, bool note)
{
    if (!m_unattended) {
        if (note)
            showInfo(this, text, QString::fromLatin1(kApplicationTitle));
        else
            showError(this, text);
        return;
    }
    if (m_unattendedEnded)
        return;
    progressLog().appendLine(text);
    endUnattendedRun(m_runBegun ? JobTableFailed : JobNotStarted);
}

void WizardWindow::endUnattendedRun(int status)
{
    if (m_unattendedEnded)
        return;
    m_unattendedEnded = true;
    m_exitStatus = status;
    m_unattendedStart->stop();
    const QString error = ConversionJob::saveLines(ConversionJob::logPath(jobPath()), logLines());
    if (!error.isEmpty()) {
        QTextStream(stderr) << error << "\n";
        m_exitStatus = std::max(m_exitStatus, int(JobTableFailed));
    }
    m_running = false;  // the window may close now
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void WizardWindow::runConversion()
{
    LogView& log = m_logPage->log();
    m_pages->setCurrentWidget(m_logPage);
    m_back->setEnabled(false);
    m_next->setEnabled(false);
    m_close->setEnabled(true);
    m_stopMode = true;
    showBarCaptions();
    m_stopRequested = false;
    log.resetBar();

    m_job->beforeFinishLine = nullptr;
    m_runBegun = true;
    bool logSaved = true;
    if (m_unattended) {
        // The end of an unattended run, before the last completion line:
        // the end time, the log file beside the job, and the program ends.
        m_job->beforeFinishLine = [this, &log, &logSaved] {
            log.appendLine(QStringLiteral("The end time:") + ConversionJob::dateTimeText());
            m_running = false;  // the window may close now
            m_unattendedEnded = true;
            const QString logPath = ConversionJob::logPath(jobPath());
            if (const QString error = ConversionJob::saveLines(logPath, log.lines()); !error.isEmpty()) {
                QTextStream(stderr) << error << "\n";
                logSaved = false;
            }
            close();
        };
    }
    const ConversionSettings settings = conversionSettings();
    m_running = true;
    log.startRun(settings.tables);
    RunResult result;
    try {
        result = m_job->run(settings, settings.tables, m_logPage->completionTexts());
    } catch (...) {
        m_running = false;
        log.flush();
        log.finishRun(result, m_stopRequested);
        m_stopRequested = false;  // the run is over
        throw;
    }
    m_running = false;
    log.flush();
    if (m_unattended)
        m_exitStatus = logSaved ? m_job->exitStatus() : std::max(m_job->exitStatus(), int(JobTableFailed));
    // The run is over: a Stop it left on, or one confirmed during its last
    // table, keeps the wizard on this step once and is then forgotten.
    const bool stopped = result.stopped || m_stopRequested;
    m_stopRequested = false;
    log.finishRun(result, stopped);
    if (stopped)
        throw SilentAbort();
    // After a Stop in the last table the bar stays where the Stop left it.
    if (!result.stopRequested)
        log.finishBar();
}

void WizardWindow::finish()
{
    m_logPage->log().clear();
    m_tablePage->emptySelected();
    close();
}

}  // namespace ferrowane
