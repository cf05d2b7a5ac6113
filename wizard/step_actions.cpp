// What Next does on the steps that have an action: log in and list the
// server's databases (step 2), open the chosen database and list its tables
// (step 4), run the conversion (step 5), finish (step 6). Each is one
// function, so that the work of a step can be read, and replaced, in one place.
#include "wizard/wizard_window.h"

#include "engine/conversion_job.h"
#include "settings/job_file.h"
#include "settings/unattended_run.h"
#include "wizard/log_page.h"
#include "wizard/log_view.h"
#include "wizard/message_box.h"
#include "wizard/option_pages.h"
#include "wizard/table_page.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

namespace ferrowane {

void WizardWindow::logInAndListDatabases()
{
    const QString typed = m_connectionPage->typedDatabase();
    if (trimBlanks(typed).isEmpty()) {
        showInfo(this, QStringLiteral("Please enter database name"), QString::fromLatin1(kApplicationTitle));
        m_connectionPage->focusDatabase();
        throw SilentAbort();
    }
    const DatabaseList list = m_job->logIn(conversionSettings(), typed);
    m_optionsPage->showDatabases(list.names, list.selectedIndex);
}

void WizardWindow::openDatabaseAndListTables()
{
    if (trimBlanks(m_optionsPage->accessFileName()).isEmpty()) {
        showInfo(this, m_noAccessFileName->text(), QString::fromLatin1(kApplicationTitle));
        m_optionsPage->focusBrowse();
        throw SilentAbort();
    }
    if (!m_optionsPage->databaseChosen()) {
        m_job->source().close();
        throw SourceInputError(QStringLiteral("Please choose a MySQL database in the list."));
    }
    m_tablePage->listAvailable(
        m_job->openDatabase(conversionSettings(), m_optionsPage->chosenDatabase(), characterSetIndex()));
}

void WizardWindow::runConversion()
{
    LogView& log = m_logPage->log();
    m_pages->setCurrentWidget(m_logPage);
    m_back->setEnabled(false);
    m_next->setEnabled(false);
    m_close->setText(QStringLiteral("Stop"));
    m_close->setEnabled(true);
    m_stopMode = true;
    m_stopRequested = false;
    log.resetBar();

    m_job->beforeFinishLine = nullptr;
    if (m_unattended) {
        // The end of an unattended run, before the last completion line:
        // the end time, the log file beside the job, and the program ends.
        m_job->beforeFinishLine = [this, &log] {
            log.appendLine(QStringLiteral("The end time:") + ConversionJob::dateTimeText());
            m_running = false;  // the window may close now
            const QString logPath = ConversionJob::logPath(jobPath());
            if (!ConversionJob::saveLines(logPath, log.lines()).isEmpty())
                showError(this, QStringLiteral("Cannot write the log file %1.").arg(QDir::toNativeSeparators(logPath)));
            close();
        };
    }
    const ConversionSettings settings = conversionSettings();
    m_running = true;
    RunResult result;
    try {
        result = m_job->run(settings, settings.tables, m_logPage->completionTexts());
    } catch (...) {
        m_running = false;
        log.flush();
        throw;
    }
    m_running = false;
    log.flush();
    if (result.stopped)
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
