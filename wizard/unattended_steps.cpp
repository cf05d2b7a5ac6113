// Applying a job to the wizard's pages, and the cascade of Next clicks of an
// unattended run.
#include "wizard/unattended_steps.h"

#include "settings/job_file.h"
#include "settings/unattended_run.h"
#include "wizard/option_pages.h"
#include "wizard/table_page.h"
#include "wizard/wizard_window.h"

namespace ferrowane {

namespace {

// A job's values into the pages, key by key.
class PagesJobSink : public JobSettingsSink {
public:
    explicit PagesJobSink(const WizardWindow& window)
        : m_connection(window.connectionPage()),
          m_secondServer(window.secondServerPage()),
          m_options(window.optionsPage())
    {
    }

    void setAccessMode(int position) override { m_connection.setAccessMode(position); }
    void setDatabase(const QString& text) override { m_connection.setDatabase(text); }
    void setUser(const QString& text) override { m_connection.setUser(text); }
    void setPassword(const QString& text) override { m_connection.setPassword(text); }
    void setHost(const QString& text) override { m_connection.setHost(text); }
    void setPort(const QString& text) override { m_connection.setPort(text); }
    void setOracle(const QString& service, const QString& user, const QString& password) override
    {
        m_secondServer.setServer(service, user, password);
    }
    void setAccessFormat(int position) override { m_options.setAccessFormat(position); }
    void setAccessFileName(const QString& path) override { m_options.setAccessFileName(path); }
    void setCharacterSet(const QString& name) override { m_connection.setCharacterSet(name); }
    void setProcessTable(int position) override { m_options.setProcessTable(position); }
    void setFlags(bool tabledefonly, bool nameuppercase, bool skipindex, bool blobtotext) override
    {
        m_options.setSwitches(tabledefonly, skipindex, blobtotext);
        m_secondServer.setNamesUpperCase(nameuppercase);
    }
    void setTimeAsText(bool on) override { m_options.setTimeAsText(on); }
    void setSchemaOptions(bool autonumber, bool required, bool defaults, bool descriptions,
                          bool relationships) override
    {
        m_options.setSchemaOptions(autonumber, required, defaults, descriptions, relationships);
    }

private:
    ConnectionPage& m_connection;
    SecondServerPage& m_secondServer;
    OptionsPage& m_options;
};

}  // namespace

JobStart startJob(WizardWindow& window)
{
    JobStart result;
    QString error;
    const std::optional<JobFile> job = JobFile::read(window.jobPath(), &error);
    if (!job) {
        window.progressLog().appendLine(error);
        result.message = ConversionJob::saveLines(ConversionJob::logPath(window.jobPath()), window.logLines());
        result.outcome = result.message.isEmpty() ? JobStart::EndProgram : JobStart::LogUnwritable;
        return result;
    }
    window.setJobLines(job->lines());
    PagesJobSink sink(window);
    result.message = ApplyJobSettings(*job, sink);
    result.outcome = result.message.isEmpty() ? JobStart::Armed : JobStart::BadValue;
    return result;
}

void continueUnattendedRun(WizardWindow& window)
{
    // Each test sees the step as the nested clicks before it left it; a run
    // that ended on a message goes no further.
    if (window.currentStep() == 1 && !window.unattendedRunEnded())
        window.goNext();
    if (window.currentStep() == 2 && !window.unattendedRunEnded())
        window.goNext();
    if (window.currentStep() == 4 && !window.unattendedRunEnded())
        window.goNext();
    if (window.currentStep() != 5 || window.unattendedRunEnded())
        return;
    TablePage& tables = window.tablePage();
    const JobFile job(window.jobLines());
    const QString database = window.optionsPage().chosenDatabase();
    // Every table, or each one the job names exactly; a name the list does
    // not hold is logged.
    const QStringList chosen = window.job().jobTables(job.allTables(), job.tableEntries(), window.listedTables(), database);
    if (job.allTables()) {
        tables.addAll();
    } else {
        for (const QString& name : chosen)
            if (tables.selectAvailable(name))
                tables.addSelected();
    }
    // A job that converts nothing has not succeeded.
    if (tables.selectedCount() == 0) {
        window.progressLog().appendLine(ConversionJob::noTableLine(database));
        window.endUnattendedRun(JobTableFailed);
        return;
    }
    window.goNext();
}

}  // namespace ferrowane
