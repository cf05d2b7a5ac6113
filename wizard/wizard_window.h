// The wizard window: the side panel of steps, the stack of pages and the
// button bar; what Next and Back do on each step, Close, Stop and Help, the
// window's start-up and its close. The pages own their controls
// (option_pages.h, table_page.h, log_page.h); the actions of the steps are in
// step_actions.cpp, the unattended run's side in unattended_steps.h, the
// interface texts in window_texts.h.
#pragma once

#include "engine/access_provider.h"
#include "engine/conversion_job.h"
#include "engine/conversion_settings.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "settings/settings_store.h"
#include "wizard/window_texts.h"

#include <QStringList>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace ferrowane {

// The application title, also the window caption.
inline constexpr const char* kApplicationTitle = "Ferrowane 4.0";

// A step that refused its input has shown its message already; the wizard
// just stays where it is.
class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return "silent abort"; }
};

class ConnectionPage;
class LogPage;
class OptionsPage;
class SecondServerPage;
class ShortcutWindow;
class TablePage;

class WizardWindow : public QWidget {
    Q_OBJECT

public:
    // arguments: the command line after the program name; any argument makes
    // the run unattended, the first one names the job file.
    explicit WizardWindow(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~WizardWindow() override;

    // The steps are 1, 2, 4, 5 and 6 (there is no step 3).
    int currentStep() const { return m_currentStep; }
    bool stopRequested() const { return m_stopRequested; }
    bool unattended() const { return m_unattended; }
    QString jobPath() const { return m_arguments.value(0); }
    // The program's exit status after an unattended run (ExitStatus of
    // conversion_job.h); 0 when the window was used by hand.
    int unattendedExitStatus() const;

    // Navigation and the button bar.
    void showStep(int step);
    void goNext();       // the step's action, then the next step (and in an unattended run the next Next)
    void goBack();
    void closeOrStop();  // the Close button: the close question, or during a run the Stop question
    void confirmClose();
    void confirmStop();
    void openHelp();

    // What Next does on steps 2, 4, 5 and 6. Each returns normally when the
    // wizard may go on; a refusal shows its message and throws SilentAbort,
    // an error of the database layer propagates.
    void logInAndListDatabases();
    void openDatabaseAndListTables();
    void runConversion();
    void finish();

    // "Create Shortcut File": the shortcut-file window, filled from this one.
    void openShortcutWindow();

    // Interface texts: sets the language ("en" or "cn"; any other code keeps
    // the texts as they are) and applies it.
    void setLanguage(const QString& code);
    QString language() const { return m_languageCode; }
    // Maintenance exports of the language tables into a folder of the caller's.
    bool exportLabelCaptions(const QString& folder);
    bool exportAllCaptions(const QString& folder);
    bool exportLanguageTables(const QString& folder) const;
    const LanguageTable& english() const { return m_texts.english(); }

    // The options as the pages hold them; tables = the selected list.
    ConversionSettings conversionSettings() const;
    // The options as the store keeps them.
    StoredSettings storedFromControls() const;
    // Position of the character-set box's text in the list; -1 when it names no entry.
    int characterSetIndex() const;
    // The folder the Access save dialog opens in.
    QString accessDialogFolder() const;

    // The job of an unattended run: its lines and the value of a key (the first
    // line whose part before "=" equals the key without regard to case).
    void setJobLines(const QStringList& lines) { m_jobLines = lines; }
    const QStringList& jobLines() const { return m_jobLines; }
    QString jobValue(const QString& key) const;

    // The progress log as the run writes to it.
    ProgressLog& progressLog();
    QStringList logLines() const;
    bool runGoingOn() const { return m_running; }
    MySqlConnection& source() { return m_job->source(); }
    AccessConnection& target() { return m_job->target(); }

    // The pages, for what fills them from outside (a job, the shortcut window).
    ConnectionPage& connectionPage() const { return *m_connectionPage; }
    SecondServerPage& secondServerPage() const { return *m_secondServerPage; }
    OptionsPage& optionsPage() const { return *m_optionsPage; }
    TablePage& tablePage() const { return *m_tablePage; }

    // Runs a step action the way the bar does: a refusal stays silent, an
    // error of the database layer or any other failure is shown with its own
    // text. Returns true when the action went through.
    bool runAction(const std::function<void()>& action);

    // For tests and programs that drive the window: its own control with that
    // Qt object name (the names the language tables use, such as "btnext",
    // "selecttables", "Timer1"; the radio groups' button groups are
    // "accessmodeItems" and "processtableItems"), never one of a window it
    // owns; nullptr when there is none.
    template <class T = QWidget>
    T* control(const QString& name) const
    {
        for (T* candidate : findChildren<T*>(name))
            if (ownsDirectly(candidate))
                return candidate;
        return nullptr;
    }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    QWidget* buildSidePanel();
    QWidget* buildButtonBar();
    void startUp();
    void updateNextForSelection();
    void loadStoredSettings();
    bool ownsDirectly(const QObject* object) const;

    QStringList m_arguments;
    WindowTexts m_texts;
    QStringList m_jobLines;

    // Wizard state.
    int m_currentStep = 1;
    bool m_stopRequested = false;
    bool m_unattended = false;
    QString m_languageCode = QStringLiteral("en");
    bool m_running = false;
    bool m_stopMode = false;  // the Close button reads "Stop"

    // The job owns the MySQL and Access connections; made once the log page exists.
    std::unique_ptr<ConversionJob> m_job;

    QList<QLabel*> m_stepLabels;  // side panel, one per step in order
    QStackedWidget* m_pages = nullptr;
    QWidget* m_welcomePage = nullptr;
    ConnectionPage* m_connectionPage = nullptr;
    SecondServerPage* m_secondServerPage = nullptr;
    OptionsPage* m_optionsPage = nullptr;
    TablePage* m_tablePage = nullptr;
    LogPage* m_logPage = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_help = nullptr;
    QLabel* m_helpUrl = nullptr;        // message texts of the language tables, never shown
    QLabel* m_closeQuestion = nullptr;
    QLabel* m_noAccessFileName = nullptr;
    QTimer* m_unattendedStart = nullptr;  // its first tick presses Next for an unattended run
    ShortcutWindow* m_shortcutWindow = nullptr;
};

}  // namespace ferrowane
