// The texts that make an Access table from a MySQL one: target column names
// and the create, primary-key and index statements (the column types come
// from column_plan.h). Pure text work; target_operations.h runs them.
#pragma once

#include "engine/column_plan.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ferrowane {

// The longest column and table name the conversion gives the target file.
constexpr int kMaxAccessNameLength = 60;
// Index and constraint names are cut to this.
constexpr int kMaxIndexNameLength = 30;

// The target column name made for each source column, in order. Names are
// cut to 60 characters; a cut name that equals (letter case aside) one given
// to an earlier column gets the form of a long table name: its first 56
// characters and the first free four-digit number.
QStringList targetColumnNames(const QStringList& sourceNames);

// Puts a name between "[" and "]".
QString bracketed(const QString& name);

// "Create table [T] (" CR LF "[c] type , " CR LF ... "[last] type" CR LF " ) ".
QString createTableStatement(const QString& targetTable, const QList<SourceField>& fields,
                             bool blobtotext, AccessFormat format, bool timeAsText = false);

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
