// Every option of one conversion job, and how the stores spell them as text.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ferrowane {

// What happens to a selected table that the target file already has.
enum class ProcessTable { Overwrite = 0, Merge = 1, Skip = 2 };

struct ConversionSettings {
    int accessmode = 0;            // 0 local ("localhost"), 1 remote (host)
    QString mysqldatabase;
    QString port = QStringLiteral("3306");
    QString mysqlu;
    QString mysqlp;
    QString host;
    QString accessfilename;
    int accessformat = 0;          // 0 "MS Access 95/97", 1 "MS Access 2000"
    int processtable = 0;          // see ProcessTable; other values behave as Merge
    QString character_set = QStringLiteral("Default");
    bool tabledefonly = false;
    bool skipindex = false;
    bool blobtotext = false;
    bool timetotext = false;       // TIME columns as text, as the server writes them
    int alltables = 1;             // job files only
    QStringList tables;            // job files only: the tables, in conversion order
    bool nameuppercase = false;
    // What of the schema goes beyond types, keys and rows (schema_extras.h).
    // New jobs have them on; job files without their keys have them off.
    bool autonumber = true;        // AUTO_INCREMENT -> AutoNumber
    bool required = true;          // NOT NULL -> Required (and AllowZeroLength for text)
    bool defaults = true;          // DEFAULT -> DefaultValue
    bool descriptions = true;      // comments -> Description
    bool relationships = true;     // foreign keys -> relationships

    bool operator==(const ConversionSettings&) const = default;
};

// The character sets the source connection can ask for; position 0 asks for none.
const QStringList& characterSetNames();
// Position of a name in that list, or -1 when it is not one of its entries.
int characterSetPosition(const QString& name);

// Text encodings shared by the settings store and the job files.
QString encodeFlag(bool value);
bool decodeFlag(const QString& text);          // set only by exactly "1"
QString encodeChoice(int position);
// The position, or nothing when the text is not a decimal integer; each store
// applies its own rule then (fall back to 0, or stop applying the job).
std::optional<int> decodeChoice(const QString& text);

}  // namespace ferrowane
