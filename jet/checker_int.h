// Inside `check` (checker.h): the Checker and what it reads, shared by its
// parts, each in its own file:
//   checker.cpp             the run: header, global map, page ownership, the report
//   checker_catalog.cpp     the catalog (MSysObjects) and names as stored
//   checker_table_def.cpp   table definitions: columns, indexes, long-value maps
//   checker_usage_maps.cpp  usage maps (inline and page-based)
//   checker_rows.cpp        data pages, rows and their values, row counts
//   checker_long_values.cpp long values a row refers to
//   checker_indexes.cpp     what each index must hold; index_check.cpp reads the trees
// The checker reads the file through the pager alone: none of the writer's
// table, row or index code takes part, so that its faults show.
#pragma once

#include "jet/checker.h"
#include "jet/check_keys.h"
#include "jet/format.h"
#include "jet/index_check.h"
#include "jet/pager.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace jet::checking {

constexpr size_t kMaxProblems = 200;

// Reads pages through the pager, refusing numbers beyond the end.
struct Pages {
    Pager& pager;
    uint32_t count;

    const uint8_t* get(uint32_t page)
    {
        if (page >= count)
            return nullptr;
        return pager.read(page);
    }
};

// Text as stored in a row or a name (Jet 4 UTF-16LE, possibly compressed;
// Jet 3 code page 1252), as UTF-8 and as UTF-16.
std::string decodeText(const Format& f, const uint8_t* p, size_t n);
std::u16string decodeText16(const Format& f, const uint8_t* p, size_t n);

struct Column {
    std::string name;
    uint8_t type = 0;
    uint16_t number = 0;
    uint16_t varIndex = 0;
    uint8_t flags = 0;
    uint16_t fixedOffset = 0;
    uint16_t length = 0;
    uint32_t lvOwnedMap = 0;
    uint32_t lvFreeMap = 0;
    bool fixed() const { return flags & kColFixed; }
    bool longValue() const { return type == uint8_t(ColumnType::Memo) || type == uint8_t(ColumnType::Ole); }
};

struct PhysicalIndex {
    uint32_t usageMap = 0;
    uint32_t firstPage = 0;
    uint8_t flags = 0;
    std::vector<std::pair<uint16_t, bool>> columns;  // column number, ascending
    std::string name;  // of the first logical index using it
};

struct TableInfo {
    std::string name;
    uint32_t page = 0;
    std::vector<uint32_t> definitionPages;
    uint32_t rowCount = 0;
    uint16_t varColumns = 0;
    uint32_t ownedMap = 0;
    uint32_t freeMap = 0;
    std::vector<Column> columns;
    std::vector<PhysicalIndex> indexes;
};

// One row of a data page: its bytes and flags.
struct RowSpan {
    uint32_t start = 0;
    uint32_t end = 0;  // exclusive
    bool deleted = false;
    bool overflow = false;
};

// A row's values by column number: the bytes of each non-null column.
using RowValues = std::map<uint16_t, std::pair<const uint8_t*, size_t>>;
// The long-value pages of each memo/OLE column, by column number.
using LongValuePages = std::map<uint16_t, std::set<uint32_t>>;

// What each index of a table must hold: one entry per row, its key encoded
// from the row's values, pointing to the row's original place.
struct IndexPlan {
    std::vector<const Column*> columns;
    std::vector<bool> ascending;
    bool usable = true;      // false once the keys cannot be known
    bool mapRead = false;    // its usage map could be read
    std::set<uint32_t> mapPages;
    std::vector<IndexEntry> expected;
};
using IndexPlans = std::vector<IndexPlan>;

// Relationships, foreign-key indexes and property blocks, read through the
// engine once the pages are known to be sound (checker_relationships.cpp).
void checkRelationships(const std::string& path, CheckReport& report);

class Checker {
public:
    Checker(Pager& pager, CheckReport& report)
        : pages_{pager, pager.pageCount()},
          f_(pager.pageSize() == 4096 ? jet4Format() : jet3Format()),
          report_(report),
          owner_(pager.pageCount(), -1)
    {
        report_.pages = pages_.count;
    }

    void run();
    std::vector<CatalogTable> catalog();

private:
    template <typename... Parts>
    void problem(const Parts&... parts)
    {
        if (report_.problems.size() == kMaxProblems)
            report_.problems.push_back("further problems not shown");
        if (report_.problems.size() > kMaxProblems)
            return;
        std::string s;
        ((s += toText(parts)), ...);
        report_.problems.push_back(std::move(s));
    }
    // Something normal in files Access made (see CheckReport::notes).
    template <typename... Parts>
    void note(const Parts&... parts)
    {
        if (report_.noteCount++ >= kMaxProblems)
            return;
        std::string s;
        ((s += toText(parts)), ...);
        report_.notes.push_back(std::move(s));
    }
    static std::string toText(const std::string& s) { return s; }
    static std::string toText(const char* s) { return s; }
    template <typename N>
    static std::string toText(N n)
    {
        return std::to_string(n);
    }

    int ownerId(const std::string& name)
    {
        auto it = ownerIds_.find(name);
        if (it != ownerIds_.end())
            return it->second;
        ownerNames_.push_back(name);
        return ownerIds_[name] = int(ownerNames_.size() - 1);
    }
    void own(uint32_t page, const std::string& owner)
    {
        if (page >= pages_.count) {
            problem(owner, " claims page ", page, ", beyond the end of the file (", pages_.count, " pages)");
            return;
        }
        int id = ownerId(owner);
        if (owner_[page] == -1)
            owner_[page] = id;
        else if (owner_[page] != id)
            problem("page ", page, " belongs to both ", ownerNames_[size_t(owner_[page])], " and ", owner);
    }

    std::optional<RowSpan> row(uint32_t page, uint32_t row, const std::string& what);
    std::optional<std::vector<uint32_t>> usageMap(uint32_t pointer, const std::string& what, bool globalMap = false);
    std::optional<TableInfo> readDefinition(uint32_t page, const std::string& name);
    bool definitionBytes(TableInfo& t, std::vector<uint8_t>& bytes);
    bool readLongValueMaps(TableInfo& t, const std::vector<uint8_t>& bytes, size_t pos);
    void checkTable(TableInfo& t, bool system);
    // checkTable's steps.
    std::set<uint32_t> claimDataPages(const TableInfo& t, const std::string& label);
    LongValuePages claimLongValuePages(const TableInfo& t, const std::string& label);
    std::set<uint32_t> movedRowTargets(const std::set<uint32_t>& dataPages);
    uint64_t checkRows(const TableInfo& t, const std::string& label, const std::set<uint32_t>& dataPages,
                       const LongValuePages& lvPages, IndexPlans& plans);
    void checkRowValues(const TableInfo& t, const RowValues& values, uint32_t page, uint32_t rowNumber,
                        const LongValuePages& lvPages);
    IndexPlans planIndexes(const TableInfo& t, const std::string& label);
    void expectIndexEntries(const TableInfo& t, const std::string& label, IndexPlans& plans, const RowValues& values,
                            uint32_t page, uint32_t rowNumber);
    void checkIndexes(const TableInfo& t, const std::string& label, IndexPlans& plans);
    void checkLongValue(const TableInfo& t, const Column& c, const uint8_t* field, size_t n, uint32_t page,
                        uint32_t rowNumber, const std::set<uint32_t>& lvPages);
    bool rowValues(const TableInfo& t, const uint8_t* page, const RowSpan& span,
                   RowValues& values, bool& fine);
    bool varOffsets(const uint8_t* r, size_t len, size_t mask, std::vector<uint32_t>& offsets, uint32_t& varCount);
    void globalMap();
    void checkFreeSpace(uint32_t page, const uint8_t* b);

    Pages pages_;
    const Format& f_;
    CheckReport& report_;
    std::vector<int> owner_;
    std::vector<std::string> ownerNames_;
    std::map<std::string, int> ownerIds_;
    std::vector<bool> free_;
    std::set<uint32_t> lvRowsUsed_;
    std::map<uint32_t, std::vector<uint32_t>> dataPagesOf_;  // pages in use by the owner they name
};

}  // namespace jet::checking
