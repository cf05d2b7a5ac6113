// A table definition as stored on its definition page(s): the header
// counts, the column descriptors, the physical and logical index
// definitions and the usage maps of long-value columns.
#pragma once

#include "jet/format.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

struct ColumnDef {
    std::string name;              // UTF-8
    ColumnType type = ColumnType::Long;
    uint16_t number = 0;           // column id, counts deleted columns
    uint16_t varIndex = 0;         // slot in the row's variable offset table
    uint16_t number2 = 0;          // the id again, as stored
    uint16_t fixedOffset = 0;      // start in the row's fixed area
    uint16_t length = 0;           // bytes (text: 2 per character in Jet 4)
    uint8_t flags = 0;
    uint8_t extFlags = 0;          // Jet 4: compressed text
    uint8_t precision = 0;         // decimal
    uint8_t scale = 0;
    uint16_t sortOrder = 0;        // text: 0x0409 General
    uint8_t sortVersion = 0;       // Jet 4 text: 0 General Legacy
    uint16_t codePage = 0;         // Jet 3 text: 1252
    uint8_t misc4 = 0;             // Jet 4: byte 13 of the descriptor
    // Long-value columns: the maps of the pages holding their values.
    uint32_t lvOwnedMap = 0;       // row pointer, 0 when none
    uint32_t lvFreeMap = 0;

    bool isFixed() const { return (flags & kColFixed) != 0; }
    bool isLongValue() const { return type == ColumnType::Memo || type == ColumnType::Ole; }
    bool isText() const { return type == ColumnType::Text || type == ColumnType::Memo; }
    bool isAutoNumber() const { return (flags & kColAutoNumber) != 0; }
};

struct IndexColumn {
    uint16_t columnNumber = 0;     // ColumnDef::number
    bool ascending = true;
};

constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;
constexpr uint8_t kIndexJet4Flag = 0x80;

// The index data proper: which columns, where its pages are.
struct PhysicalIndexDef {
    std::vector<IndexColumn> columns; // at most 10
    uint32_t usageMap = 0;         // row pointer of the index's page map
    uint32_t firstPage = 0;        // the root page
    uint8_t flags = 0;
    uint32_t distinctKeys = 0;     // the count kept before the columns
    // Bytes the format leaves unexplained, kept as read.
    uint32_t countPrefix = 0;      // first 4 bytes of the count entry
    uint32_t countSuffix = 0;      // Jet 4: last 4 bytes of the count entry
    std::array<uint8_t, 10> unusedOrder{}; // order bytes of unused column slots
    uint32_t jet4BeforeFlags = 0;  // Jet 4: 4 bytes before the flags
    std::array<uint8_t, 5> jet4Tail{}; // Jet 4: 5 bytes after the flags
};

constexpr uint8_t kLogicalIndexPrimary = 0x01;
constexpr uint8_t kLogicalIndexForeign = 0x02;

// A named index; several may share one physical index.
struct LogicalIndexDef {
    std::string name;              // UTF-8
    uint32_t number = 0;
    uint32_t physicalIndex = 0;    // position in TableDef::physicalIndexes
    uint8_t relatedTableType = 0;
    uint32_t relatedIndex = 0xFFFFFFFF;
    uint32_t relatedTablePage = 0;
    uint8_t cascadeUpdates = 0;
    uint8_t cascadeDeletes = 0;
    uint8_t type = 0;              // kLogicalIndexPrimary, kLogicalIndexForeign or 0
    uint32_t jet4Magic = kJet4TableMagic; // Jet 4: first 4 bytes
    uint32_t tail = 0;             // Jet 4: last 4 bytes
};

struct TableDef {
    uint32_t page = 0;             // first definition page
    uint32_t rowCount = 0;
    uint32_t nextAutoNumber = 0;
    uint8_t tableType = kTableUser;
    uint16_t maxColumns = 0;       // counts deleted columns
    uint32_t ownedMap = 0;         // row pointer of the owned-pages map
    uint32_t freeMap = 0;          // row pointer of the free-space map
    std::array<uint8_t, 16> jet4Unknown{}; // Jet 4 bytes 24..39 of the header
    uint32_t jet4HeaderMagic = kJet4TableMagic; // Jet 4 bytes 12..15
    std::vector<ColumnDef> columns; // in descriptor order
    std::vector<PhysicalIndexDef> physicalIndexes;
    std::vector<LogicalIndexDef> logicalIndexes;

    uint16_t variableColumnCount() const;
    // Size of a row's fixed area (the end of the last fixed column).
    uint32_t fixedAreaSize() const;
    const ColumnDef* findColumn(const std::string& name) const; // case-insensitive
    // The column's place in `columns` (case-insensitive), -1 when there is none.
    int columnIndex(const std::string& name) const;
    const ColumnDef* columnByNumber(uint16_t number) const;
    // Columns ordered by number: the order of a row and of "select *".
    std::vector<const ColumnDef*> columnsInOrder() const;
};

// Parses the definition held in `bytes` (the concatenated data of all
// definition pages, the first page's header included).
TableDef parseTableDef(const Format& f, const std::vector<uint8_t>& bytes, uint32_t page);

// Serialises a definition as it follows the 8-byte page header: the result's
// first byte belongs at offset 8 of the first definition page.
std::vector<uint8_t> serializeTableDef(const Format& f, const TableDef& def);

} // namespace jet
