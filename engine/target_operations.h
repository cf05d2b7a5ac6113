// Operations on the Access target file: write it from a template, probe,
// drop and create tables, make their keys. Keeps no state between calls but
// what the last create built.
#pragma once

#include "engine/type_map.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ferrowane {

class AccessConnection;
class AccessDataset;
class MySqlConnection;

class TargetOperations {
public:
    // Writes the empty database of the chosen format ("mdb2000" for position 1,
    // "mdb95" otherwise) to the path when no file is there; an existing file
    // is used as it is. Throws AccessError when the file cannot be written.
    void PrepareTargetFile(const QString& path, int formatPosition);

    // Writes the template named resourceName ("mdb95", "mdb2000"; letter case
    // aside) of type resourceType ("mdbfile") to the path, replacing any file
    // there. Throws AccessError for an unknown template or a failed write.
    void WriteTemplate(const QString& resourceName, const QString& resourceType, const QString& path);

    // Whether "Select 1 from [name] where 1=0" opens; every failure reads as false.
    bool TargetTableExists(AccessDataset& dataset, const QString& name);

    // "drop table [name]"; ok false and the provider's message on failure.
    void DropTargetTable(AccessConnection& command, const QString& name, bool& ok, QString& error);

    // Reads the source table's columns and creates the Access table from them
    // (no keys: those come after the rows, from ReadKeys and MakeKey).
    // ok false with the provider's message when the statement is refused;
    // errors of the MySQL side pass on to the caller.
    void CreateTargetTable(MySqlConnection& source, AccessConnection& target, const QString& sourceTable,
                           const QString& targetTable, bool blobtotext, bool& ok, QString& error);

    // The source table's primary key and other keys as statements for the
    // target table, in the server's order. Errors of the MySQL side pass on.
    QList<KeyStatement> ReadKeys(MySqlConnection& source, const QString& sourceTable, const QString& targetTable,
                                 AccessFormat format);

    // What became of one key.
    struct KeyOutcome {
        enum Result { Made, MadePlain, NotMade };
        Result result = Made;
        QString message;  // the provider's refusal, for MadePlain and NotMade
    };
    // Makes one key on a table that holds its rows, as a statement of its
    // own (committed when no transaction is open). A primary or unique key
    // that the provider refuses (Access compares texts without regard to
    // letter case, so values the source keeps apart may be duplicates) is
    // made as a plain index of the same name and columns instead.
    KeyOutcome MakeKey(AccessConnection& target, const KeyStatement& key);

    // The create statement CreateTargetTable built last.
    const QString& lastCreateStatement() const { return m_lastCreateStatement; }

    // Whether CreateTargetTable makes TIME columns text (the timetotext option).
    void setTimeAsText(bool on) { m_timeAsText = on; }

    // Columns of that table whose names were given their legal form:
    // (source name, target name).
    const QList<QPair<QString, QString>>& lastRenamedColumns() const { return m_lastRenamedColumns; }

private:
    QString m_lastCreateStatement;
    QList<QPair<QString, QString>> m_lastRenamedColumns;
    bool m_timeAsText = false;
};

}  // namespace ferrowane
