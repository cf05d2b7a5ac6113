// The wizard window: side panel of steps, the pages, the button bar, and what
// Next and Back do on each step.
#pragma once

#include "engine/access_provider.h"
#include "engine/conversion_settings.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "settings/settings_store.h"
#include "wizard/language.h"

#include <QStringList>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
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

class ClickableImage;
class MemoLog;

class Taaform1 : public QWidget {
    Q_OBJECT

public:
    // arguments: the command line after the program name; any argument makes
    // the run unattended, the first one names the job file.
    explicit Taaform1(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~Taaform1() override;

    // Opens the shortcut-file window for "Create Shortcut File" (filled when it exists).
    std::function<void()> openShortcutWindow;

    // Wizard state.
    int CurrentStep = 1;
    bool StopRequested = false;
    bool Unattended = false;
    QString LanguageCode = QStringLiteral("en");
    QString jobPath() const { return m_arguments.value(0); }

    // Navigation and the bar.
    void ShowStep(int step);
    void btnextClick();
    void btbackClick();
    void btcancelClick();  // ConfirmClose outside a run, ConfirmStop during one
    void ConfirmClose();
    void ConfirmStop();
    void bthelpClick();
    void Image1Click();

    // Step actions.
    void step2Click();
    void step4Click();
    void step5Click();
    void step6Click();
    void bkstep5Click();

    // Pages.
    void accessmodeClick();
    void btbrowseClick();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void availabletablesDblClick();
    void selecttablesDblClick();
    void btcreatebatClick();

    // Texts.
    void ApplyLanguage();
    // Maintenance exports of the language tables into a folder of the caller's.
    bool saveClick(const QString& folder);
    bool loaditemsClick(const QString& folder);
    bool Button8Click(const QString& folder);
    const LanguageTable& english() const { return m_english; }

    // Stored settings, from and to the controls.
    void LoadSettings();
    void SaveSettings();
    StoredSettings storedFromControls() const;
    void applyStored(const StoredSettings& stored);

    // The options as the controls hold them; tables = the selected list.
    ConversionSettings conversionSettings() const;
    // Position of the character-set box's text in the list; -1 when it names no entry.
    int characterSetIndex() const;
    // The folder the Access save dialog opens in.
    QString accessDialogFolder() const;

    // The job of an unattended run: its lines and the value of a key (the first
    // line whose part before "=" equals the key without regard to case).
    void setJobLines(const QStringList& lines) { m_jobLines = lines; }
    const QStringList& jobLines() const { return m_jobLines; }
    QString jobValue(const QString& key) const;

    // The progress log sc as the run writes to it.
    ProgressLog& progressLog();
    QStringList logLines() const;
    bool runGoingOn() const { return m_running; }
    MySqlConnection& source() { return m_mysql; }
    AccessConnection& target() { return m_accconnection; }

    // Runs a step action the way the bar does: a refusal stays silent, an
    // error of the database layer or any other failure is shown with its own
    // text. Returns true when the action went through.
    bool runAction(const std::function<void()>& action);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    QWidget* buildWelcomePage();
    QWidget* buildConnectionPage();
    QWidget* buildSettingsPage();
    QWidget* buildTablePage();
    QWidget* buildLogPage();
    QWidget* buildHiddenPage();
    void FormCreate();
    void updateNextForSelection();
    void addAvailable(const QStringList& names);
    void sortAvailable();
    void unattendedCascade();
    void finishUnattendedRun();

    QStringList m_arguments;
    LanguageTable m_english;
    LanguageTable m_chinese;
    QStringList m_jobLines;
    QString m_defaultAccessDir;  // as loaded, empty when none stored
    bool m_availableSorted = false;
    bool m_running = false;
    bool m_stopMode = false;     // btcancel reads "Stop"
    bool m_saved = false;

    MySqlConnection m_mysql;
    AccessConnection m_accconnection;
    AccessDataset m_accdataset{m_accconnection};
    std::unique_ptr<MemoLog> m_log;

public:
    // The controls, under their names.
    QWidget* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    ClickableImage* Image1 = nullptr;
    QStackedWidget* pg = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* TabSheet6 = nullptr;
    QWidget* Panel3 = nullptr;
    QPushButton* btback = nullptr;
    QPushButton* btnext = nullptr;
    QPushButton* btcancel = nullptr;
    QPushButton* bthelp = nullptr;

    // Welcome.
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;

    // Connection.
    QLabel* Label11 = nullptr;
    QGroupBox* accessmode = nullptr;
    QButtonGroup* accessmodeItems = nullptr;
    QGroupBox* authorization = nullptr;
    QLabel* Label15 = nullptr;
    QLineEdit* edtdatabase = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* edtname = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* edtpassword = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label14 = nullptr;
    QLineEdit* edthost = nullptr;
    QLabel* Label16 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* edtport111 = nullptr;
    QLineEdit* edtport = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* Label33 = nullptr;
    QComboBox* cbcharset = nullptr;

    // Settings.
    QLabel* Label24 = nullptr;
    QLabel* Label25 = nullptr;
    QListWidget* mysqldblist = nullptr;
    QGroupBox* processtable = nullptr;
    QButtonGroup* processtableItems = nullptr;
    QCheckBox* chktabledefi = nullptr;
    QCheckBox* chkskipindex = nullptr;
    QCheckBox* chkblobtotext = nullptr;
    QLabel* labelaccessformat = nullptr;
    QComboBox* cbaccessformat = nullptr;
    QLabel* labelaccessname = nullptr;
    QLineEdit* editaccessname = nullptr;
    QPushButton* btbrowse = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

    // Tables.
    QLabel* Label26 = nullptr;
    QLabel* Label27 = nullptr;
    QListWidget* availabletables = nullptr;
    QLabel* Label28 = nullptr;
    QListWidget* selecttables = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* btcreatebat = nullptr;

    // Log.
    QPlainTextEdit* sc = nullptr;
    QProgressBar* pbtable = nullptr;

    // Never shown: the completion captions the run copies into the log, the
    // message texts, the second server's fields and the upper-case switch.
    QLabel* Label29 = nullptr;
    QLabel* Label30 = nullptr;
    QLabel* Label32 = nullptr;
    QLabel* helpurl = nullptr;
    QLabel* queryclose = nullptr;
    QLabel* linkmysqlerror = nullptr;
    QLabel* nullaccessname = nullptr;
    QLineEdit* edtservice = nullptr;
    QLineEdit* edtoracleusername = nullptr;
    QLineEdit* edtoraclepassword = nullptr;
    QCheckBox* chkuppercase = nullptr;
    QTimer* Timer1 = nullptr;
};

}  // namespace ferrowane
