// The options of the last job, kept per user between starts of the program.
// On Windows this is the registry key HKCU\SOFTWARE\Tarnwick\Ferrowane; elsewhere
// Qt's native configuration file for the same organisation and application.
// Every value is a string: choices as their decimal position, flags as "1"/"0".
#pragma once

#include <QString>

namespace ferrowane {

// What the store holds. The Access file itself is not kept, only its folder.
struct StoredSettings {
    int accessmode = 0;               // 0 local, 1 remote
    QString mysqldatabase;
    QString mysqlu;
    QString mysqlp;                   // plain text: the file is readable by its owner only
    QString host;
    QString port = QStringLiteral("3306");
    int characterSet = 0;             // position in characterSetNames(); -1 none selected
    QString characterSetName;         // with -1: the name typed into the box, kept as "Character Set Name"
    QString oracleh;
    QString oracleu;
    QString oraclep;
    int processtable = 0;             // 0 Overwrite, 1 Merge, 2 Skip
    bool tabledefonly = false;
    bool nameuppercase = false;
    bool skipindex = false;
    bool blobtotext = false;
    bool timetotext = false;
    // The schema beyond types, keys and rows: on until the user turns one off.
    bool autonumber = true;
    bool required = true;
    bool defaults = true;
    bool descriptions = true;
    bool relationships = true;
    int accessformat = 0;             // 0 "MS Access 95/97", 1 "MS Access 2000"
    QString defaultaccessdir;         // folder of the last target file, empty when none stored

    bool operator==(const StoredSettings&) const = default;
};

// Where the store lives on this platform (the configuration file, or on
// Windows the registry path).
QString settingsLocation();

// Reads the stored options. A missing store gives the defaults; a choice that
// is not a decimal integer falls back to position 0 and the rest still loads;
// an empty port reads as "3306"; a flag is set only by exactly "1". Positions
// are returned as stored, also when out of range: the window decides how to
// show them.
StoredSettings LoadSettings();

// Writes every value. "defaultaccessdir" is written only when accessFileName
// is not empty (its folder, up to and including the last separator); otherwise
// the stored folder stays. Failures are silent: returns false when nothing
// could be written.
bool SaveSettings(const StoredSettings& values, const QString& accessFileName);

// The folder part of a path, up to and including its last "/" or "\";
// empty when the path has no separator.
QString folderOfPath(const QString& path);

}  // namespace ferrowane
