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
// Index and constraint names: the longest name Access allows.
constexpr int kMaxIndexNameLength = 64;

// The nearest name Access accepts: each character it refuses in a name
// (".", "!", "`", "[", "]", a control character, and in Jet 3 a character
// code page 1252 cannot hold) becomes "_", and leading blanks are dropped
// ("_" when nothing is left). A legal name comes back unchanged.
QString accessLegalName(const QString& name, AccessFormat format);

// Names kept apart for a set of Access names (which ignore letter case), in
// order. A name is cut to maxLength characters and kept when no earlier name
// took it; otherwise, and always for a name over maxLength when numberLong
// is set, it becomes its first maxLength - 4 characters and a four-digit
// number, the first that no other name of the set takes. Names that keep
// their form are placed first, so the same list always gives the same names.
// An empty text where no number is free.
QStringList distinctNames(const QStringList& names, int maxLength, bool numberLong);

// The target column name made for each source column, in order: its legal
// form, cut to 60 characters; one that equals (letter case aside) another
// column's gets the numbered form (distinctNames).
QStringList targetColumnNames(const QStringList& sourceNames, AccessFormat format);

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
    QString nonUnique = QStringLiteral("1");  // "Non_unique": "0" for unique keys
};

// One key of a table as the target file gets it.
struct KeyStatement {
    QString name;       // the index or constraint name
    QString statement;  // what makes the key as the source has it
    // For a primary or unique key: the plain index of the same name and
    // columns, made when Access's comparison finds duplicates the source
    // keeps apart. Empty for a plain key.
    QString plainStatement;
};

// The statements that make a table's keys, one per key, in the order of the
// index list. The primary key becomes
//   "alter table [T]  add constraint [PRIMARYT1] primary key ([a],[b])",
// a unique key "create unique index [idx_<key><source>] on [T] ([a],[b])"
// and any other key the same without "unique". Names take their legal form
// and up to 64 characters, numbered where they would still be equal; column
// names are the target names the create step made (fieldNames is the
// table's source column list, in order).
QList<KeyStatement> indexStatements(const QList<IndexRow>& rows, const QString& sourceTable,
                                    const QString& targetTable, const QStringList& fieldNames,
                                    AccessFormat format);

// Upper-cases the ASCII letters a to z only.
QString asciiUpper(const QString& text);

}  // namespace ferrowane
