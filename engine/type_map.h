// How a MySQL table becomes an Access table: the column type map, target
// column names, and the text of the create, primary-key and index statements.
// Pure text work; target_operations.h runs the statements.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace ferrowane {

// The Access format of the target file: accessformat 1 is Jet 4, anything else Jet 3.
enum class AccessFormat { Jet3, Jet4 };
inline AccessFormat accessFormatFor(int accessformat)
{
    return accessformat == 1 ? AccessFormat::Jet4 : AccessFormat::Jet3;
}

// The longest column and table name the conversion gives the target file.
constexpr int kMaxAccessNameLength = 60;
// Index and constraint names are cut to this.
constexpr int kMaxIndexNameLength = 30;

// What a source column's values become; the row transfer converts by it.
enum class TargetKind {
    Long,       // " int"
    Double,     // " double"
    Single,     // " single"
    Decimal,    // " decimal(p,s)"
    Currency,   // " currency"
    Text,       // " text(n)"
    Memo,       // " Memo"
    Date,       // " Date"
    Binary,     // " binary(n)"
    OleObject,  // " OleObject"
};

// What the source value is, as far as its conversion cares.
enum class SourceKind {
    Number,    // integers, floating and fixed point numbers, year
    Text,      // character types, enum, set
    Blob,      // blob, tinyblob, mediumblob, longblob
    Bytes,     // binary(n), varbinary(n)
    Bits,      // bit(n): n binary digits
    Date,      // date, datetime, timestamp
    Time,      // time
    Spatial,   // geometry types: well-known text
    Other,     // anything else (json, uuid, inet6, ...): the server's text
};

struct ColumnType {
    QString declaration;  // the Access type word with its leading blank: " int", " text(50)"
    TargetKind target = TargetKind::Memo;
    SourceKind source = SourceKind::Other;
    int size = 0;         // text(n), binary(n)
    int precision = 0;    // source decimal(p,s), also for the Jet 3 double fallback
    int scale = 0;
    bool isUnsigned = false;
};

// The declared size of a sized type text: the number after the first "(" (up
// to ")" or ","); 0 when there is none. varchar(255) gives 255, decimal(10,2) 10.
int ParseTypeSize(const QString& type);

// literal + the size of the type text after prefix + ")": for varchar(50) with
// "varchar(" and " text(" it gives " text(50)".
QString SizedTextType(const QString& type, const QString& prefix, const QString& literal);

// The Access column type of a MySQL type text as "show FIELDS" reports it.
ColumnType mapColumnType(const QString& type, bool blobtotext, AccessFormat format);

// One row of "show FIELDS": the two columns the conversion reads.
struct SourceField {
    QString field;
    QString type;
};

// The target column name made for each source column, in order. Names are
// cut to 60 characters; a cut name that equals (letter case aside) one given
// to an earlier column gets the form of a long table name: its first 56
// characters and the first free four-digit number.
QStringList targetColumnNames(const QStringList& sourceNames);

// Puts a name between "[" and "]".
QString bracketed(const QString& name);

// "Create table [T] (" CR LF "[c] type , " CR LF ... "[last] type" CR LF " ) ".
QString createTableStatement(const QString& targetTable, const QList<SourceField>& fields,
                             bool blobtotext, AccessFormat format);

// One row of "show index from".
struct IndexRow {
    QString table;        // "Table"
    QString keyName;      // "Key_name"
    QString seqInIndex;   // "Seq_in_index" as text
    QString columnName;   // "Column_name"
};

// The statements that make a table's keys, one per key, in the order of the
// index list. The primary key becomes
//   "alter table [T]  add constraint [PRIMARYT1] primary key ([a],[b])"
// and every other key "create index [idx_<key><source>] on [T] ([a],[b])";
// names cut to 30 characters, column names to the target names the create
// step made (fieldNames is the table's source column list, in order).
QStringList indexStatements(const QList<IndexRow>& rows, const QString& sourceTable,
                            const QString& targetTable, const QStringList& fieldNames);

// Upper-cases the ASCII letters a to z only.
QString asciiUpper(const QString& text);

}  // namespace ferrowane
