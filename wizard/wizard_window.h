// The wizard window: the side panel of steps, the stack of pages and the
// button bar; the language choice; what Next and Back do on each step,
// Close, Stop and Help, the keyboard (Enter, Esc, F1), the window's start-up,
// size and its close. The pages own their controls
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

class QComboBox;
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
class HelpWindow;
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

    // Navigation and the button bar.
    void showStep(int step);
    void goNext();       // the step's action, then the next step (and in an unattended run the next Next)
    void goBack();
    void closeOrStop();  // the Close button: the close question, or during a run the Stop question
    void confirmClose();
    void confirmStop();
    void openHelp();  // the help window, in the current language

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
    // the texts as they are) and applies it to this window and the windows it owns.
    void setLanguage(const QString& code);
    QString language() const { return m_languageCode; }
    // A text of the language tables in the current language.
    QString text(const QString& key) const { return m_texts.text(key); }
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
    // error of the database layer or any other failure is reported with its
    // own text. Returns true when the action went through.
    bool runAction(const std::function<void()>& action);

    // A step's message (a note, or an error): shown in a box; in an unattended
    // run, where nobody could answer a box, written to the log instead, and
    // the run ends (endUnattendedRun) with 2 before the conversion run began, 1 after.
    void report(const QString& text, bool note = false);
    // The end of an unattended run that did not finish its conversion: the log
    // saved beside the job (when it cannot be, the error goes to standard
    // error), the window closed, the program's status `status` (a JobExit value).
    void endUnattendedRun(int status);
    bool unattendedRunEnded() const { return m_unattendedEnded; }
    // The status the program ends with: 0 for a window used by a person; for
    // an unattended run the same values as a run without a window (JobExit).
    int exitStatus() const { return m_exitStatus; }

    // While Next logs in (steps 2 and 4) on another thread: the Close button
    // reads "Cancel" and stops waiting for it.
    bool connecting() const { return m_connecting; }
    void cancelConnecting() { m_connectCancelled = true; }
    // The tables the database listed at the last Next on step 4.
    const QStringList& listedTables() const { return m_listedTables; }
    ConversionJob& job() { return *m_job; }

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
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    QWidget* buildSidePanel();
    QWidget* buildButtonBar();
    void addLanguageChoice(QWidget* welcomePage);
    // Next or Finish, Close or Stop, as the step and the run have them.
    void showBarCaptions();
    void startUp();
    void updateNextForSelection();
    void loadStoredSettings();
    // Runs a login on another thread (connect_aside.h) with a busy cursor and
    // Cancel; a Cancel leaves by SilentAbort.
    void logInAside(std::function<void(MySqlConnection&)> work);
    // The text of a message key in the current language.
    QString messageText(const char* key) const;
    bool ownsDirectly(const QObject* object) const;

    QStringList m_arguments;
    WindowTexts m_texts;
    QStringList m_jobLines;

    // Wizard state.
    int m_currentStep = 1;
    int m_currentStepShown = 1;  // the step whose buttons the bar shows
    bool m_stopRequested = false;
    bool m_unattended = false;
    QString m_languageCode = QStringLiteral("en");
    bool m_running = false;
    bool m_stopMode = false;  // the Close button reads "Stop"
    bool m_connecting = false;        // a login runs aside; the Close button reads "Cancel"
    bool m_connectCancelled = false;
    bool m_runBegun = false;          // an unattended run reached the conversion run
    bool m_unattendedEnded = false;   // its log is written and the window closing
    int m_exitStatus = 0;
    QStringList m_listedTables;

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
    QComboBox* m_languageChoice = nullptr;
    HelpWindow* m_helpWindow = nullptr;  // made when first asked for
    QLabel* m_helpUrl = nullptr;        // message texts of the language tables, never shown
    QLabel* m_closeQuestion = nullptr;
    QLabel* m_noAccessFileName = nullptr;
    QTimer* m_unattendedStart = nullptr;  // its first tick presses Next for an unattended run
    ShortcutWindow* m_shortcutWindow = nullptr;
};

}  // namespace ferrowane
