// Operations on the Access target file: write it from a template, probe,
// drop and create tables, make their keys. Keeps no state between calls but
// the last create statement built.
#pragma once

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

    // Reads the source table's columns and creates the Access table from them.
    // ok false with the provider's message when the statement is refused;
    // errors of the MySQL side pass on to the caller.
    void CreateTargetTable(MySqlConnection& source, AccessConnection& target, const QString& sourceTable,
                           const QString& targetTable, bool blobtotext, bool& ok, QString& error);

    // Recreates the source table's primary key and other keys on the target
    // table. Every key is tried; ok false with the last failure's message, and
    // each failure's message in failures (when given).
    void ConvertIndexes(MySqlConnection& source, AccessConnection& target, const QString& sourceTable,
                        const QString& targetTable, bool& ok, QString& error, QStringList* failures = nullptr);

    // The create statement CreateTargetTable built last.
    const QString& lastCreateStatement() const { return m_lastCreateStatement; }

    // Whether CreateTargetTable makes TIME columns text (the timetotext option).
    void setTimeAsText(bool on) { m_timeAsText = on; }

private:
    QString m_lastCreateStatement;
    bool m_timeAsText = false;
};

}  // namespace ferrowane
