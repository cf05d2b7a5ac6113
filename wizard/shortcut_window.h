// The shortcut-file window: shows a copy of the wizard's job for review and
// saves it as a job file with a launcher (a shortcut on Windows) beside it.
#pragma once

#include "settings/job_file.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace ferrowane {

class WizardWindow;

// What "Create Shortcut File" copies from the wizard.
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
    bool timetotext = false;
    // The schema options of the options page, saved with the job as they are.
    bool autonumber = true, required = true, defaults = true, descriptions = true, relationships = true;
    QStringList selectedTables;
};

// The wizard's options as "Create Shortcut File" copies them.
ShortcutInput shortcutInputFrom(const WizardWindow& window);

// Its controls carry the Qt object names of the window's design ("edtmysqlip",
// "mysqltableselect", "Button1", ...); the table choice's button group is
// "rgselecttableItems" (0 selected tables, 1 all database tables).
class ShortcutWindow : public QDialog {
    Q_OBJECT

public:
    explicit ShortcutWindow(QWidget* parent = nullptr);

    // Fills the window from the wizard; the table choice keeps its position.
    void fill(const ShortcutInput& input);
    // Its captions and messages in the interface language (the "bat." keys).
    void applyTexts(const std::function<QString(const QString& key)>& text);

    // The table list and "Reselect tables" are shown only for "Selected tables".
    void followTableChoice();
    // "Reselect tables": says how to come back and closes the window.
    void closeToReselectTables();
    // "Create Shortcut File": asks for the shortcut's path, writes the job file
    // and the launcher beside it, says where they are and closes the window.
    void saveJobAndShortcut();

    // The program the launcher starts; this program unless set otherwise.
    QString programPath;
    // Instead of the save dialog (automated callers): the chosen path, empty to cancel.
    std::function<QString()> chooseShortcutPath;
    // Instead of the message box (automated callers).
    std::function<void(const QString& text)> showMessageText;

    // The job as the window shows it.
    JobContent jobContent() const;

private:
    void message(const QString& text);
    // A message's text in the interface language.
    QString batText(const QString& key, const QString& english) const;

    std::function<QString(const QString&)> m_text;  // the "bat." texts; English until applyTexts
    QLineEdit* m_host = nullptr;
    QLineEdit* m_database = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_characterSet = nullptr;
    // The conversion options.
    bool m_timeToText = false;  // the wizard's option, carried into the job as it is
    ShortcutInput m_schema;  // its schema options only
    QCheckBox* m_definitionsOnly = nullptr;
    QCheckBox* m_skipIndexes = nullptr;
    QCheckBox* m_blobToText = nullptr;
    // The target.
    QComboBox* m_accessFormat = nullptr;
    QLineEdit* m_accessFileName = nullptr;
    QLineEdit* m_existingTables = nullptr;
    QButtonGroup* m_tableChoice = nullptr;
    QListWidget* m_tables = nullptr;
    QPushButton* m_reselect = nullptr;
    QPlainTextEdit* m_jobText = nullptr;  // never shown: the job file's lines as written
    QFileDialog* m_saveDialog = nullptr;

    // Of the main window, for the job lines that are not shown here.
    int m_accessmode = 0;
    QString m_hostText;
    int m_processtable = 0;
};

}  // namespace ferrowane
