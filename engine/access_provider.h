// The Access side as the conversion sees it: a connection made from a
// connection string, statements executed on it, and a row set that probes a
// table or appends rows to it. Underneath is our own Jet engine (jet/), which
// reads the statement texts; this layer passes its errors on with their
// messages unchanged. The connection lives in access_connection.cpp, the row
// set in access_dataset.cpp, the fast filling of rows in field_encoder.h.
#pragma once

#include "engine/column_plan.h"
#include "engine/error.h"

#include "jet/prepared_row.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <stdexcept>
#include <vector>

namespace jet {
class Database;
class RowSet;
}  // namespace jet

namespace ferrowane {

// A failure of the Access side; message() is the text to show as it stands.
class AccessError : public Error {
public:
    explicit AccessError(const QString& message) : Error(ErrorKind::Target, message) {}
};

// The connection to the target file; statements run on it.
class AccessConnection {
public:
    AccessConnection();
    ~AccessConnection();
    AccessConnection(const AccessConnection&) = delete;
    AccessConnection& operator=(const AccessConnection&) = delete;

    // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Persist Security Info=False"
    static QString connectionStringFor(const QString& path);
    // The file named by a connection string; empty when it names none.
    static QString dataSourceOf(const QString& connectionString);

    void setConnectionString(const QString& text);
    QString connectionString() const { return m_connectionString; }

    // Opens the file the connection string names (closing first). Throws AccessError.
    void open();
    // Commits what a transaction left pending and closes the file.
    void close();
    bool isOpen() const;

    // Runs one statement: "drop table [T]", "Create table [T] (...)",
    // "alter table [T]  add constraint [N] primary key (...)",
    // "create [unique] index [N] on [T] (...)", read by the engine. Throws AccessError.
    void execute(const QString& statement);

    void beginTransaction();
    void commitTransaction();
    void rollbackTransaction();
    bool inTransaction() const;
    // The open transaction is large enough that it should be committed now
    // (before the engine keeps its pages in the journal until the commit).
    bool transactionIsLarge() const;

    // Whether the file has a table of that name (letter case aside).
    bool hasTable(const QString& name);
    AccessFormat format() const;
    // The open file (for reading it back); throws AccessError when closed.
    jet::Database& database();

    // A file size limit below the format's own (1 GB / 2 GB), applied from
    // the next open; 0 keeps the format's. For runs that must leave room.
    void setMaxFileSize(quint64 bytes) { m_maxFileSize = bytes; }

private:
    QString m_connectionString;
    quint64 m_maxFileSize = 0;
    std::unique_ptr<jet::Database> m_db;
};

// One column of an open row set.
struct AccessField {
    QString name;
    TargetColumn column;   // what values it takes
    int jetType = 0;       // jet::ColumnType
    int position = 0;      // index into the table definition's columns
};

class FieldEncoder;

// A row set: "Select 1 from [T] where 1=0" or "select * from [T] where 1=0"
// opens an empty row set on T (and fails when T does not exist); rows are
// then appended with append / setField / post.
class AccessDataset {
public:
    explicit AccessDataset(AccessConnection& connection);
    ~AccessDataset();

    void setCommandText(const QString& text);
    QString commandText() const { return m_commandText; }

    // Throws AccessError (no such table, a statement it does not take).
    void open();
    // Drops a row being appended and not posted.
    void close();
    bool isOpen() const { return m_open; }

    const QList<AccessField>& fields() const { return m_fields; }
    // Position of a field by name, letter case aside; -1 when none.
    int fieldIndex(const QString& name) const;

    // Starts a new row with every field unset.
    void append();
    // Sets one field of the new row; the value as convertValue gives it for
    // the field's column. Throws AccessError when the field cannot take it
    // (the field then stays unset). Returns an empty text, or what was
    // changed to store it (characters a Jet 3 file cannot hold).
    QString setField(int index, const QVariant& value);
    // Writes the new row. Throws AccessError when the engine refuses it.
    void post();

    // Throws as append does when the row set takes no rows.
    void checkAppendable() const;
    // Writes a row made ready by a FieldEncoder of this table; the row is
    // used as scratch space. Throws AccessError when the engine refuses it.
    void postPrepared(jet::PreparedRow& row);

    AccessFormat format() const { return m_connection.format(); }

private:
    friend class FieldEncoder;
    QString tableName() const;
    AccessConnection& m_connection;
    QString m_commandText;
    std::unique_ptr<jet::RowSet> m_rows;  // null when closed; without a table for a probe
    bool m_open = false;
    QList<AccessField> m_fields;
    jet::RowEncoder m_encoder;
    jet::PreparedRow m_row;
    bool m_appending = false;
    bool m_readOnly = false;  // the engine's own tables take no rows from us
};

}  // namespace ferrowane
