// The Access side as the conversion sees it: a connection made from a
// connection string, statements executed on it, and a row set that probes a
// table or appends rows to it. Underneath is our own Jet engine (jet/); this
// layer only reads the statement texts and passes the engine's errors on with
// their messages unchanged.
#pragma once

#include "engine/error.h"
#include "engine/value_convert.h"

#include "jet/field_codec.h"
#include "jet/format.h"
#include "jet/table_def.h"
#include "jet/value.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <stdexcept>
#include <vector>

namespace jet {
class Database;
class Table;
}  // namespace jet

namespace ferrowane {

// A failure of the Access side; message() is the text to show as it stands.
class AccessError : public Error {
public:
    explicit AccessError(const QString& message) : Error(ErrorKind::Target, message) {}
};

// accconnection (with accesssql: statements run on the connection).
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

    // Whether the file has a table of that name (letter case aside).
    bool hasTable(const QString& name);
    AccessFormat format() const;
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

class AccessDataset;

// A new row made ready away from the row set (see FieldEncoder): the values
// and their encoded fields, in the order of the table's columns.
struct PreparedRow {
    std::vector<jet::Value> values;
    std::vector<jet::Field> fields;
};

// How a source column's bytes may be read without the general path.
struct RawSource {
    SourceKind kind = SourceKind::Other;
    int mysqlType = 0;       // enum_field_types of <mysql.h>
    bool utf8Text = false;   // texts come as UTF-8
    bool asciiText = false;  // texts come in a set where ASCII bytes are themselves
};

// What setField does, for the fields of a row set as it was when the encoder
// was made, on a copy of everything it needs: an encoder may be used on
// another thread while the row set posts rows.
class FieldEncoder {
public:
    FieldEncoder() = default;
    explicit FieldEncoder(AccessDataset& dataset);

    int fieldCount() const { return int(m_fields.size()); }
    const TargetColumn& column(int field) const { return m_fields[size_t(field)].column; }

    // Sizes the row for the table, every field unset.
    void clear(PreparedRow& row) const;
    // Like AccessDataset::setField: the value as convertValue gives it.
    // Throws AccessError (the field then stays unset); returns what was
    // changed to store it, or an empty text.
    QString set(PreparedRow& row, int field, const QVariant& value) const;
    // The value straight from the server's bytes (raw; a null view is NULL)
    // when it goes across unchanged that way; false when it needs the
    // general path (convertValue, then set), the field then unset.
    bool setRaw(PreparedRow& row, int field, const RawSource& source, QByteArrayView raw) const;

private:
    struct Slot {
        jet::ColumnDef def;
        TargetColumn column;
        QString name;
        int position = 0;
    };
    void unset(PreparedRow& row, const Slot& slot) const;
    jet::Format m_format{};
    bool m_jet4 = false;
    size_t m_columnCount = 0;
    std::vector<Slot> m_fields;
};

// accdataset: "Select 1 from [T] where 1=0" or "select * from [T] where 1=0"
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
    bool isOpen() const { return m_table != nullptr; }

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
    void postPrepared(PreparedRow& row);

private:
    friend class FieldEncoder;
    AccessConnection& m_connection;
    QString m_commandText;
    jet::Table* m_table = nullptr;
    QList<AccessField> m_fields;
    std::vector<jet::Value> m_row;
    bool m_appending = false;
    bool m_readOnly = false;  // the engine's own tables take no rows from us
};

// Statement texts read by the provider, exposed for tests.
struct ParsedColumn {
    QString name;
    QString typeName;   // lower-cased: "int", "text", "decimal", ...
    int size = -1;      // text(n), binary(n); -1 when not given
    int precision = -1; // decimal(p,s)
    int scale = -1;
};
struct ParsedStatement {
    enum Kind { DropTable, CreateTable, PrimaryKey, CreateIndex, Select } kind = DropTable;
    QString table;
    QString name;            // constraint or index name
    bool unique = false;
    bool selectAll = false;  // "select *" rather than "select 1"
    QList<ParsedColumn> columns;
    QStringList keyColumns;
};
// Throws AccessError with a syntax message when the text is not one of the forms.
ParsedStatement parseAccessStatement(const QString& statement);

}  // namespace ferrowane
