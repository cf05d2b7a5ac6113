// The two on-disk layouts side by side: every size and offset that differs
// between Jet 3 (Access 95/97) and Jet 4 (Access 2000) is one row of the table
// below, so a new field is added for both formats at once.
#include "jet/format.h"

namespace jet {

namespace {

// field                        Jet 3                       Jet 4
#define JET_FORMAT_FIELDS(ROW)                                                                  \
    ROW(pageSize,                   2048,                       4096)                           \
    ROW(maxFileSize,                1ull << 30,                 1ull << 31)                     \
    ROW(headerObfuscatedLength,     126,                        128)                            \
    ROW(passwordLength,             20,                         40)                             \
    ROW(dataRowCountOffset,         8,                          12)                             \
    ROW(dataHeaderSize,             10,                         14)                             \
    ROW(maxRowsPerPage,             255,                        255)                            \
    ROW(tdefRowCount,               12,                         16)                             \
    ROW(tdefAutoNumber,             16,                         20)                             \
    ROW(tdefTableType,              20,                         40)                             \
    ROW(tdefMaxColumns,             21,                         41)                             \
    ROW(tdefVarColumns,             23,                         43)                             \
    ROW(tdefColumnCount,            25,                         45)                             \
    ROW(tdefLogicalIndexCount,      27,                         47)                             \
    ROW(tdefPhysicalIndexCount,     31,                         51)                             \
    ROW(tdefOwnedMap,               35,                         55)                             \
    ROW(tdefFreeMap,                39,                         59)                             \
    ROW(tdefHeaderEnd,              43,                         63)                             \
    ROW(tdefContinuationStart,      8,                          8)                              \
    ROW(physicalIndexCountEntrySize, 8,                         12)                             \
    ROW(columnDescriptorSize,       18,                         25)                             \
    ROW(physicalIndexDefSize,       39,                         52)                             \
    ROW(logicalIndexDefSize,        20,                         28)                             \
    ROW(colNumber,                  1,                          5)                              \
    ROW(colVarIndex,                3,                          7)                              \
    ROW(colNumber2,                 5,                          9)                              \
    ROW(colPrecision,               7,                          11)                             \
    ROW(colScale,                   8,                          12)                             \
    ROW(colSortOrder,               9,                          11)                             \
    ROW(colCodePage,                11,                         0)                              \
    ROW(colFlags,                   13,                         15)                             \
    ROW(colExtFlags,                0,                          16)                             \
    ROW(colFixedOffset,             14,                         21)                             \
    ROW(colLength,                  16,                         23)                             \
    ROW(inlineMapBytes,             128,                        64)                             \
    /* a long value in one row: the page less its header, one offset and the row's length */    \
    ROW(lvalSingleMax,              2048 - 10 - 2 - 4,          4096 - 14 - 2 - 4)              \
    /* a chained row also gives 4 bytes to the next-row pointer */                              \
    ROW(lvalChainChunk,             2048 - 10 - 2 - 4 - 4,      4096 - 14 - 2 - 4 - 4)          \
    ROW(indexEntriesOffset,         0xF8,                       0x1E0)

Format makeFormat(Version version)
{
    const bool jet4 = version == Version::Jet4;
    Format f{};
    f.version = version;
#define JET_FORMAT_ASSIGN(field, jet3Value, jet4Value) f.field = jet4 ? (jet4Value) : (jet3Value);
    JET_FORMAT_FIELDS(JET_FORMAT_ASSIGN)
#undef JET_FORMAT_ASSIGN
    return f;
}

#undef JET_FORMAT_FIELDS

} // namespace

const Format& jet3Format()
{
    static const Format f = makeFormat(Version::Jet3);
    return f;
}

const Format& jet4Format()
{
    static const Format f = makeFormat(Version::Jet4);
    return f;
}

const char* columnTypeName(ColumnType t)
{
    switch (t) {
    case ColumnType::Boolean: return "Yes/No";
    case ColumnType::Byte: return "Byte";
    case ColumnType::Integer: return "Integer";
    case ColumnType::Long: return "Long Integer";
    case ColumnType::Currency: return "Currency";
    case ColumnType::Single: return "Single";
    case ColumnType::Double: return "Double";
    case ColumnType::DateTime: return "Date/Time";
    case ColumnType::Binary: return "Binary";
    case ColumnType::Text: return "Text";
    case ColumnType::Ole: return "OLE Object";
    case ColumnType::Memo: return "Memo";
    case ColumnType::Guid: return "Replication ID";
    case ColumnType::Numeric: return "Decimal";
    }
    return "unknown";
}

} // namespace jet
