// The wizard's connection and option pages: the MySQL login (step 2), the
// fields of a second server that are only stored (a page never shown), and
// the conversion settings with the target file (step 4). Each page owns its
// controls; the window reads and fills them through the functions here.
#pragma once

#include "engine/conversion_settings.h"
#include "settings/settings_store.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ferrowane {

// Step 2: local or remote server, database name, login, host, port and
// character set.
class ConnectionPage : public QWidget {
    Q_OBJECT

public:
    explicit ConnectionPage(QWidget* parent = nullptr);

    // accessmode, mysqldatabase (as typed), port, mysqlu, mysqlp, host, character_set.
    void readInto(ConversionSettings& settings) const;
    // Positions out of range show the nearest item; an empty port shows "3306".
    void showStored(const StoredSettings& stored);

    QString typedDatabase() const;
    void focusDatabase();
    // Position of the character-set box's text in the list; -1 when it names no entry.
    int characterSetIndex() const;

    // A job's values, field by field. A mode outside the range checks none.
    void setAccessMode(int position);
    void setDatabase(const QString& name);
    void setUser(const QString& user);
    void setPassword(const QString& password);
    // "Remember password": whether the password is kept for the next start.
    bool rememberPassword() const;
    void setRememberPassword(bool on);
    void setHost(const QString& host);
    void setPort(const QString& port);
    // A name equal to an entry selects it; any other stays as typed text.
    void setCharacterSet(const QString& name);

private:
    // The host field is for remote servers: disabled and greyed when local.
    void followAccessMode();

    QGroupBox* m_accessMode = nullptr;
    QButtonGroup* m_accessModeItems = nullptr;
    QLineEdit* m_database = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_rememberPassword = nullptr;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_port = nullptr;
    QComboBox* m_characterSet = nullptr;
};

// A page never shown: the fields of a second server and the upper-case
// switch, which the store and jobs carry.
class SecondServerPage : public QWidget {
    Q_OBJECT

public:
    explicit SecondServerPage(QWidget* parent = nullptr);

    // oracleh, oracleu, oraclep and nameuppercase.
    void readInto(StoredSettings& stored) const;
    void showStored(const StoredSettings& stored);

    bool namesUpperCase() const;
    void setNamesUpperCase(bool on);
    void setServer(const QString& service, const QString& user, const QString& password);

private:
    QLineEdit* m_service = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_upperCase = nullptr;
};

// Step 4: the database to convert, how existing tables are treated, the
// option switches, and the target file with its format.
class OptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit OptionsPage(QWidget* parent = nullptr);

    // accessfilename, accessformat, processtable, tabledefonly, skipindex, blobtotext, timetotext.
    void readInto(ConversionSettings& settings) const;
    // The default Access folder as stored; empty when none was.
    QString storedFolder() const;
    // Positions out of range show the nearest item; the file dialog opens in
    // the stored folder.
    void showStored(const StoredSettings& stored);

    // The server's databases, the one at selectedIndex chosen (-1: none).
    void showDatabases(const QStringList& names, int selectedIndex);
    // The chosen database; empty when none is chosen.
    QString chosenDatabase() const;
    bool databaseChosen() const;
    void focusDatabases();

    QString accessFileName() const;
    void focusBrowse();
    // "Browse...": the save dialog, on the current file, or in the default
    // folder with "<database>.mdb" proposed.
    void browseForAccessFile();
    // The folder the save dialog opens in: the last one used (stored or
    // chosen since), else the documents folder, else the home folder.
    QString accessDialogFolder() const;
    // The save dialog's title and the name of its one filter, in the interface language.
    void setDialogTexts(const QString& title, const QString& filterName);
    // The caption of the chosen processtable item, such as "Overwrite"; empty when none.
    QString processTableCaption() const;

    // A job's values, field by field. A format out of range shows the nearest
    // entry; a processtable position out of range checks none (a run then merges).
    void setAccessFormat(int position);
    void setAccessFileName(const QString& path);
    void setProcessTable(int position);
    void setSwitches(bool tabledefonly, bool skipindex, bool blobtotext);
    void setTimeAsText(bool on);
    // AutoNumber, required, defaults, descriptions, relationships.
    void setSchemaOptions(bool autonumber, bool required, bool defaults, bool descriptions, bool relationships);

private:
    QListWidget* m_databases = nullptr;
    QGroupBox* m_processTable = nullptr;
    QButtonGroup* m_processTableItems = nullptr;
    QCheckBox* m_definitionsOnly = nullptr;
    QCheckBox* m_skipIndexes = nullptr;
    QCheckBox* m_blobToText = nullptr;
    QCheckBox* m_timeToText = nullptr;  // off at every start: a job or a click sets it
    QCheckBox* m_autonumber = nullptr;
    QCheckBox* m_required = nullptr;
    QCheckBox* m_defaults = nullptr;
    QCheckBox* m_descriptions = nullptr;
    QCheckBox* m_relationships = nullptr;
    QComboBox* m_accessFormat = nullptr;
    QLineEdit* m_accessFileName = nullptr;
    QPushButton* m_browse = nullptr;
    QFileDialog* m_saveDialog = nullptr;
    QString m_defaultAccessDir;  // the last folder used: as loaded, or of the file chosen since; empty when none
};

}  // namespace ferrowane
