// Layout constants of the two file formats: Jet 3 (Access 95/97, 2048-byte
// pages) and Jet 4 (Access 2000, 4096-byte pages).
#pragma once

#include <cstdint>

namespace jet {

enum class Version { Jet3 = 0, Jet4 = 1 };

struct Format {
    Version version;
    uint32_t pageSize;
    uint64_t maxFileSize;          // the engine refuses files beyond this

    // page 0
    uint32_t headerObfuscatedLength; // bytes from 0x18 under the RC4 key
    uint32_t passwordLength;

    // data pages
    uint32_t dataRowCountOffset;   // row count; the offset table follows it
    uint32_t dataHeaderSize;       // up to the first row offset
    uint32_t maxRowsPerPage;

    // table definition header
    uint32_t tdefRowCount;
    uint32_t tdefAutoNumber;
    uint32_t tdefTableType;
    uint32_t tdefMaxColumns;
    uint32_t tdefVarColumns;
    uint32_t tdefColumnCount;
    uint32_t tdefLogicalIndexCount;
    uint32_t tdefPhysicalIndexCount;
    uint32_t tdefOwnedMap;
    uint32_t tdefFreeMap;
    uint32_t tdefHeaderEnd;
    uint32_t tdefContinuationStart; // where data resumes on continuation pages

    uint32_t physicalIndexCountEntrySize;
    uint32_t columnDescriptorSize;
    uint32_t physicalIndexDefSize;
    uint32_t logicalIndexDefSize;

    // column descriptor fields
    uint32_t colNumber;
    uint32_t colVarIndex;
    uint32_t colNumber2;
    uint32_t colPrecision;
    uint32_t colScale;
    uint32_t colSortOrder;
    uint32_t colCodePage;          // Jet 3 only
    uint32_t colFlags;
    uint32_t colExtFlags;          // Jet 4 only
    uint32_t colFixedOffset;
    uint32_t colLength;

    // usage maps
    uint32_t inlineMapBytes;       // bitmap bytes of an inline map row

    // long values
    uint32_t lvalSingleMax;        // largest value in one long-value row
    uint32_t lvalChainChunk;       // payload of one chained row

    // index pages
    uint32_t indexEntriesOffset;

    bool jet4() const { return version == Version::Jet4; }
    // Row offsets and counts: 1 byte in Jet 3 rows, 2 bytes in Jet 4 rows.
    uint32_t rowFieldSize() const { return jet4() ? 2 : 1; }
};

const Format& jet3Format();
const Format& jet4Format();
inline const Format& formatFor(Version v) { return v == Version::Jet4 ? jet4Format() : jet3Format(); }

// Column types as stored in column descriptors.
enum class ColumnType : uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Numeric = 0x10,
};

// The type's name as Access's table design shows it ("Long Integer").
const char* columnTypeName(ColumnType t);

// Column flags.
constexpr uint8_t kColFixed = 0x01;
constexpr uint8_t kColNullable = 0x02;
constexpr uint8_t kColAutoNumber = 0x04;
constexpr uint8_t kColExtCompressed = 0x01;

// Page types.
constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageTableDef = 0x02;
constexpr uint8_t kPageIndexNode = 0x03;
constexpr uint8_t kPageIndexLeaf = 0x04;
constexpr uint8_t kPageUsageMap = 0x05;

constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1FFF;

constexpr uint8_t kTableUser = 0x4E;
constexpr uint8_t kTableSystem = 0x53;

// Magic numbers of Jet 4 table definitions and descriptors.
constexpr uint32_t kJet4TableMagic = 0x0659;
constexpr uint32_t kJet4IndexMagic = 0x0783;

} // namespace jet
