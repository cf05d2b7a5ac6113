// The engine form Tcc: the Access target file and the table-level operations
// on it (make the file, probe, drop, create a table, make its keys).
#pragma once

#include <QString>
#include <QStringList>

namespace ferrowane {

class AccessConnection;
class AccessDataset;
class MySqlConnection;

class Tcc {
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

    // The per-user data folder: the user's data location followed by "Orvanel/".
    static QString AppDataFolder();

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

    // The statement text last built (the scratch buffer of the create step).
    const QString& tmpmemo() const { return m_tmpmemo; }
    const QStringList& lastIndexStatements() const { return m_indexStatements; }

private:
    QString m_tmpmemo;
    QStringList m_indexStatements;
};

}  // namespace ferrowane
