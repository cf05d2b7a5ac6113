// What each MySQL column becomes in the Access file, decided once per table:
// the only place that classifies a source column. From the server's column
// description it gives the source kind, the Access type declared for it, the
// target column name, how its values are converted and which of them may skip
// the general conversion. The create statement, the row transfer (both of its
// paths) and the loss lines read the plan; changing how a MySQL type maps is a
// change in column_plan.cpp alone.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

namespace ferrowane {

class AccessDataset;
struct SourceColumn;

// The Access format of the target file: accessformat 1 is Jet 4, anything else Jet 3.
enum class AccessFormat { Jet3, Jet4 };
inline AccessFormat accessFormatFor(int accessformat)
{
    return accessformat == 1 ? AccessFormat::Jet4 : AccessFormat::Jet3;
}

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

// The Access column declared for a MySQL type text.
struct ColumnType {
    QString declaration;  // the Access type word with its leading blank: " int", " text(50)"
    TargetKind target = TargetKind::Memo;
    SourceKind source = SourceKind::Other;
    int size = 0;         // text(n), binary(n)
    int precision = 0;    // source decimal(p,s), also for the Jet 3 double fallback
    int scale = 0;
    bool isUnsigned = false;
};

// The Access column a value goes into, as the target table has it (a table
// found in the file under Merge need not be the one the plan declares).
struct TargetColumn {
    TargetKind kind = TargetKind::Memo;
    int size = 0;             // text characters, binary bytes; 0 = no limit
    int precision = 0;        // decimal
    int scale = 0;
    qint64 minValue = -2147483648LL;  // whole-number columns (Long, Integer, Byte)
    qint64 maxValue = 2147483647LL;
    bool codePage1252 = false;  // Jet 3 text: characters code page 1252 lacks become "?"
};

// The declared size of a sized type text: the number after the first "(" (up
// to ")" or ","); 0 when there is none. varchar(255) gives 255, decimal(10,2) 10.
int ParseTypeSize(const QString& type);

// literal + the size of the type text after prefix + ")": for varchar(50) with
// "varchar(" and " text(" it gives " text(50)".
QString SizedTextType(const QString& type, const QString& prefix, const QString& literal);

// The Access column type of a MySQL type text as "show FIELDS" reports it.
// fourByteCharacters: the column's character set holds characters beyond
// U+FFFF, which take two of the UTF-16 units a Jet 4 text size counts.
// timeAsText: TIME columns become text as the server writes them.
ColumnType mapColumnType(const QString& type, bool blobtotext, AccessFormat format,
                         bool fourByteCharacters = false, bool timeAsText = false);

// Whether a collation's character set holds characters beyond U+FFFF
// (utf8mb4, utf16, utf16le, utf32, gb18030).
bool collationHasFourByteCharacters(const QString& collation);

// How the transfer reads a source column of a "select *" result.
SourceKind sourceKindOf(const SourceColumn& column);

// MySQL result column types (enum_field_types of <mysql.h>) by family.
bool isIntegerType(int mysqlType);   // tiny to bigint, year
bool isFloatingType(int mysqlType);  // float, double
bool isDecimalType(int mysqlType);   // decimal
bool isBlobType(int mysqlType);      // the blob and text types
bool isStringType(int mysqlType);    // blob and text types, char, varchar

// How a source column's bytes may be read without the general path.
struct RawSource {
    SourceKind kind = SourceKind::Other;
    int mysqlType = 0;       // enum_field_types of <mysql.h>
    bool utf8Text = false;   // texts come as UTF-8
    bool asciiText = false;  // texts come in a set where ASCII bytes are themselves
};

// Which values of a column go straight from the server's bytes into the
// field (when they go across unchanged that way); the rest take the general
// path, which also tells what they lost.
enum class FastRead : std::uint8_t {
    None,              // every value takes the general path
    Whole,             // integer digits into Byte, Integer or Long, within range
    WholeAsBoolean,    // integer digits into Yes/No
    WholeAsDouble,     // integer digits into Double, up to 2^53
    Floating,          // float or double digits into Double
    FloatingAsSingle,  // float or double digits into Single, when within its precision
    DecimalDigits,     // integer or decimal digits into Decimal or Currency, unrounded
    Date,              // a date or date-time text into Date
    Utf8Text,          // plain UTF-8 into Text or Memo, within the size
    AsciiText,         // ASCII only into Text or Memo, within the size
};

// The fast read for a source into a field of the given jet::ColumnType.
FastRead fastReadOf(const RawSource& source, int jetType, AccessFormat format);

// One row of "show full FIELDS": the columns the conversion reads.
struct SourceField {
    QString field;
    QString type;
    QString collation;  // empty for columns without one
};

// The plan of one source column.
struct ColumnPlan {
    QString sourceName;
    SourceKind source = SourceKind::Other;
    int bits = 0;               // bit(n): the binary digits written
    QString targetName;         // the Access column made from it
    ColumnType declared;        // create step: the type declared (from the type text)
    int field = -1;             // transfer: the row set's field, -1 when the table has none
    TargetColumn column;        // transfer: that field's column as the table has it
    FastRead fast = FastRead::None;
};

// The plan of a table to create, from its "show FIELDS" rows.
QList<ColumnPlan> planTable(const QList<SourceField>& fields, bool blobtotext, AccessFormat format,
                            bool timeAsText = false);

// The plan of a transfer, from the columns of the "select *" result, the
// character set its texts come in and the open row set of the target table.
std::vector<ColumnPlan> planTransfer(const QList<SourceColumn>& columns, const QString& characterSet,
                                     const AccessDataset& dataset, AccessFormat format);

}  // namespace ferrowane
