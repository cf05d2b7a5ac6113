#include "jet/checker.h"

#include "jet/bytes.h"
#include "jet/code_page.h"
#include "jet/error.h"
#include "jet/format.h"
#include "jet/index_check.h"
#include "jet/index_key.h"
#include "jet/pager.h"
#include "jet/text_codec.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace jet {

namespace {

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

char16_t cp1252Char(uint8_t b) { return cp1252::decode(b); }

std::string cp1252ToUtf8(const uint8_t* p, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        unsigned c = cp1252Char(p[i]);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Text as stored in a row or a name: Jet 4 UTF-16LE, possibly compressed
// (FF FE, then one byte per character with 0x00 switching modes); Jet 3
// code page 1252.
std::string decodeText(const Format& f, const uint8_t* p, size_t n)
{
    if (!f.jet4())
        return cp1252ToUtf8(p, n);
    std::u16string s;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bool compressed = true;
        for (size_t i = 2; i < n;) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                s += char16_t(p[i++]);
            } else if (i + 1 < n) {
                s += char16_t(get16(p + i));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (size_t i = 0; i + 1 < n; i += 2)
            s += char16_t(get16(p + i));
    }
    return utf16ToUtf8(s);
}

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
    void checkTable(TableInfo& t, bool system);
    void checkLongValue(const TableInfo& t, const Column& c, const uint8_t* field, size_t n, uint32_t page,
                        uint32_t rowNumber, const std::set<uint32_t>& lvPages);
    bool rowValues(const TableInfo& t, const uint8_t* page, const RowSpan& span,
                   std::map<uint16_t, std::pair<const uint8_t*, size_t>>& values, bool& fine);
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

std::optional<RowSpan> Checker::row(uint32_t page, uint32_t rowNumber, const std::string& what)
{
    const uint8_t* b = pages_.get(page);
    if (!b) {
        problem(what, " points to page ", page, ", beyond the end of the file");
        return std::nullopt;
    }
    if (b[0] != kPageData) {
        problem(what, " points to page ", page, ", which is not a data page (type ", int(b[0]), ")");
        return std::nullopt;
    }
    uint32_t count = get16(b + f_.dataRowCountOffset);
    if (rowNumber >= count) {
        problem(what, " points to row ", rowNumber, " of page ", page, ", which holds ", count, " rows");
        return std::nullopt;
    }
    uint16_t off = get16(b + f_.dataHeaderSize + 2 * rowNumber);
    RowSpan s;
    s.start = off & kRowOffsetMask;
    s.deleted = off & kRowDeleted;
    s.overflow = off & kRowOverflow;
    s.end = rowNumber == 0 ? f_.pageSize : (get16(b + f_.dataHeaderSize + 2 * (rowNumber - 1)) & kRowOffsetMask);
    if (s.start < f_.dataHeaderSize + 2 * count || s.start > s.end || s.end > f_.pageSize) {
        problem("row ", rowNumber, " of page ", page, " lies outside its page's row area");
        return std::nullopt;
    }
    return s;
}

// The pages a usage map lists. A global map lists free pages.
std::optional<std::vector<uint32_t>> Checker::usageMap(uint32_t pointer, const std::string& what, bool globalMap)
{
    uint32_t page = pointer >> 8, rowNumber = pointer & 0xFF;
    auto span = row(page, rowNumber, "the usage map of " + what);
    if (!span)
        return std::nullopt;
    const uint8_t* b = pages_.get(page);
    // Map rows live on pages of no table (page 1, holding the global map,
    // names itself).
    if (get32(b + 4) != 0 && get32(b + 4) != page)
        problem("the usage map of ", what, " lies on page ", page, ", which belongs to a table's data");
    own(page, "the usage maps");
    std::vector<uint32_t> listed;
    const uint8_t* m = b + span->start;
    size_t n = span->end - span->start;
    if (n < 1) {
        problem("the usage map of ", what, " is empty");
        return std::nullopt;
    }
    if (m[0] == 0) {
        if (n < 5) {
            problem("the usage map of ", what, " is cut short");
            return std::nullopt;
        }
        uint32_t start = get32(m + 1);
        for (size_t i = 5; i < n; ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (m[i] & (1 << bit)) {
                    uint32_t p = start + uint32_t((i - 5) * 8 + size_t(bit));
                    if (p < pages_.count || !globalMap)
                        listed.push_back(p);
                }
    } else if (m[0] == 1) {
        const uint32_t perPage = (f_.pageSize - 4) * 8;
        for (size_t i = 1; i + 4 <= n; i += 4) {
            uint32_t mapPage = get32(m + i);
            if (mapPage == 0)
                continue;
            const uint8_t* mp = pages_.get(mapPage);
            if (!mp || mp[0] != kPageUsageMap) {
                problem("the usage map of ", what, " refers to page ", mapPage, ", which is not a map page");
                continue;
            }
            own(mapPage, "the usage maps");
            uint32_t base = uint32_t((i - 1) / 4) * perPage;
            for (uint32_t byte = 4; byte < f_.pageSize; ++byte)
                for (int bit = 0; bit < 8; ++bit)
                    if (mp[byte] & (1 << bit)) {
                        uint32_t p = base + (byte - 4) * 8 + uint32_t(bit);
                        if (p < pages_.count || !globalMap)
                            listed.push_back(p);
                    }
        }
    } else {
        problem("the usage map of ", what, " has the unknown kind ", int(m[0]));
        return std::nullopt;
    }
    return listed;
}

std::optional<TableInfo> Checker::readDefinition(uint32_t page, const std::string& name)
{
    TableInfo t;
    t.name = name;
    t.page = page;
    std::vector<uint8_t> bytes;
    std::set<uint32_t> seen;
    for (uint32_t p = page; p != 0;) {
        const uint8_t* b = pages_.get(p);
        if (!b || b[0] != kPageTableDef) {
            problem("table ", name, ": definition page ", p, " is ", b ? "not a table definition page" : "beyond the end of the file");
            return std::nullopt;
        }
        if (!seen.insert(p).second) {
            problem("table ", name, ": its definition pages form a loop at page ", p);
            return std::nullopt;
        }
        t.definitionPages.push_back(p);
        if (bytes.empty())
            bytes.assign(b, b + f_.pageSize);
        else
            bytes.insert(bytes.end(), b + f_.tdefContinuationStart, b + f_.pageSize);
        p = get32(b + 4);
    }
    auto bad = [&](const char* what) {
        problem("table ", name, ": the definition on page ", page, " is damaged (", what, ")");
        return std::nullopt;
    };
    if (bytes.size() < f_.tdefHeaderEnd)
        return bad("header");
    t.rowCount = get32(bytes.data() + f_.tdefRowCount);
    t.varColumns = get16(bytes.data() + f_.tdefVarColumns);
    uint16_t numCols = get16(bytes.data() + f_.tdefColumnCount);
    uint32_t numLogical = get32(bytes.data() + f_.tdefLogicalIndexCount);
    uint32_t numPhysical = get32(bytes.data() + f_.tdefPhysicalIndexCount);
    t.ownedMap = get32(bytes.data() + f_.tdefOwnedMap);
    t.freeMap = get32(bytes.data() + f_.tdefFreeMap);
    if (numLogical > 1000 || numPhysical > 1000 || numPhysical > numLogical + 0u)
        return bad("index counts");

    size_t pos = f_.tdefHeaderEnd + size_t(numPhysical) * f_.physicalIndexCountEntrySize;
    auto need = [&](size_t n) { return pos + n <= bytes.size(); };
    auto readName = [&](std::string& out) {
        size_t lenSize = f_.jet4() ? 2 : 1;
        if (!need(lenSize))
            return false;
        size_t len = f_.jet4() ? get16(bytes.data() + pos) : bytes[pos];
        pos += lenSize;
        if (!need(len))
            return false;
        out = decodeText(f_, bytes.data() + pos, len);
        pos += len;
        return true;
    };
    for (uint16_t i = 0; i < numCols; ++i) {
        if (!need(f_.columnDescriptorSize))
            return bad("columns");
        const uint8_t* p = bytes.data() + pos;
        Column c;
        c.type = p[0];
        c.number = get16(p + f_.colNumber);
        c.varIndex = get16(p + f_.colVarIndex);
        c.flags = p[f_.colFlags];
        c.fixedOffset = get16(p + f_.colFixedOffset);
        c.length = get16(p + f_.colLength);
        t.columns.push_back(c);
        pos += f_.columnDescriptorSize;
    }
    for (auto& c : t.columns)
        if (!readName(c.name))
            return bad("column names");
    for (uint32_t i = 0; i < numPhysical; ++i) {
        if (!need(f_.physicalIndexDefSize))
            return bad("indexes");
        const uint8_t* slots = bytes.data() + pos + (f_.jet4() ? 4 : 0);
        const uint8_t* p = slots + 30;
        PhysicalIndex ix;
        ix.usageMap = get32(p);
        ix.firstPage = get32(p + 4);
        ix.flags = f_.jet4() ? p[12] : p[8];
        for (int k = 0; k < 10; ++k)
            if (get16(slots + 3 * k) != 0xFFFF)
                ix.columns.push_back({get16(slots + 3 * k), (slots[3 * k + 2] & 0x01) != 0});
        ix.name = "#" + std::to_string(i);
        t.indexes.push_back(std::move(ix));
        pos += f_.physicalIndexDefSize;
    }
    std::vector<uint32_t> logicalToPhysical;
    for (uint32_t i = 0; i < numLogical; ++i) {
        if (!need(f_.logicalIndexDefSize))
            return bad("logical indexes");
        const uint8_t* p = bytes.data() + pos + (f_.jet4() ? 4 : 0);
        uint32_t physical = get32(p + 4);
        if (physical >= numPhysical)
            return bad("a logical index refers to no index data");
        logicalToPhysical.push_back(physical);
        pos += f_.logicalIndexDefSize;
    }
    std::set<uint32_t> named;
    for (uint32_t i = 0; i < numLogical; ++i) {
        std::string n;
        if (!readName(n))
            return bad("index names");
        if (named.insert(logicalToPhysical[i]).second)
            t.indexes[logicalToPhysical[i]].name = n;
    }
    while (need(2)) {
        uint16_t col = get16(bytes.data() + pos);
        pos += 2;
        if (col == 0xFFFF)
            break;
        if (!need(8))
            return bad("long-value maps");
        bool found = false;
        for (auto& c : t.columns)
            if (c.number == col) {
                c.lvOwnedMap = get32(bytes.data() + pos);
                c.lvFreeMap = get32(bytes.data() + pos + 4);
                found = true;
            }
        if (!found)
            problem("table ", name, ": long-value maps for column number ", col, ", which does not exist");
        pos += 8;
    }
    return t;
}

// Splits a row into its columns' bytes, keyed by column number; null
// columns are left out. Returns false when the row is malformed.
bool Checker::rowValues(const TableInfo& t, const uint8_t* b, const RowSpan& s,
                        std::map<uint16_t, std::pair<const uint8_t*, size_t>>& values, bool& fine)
{
    const uint8_t* r = b + s.start;
    size_t len = s.end - s.start;
    size_t countSize = f_.jet4() ? 2 : 1;
    if (len < countSize + 1) {
        fine = false;
        return false;
    }
    uint32_t rowCols = f_.jet4() ? get16(r) : r[0];
    size_t mask = (rowCols + 7) / 8;
    if (mask + countSize + (f_.jet4() ? 2 : 1) > len) {
        fine = false;
        return false;
    }
    const uint8_t* nullMask = r + len - mask;
    std::vector<uint32_t> offsets;
    uint32_t varCount = 0;
    if (t.varColumns > 0) {
        if (f_.jet4()) {
            varCount = get16(r + len - mask - 2);
            if (mask + 2 + 2 * (size_t(varCount) + 1) + countSize > len) {
                fine = false;
                return false;
            }
            for (uint32_t i = 0; i <= varCount; ++i)
                offsets.push_back(get16(r + len - mask - 4 - 2 * i));
        } else {
            varCount = r[len - mask - 1];
            size_t rowEnd = len - 1;
            size_t jumps = (len - 1) / 256;
            if (mask + jumps + 1 + varCount + 1 > len) {
                fine = false;
                return false;
            }
            size_t colPtr = rowEnd - mask - jumps - 1;
            if ((colPtr - varCount) / 256 < jumps)
                --jumps;
            size_t used = 0;
            for (uint32_t i = 0; i <= varCount; ++i) {
                while (used < jumps && i == r[rowEnd - mask - used - 1])
                    ++used;
                if (colPtr < i) {
                    fine = false;
                    return false;
                }
                offsets.push_back(r[colPtr - i] + uint32_t(used * 256));
            }
        }
        for (size_t i = 0; i + 1 < offsets.size(); ++i)
            if (offsets[i] > offsets[i + 1] || offsets[i + 1] > len) {
                fine = false;
                return false;
            }
    }
    uint32_t fixedCols = rowCols - varCount;
    uint32_t fixedFound = 0;
    // A row written before columns were added holds only the first ones, by
    // column number.
    std::vector<const Column*> byNumber;
    for (const auto& c : t.columns)
        byNumber.push_back(&c);
    std::sort(byNumber.begin(), byNumber.end(), [](auto* a, auto* b) { return a->number < b->number; });
    for (const Column* cp : byNumber) {
        const Column& c = *cp;
        bool present = c.number / 8 < mask && (nullMask[c.number / 8] & (1 << (c.number % 8)));
        if (c.fixed()) {
            if (fixedFound >= fixedCols)
                continue;
            ++fixedFound;
            if (c.type == uint8_t(ColumnType::Boolean)) {
                // Yes/no lives in the mask alone: present means yes.
                if (present)
                    values[c.number] = {r, 0};
                continue;
            }
            if (countSize + c.fixedOffset + c.length > len) {
                fine = false;
                return false;
            }
            if (present)
                values[c.number] = {r + countSize + c.fixedOffset, c.length};
        } else if (c.varIndex < varCount && present) {
            values[c.number] = {r + offsets[c.varIndex], offsets[c.varIndex + 1] - offsets[c.varIndex]};
        }
    }
    return true;
}

void Checker::checkLongValue(const TableInfo& t, const Column& c, const uint8_t* field, size_t n, uint32_t page,
                             uint32_t rowNumber, const std::set<uint32_t>& lvPages)
{
    const std::string where = "table " + t.name + ", column " + c.name + ", row " + std::to_string(rowNumber) +
                              " of page " + std::to_string(page);
    if (n == 0)
        return;  // an empty value
    if (n < 12) {
        problem(where, ": a long-value reference of ", n, " bytes");
        return;
    }
    uint32_t head = get32(field);
    uint32_t length = head & 0x3FFFFFFF;
    uint32_t pointer = get32(field + 4);
    if (head & 0x80000000u) {
        if (n != 12 + size_t(length))
            problem(where, ": an inline long value of ", length, " bytes stored in ", n - 12);
        return;
    }
    std::set<uint32_t> chain;
    uint32_t total = 0;
    bool single = head & 0x40000000u;
    for (uint32_t next = pointer; next != 0;) {
        if (!chain.insert(next).second) {
            problem(where, ": its long-value chain loops");
            return;
        }
        if (!lvRowsUsed_.insert(next).second) {
            problem(where, ": long-value row ", next & 0xFF, " of page ", next >> 8, " is used twice");
            return;
        }
        uint32_t p = next >> 8;
        auto span = row(p, next & 0xFF, where);
        if (!span)
            return;
        const uint8_t* b = pages_.get(p);
        if (std::memcmp(b + 4, "LVAL", 4) != 0) {
            problem(where, ": its long value lies on page ", p, ", which is not a long-value page");
            return;
        }
        if (!lvPages.count(p))
            problem(where, ": its long value lies on page ", p, ", which the column's map does not list");
        if (span->deleted) {
            problem(where, ": its long value lies in a deleted row of page ", p);
            return;
        }
        uint32_t size = span->end - span->start;
        if (single) {
            total = size;
            break;
        }
        if (size < 4) {
            problem(where, ": a long-value chain row of ", size, " bytes");
            return;
        }
        total += size - 4;
        next = get32(b + span->start);
    }
    if (total != length)
        problem(where, ": a long value of ", length, " bytes whose rows hold ", total);
}

void Checker::checkTable(TableInfo& t, bool system)
{
    const std::string label = "table " + t.name;
    for (uint32_t p : t.definitionPages)
        own(p, "the definition of " + label);
    ++report_.tables;

    // Data pages: the owned map lists exactly the data pages naming this table.
    std::set<uint32_t> dataPages;
    if (auto owned = usageMap(t.ownedMap, label)) {
        for (uint32_t p : *owned) {
            const uint8_t* b = pages_.get(p);
            if (!b) {
                problem(label, ": its map lists page ", p, ", beyond the end of the file");
                continue;
            }
            if (b[0] != kPageData || get32(b + 4) != t.page) {
                problem(label, ": its map lists page ", p, ", which is not one of its data pages");
                continue;
            }
            own(p, "the data of " + label);
            dataPages.insert(p);
        }
    }
    if (auto freeMap = usageMap(t.freeMap, label + " (free space)")) {
        for (uint32_t p : *freeMap)
            if (!dataPages.count(p))
                problem(label, ": its free-space map lists page ", p, ", which is not one of its data pages");
    }
    for (uint32_t p : dataPagesOf_[t.page])
        if (!dataPages.count(p))
            problem(label, ": data page ", p, " names the table but its map does not list it");

    // Long-value pages of each memo/OLE column.
    std::map<uint16_t, std::set<uint32_t>> lvPages;
    for (const auto& c : t.columns) {
        if (!c.longValue() || c.lvOwnedMap == 0)
            continue;
        const std::string col = label + ", column " + c.name;
        if (auto owned = usageMap(c.lvOwnedMap, col)) {
            for (uint32_t p : *owned) {
                const uint8_t* b = pages_.get(p);
                if (!b || b[0] != kPageData || std::memcmp(b + 4, "LVAL", 4) != 0) {
                    problem(col, ": its long-value map lists page ", p, ", which is not a long-value page");
                    continue;
                }
                own(p, "the long values of " + col);
                lvPages[c.number].insert(p);
            }
        }
        if (c.lvFreeMap)
            if (auto freeMap = usageMap(c.lvFreeMap, col + " (free space)"))
                for (uint32_t p : *freeMap)
                    if (!lvPages[c.number].count(p))
                        problem(col, ": its long-value free-space map lists page ", p, ", which it does not own");
    }

    // Index pages.
    std::vector<std::set<uint32_t>> indexPages(t.indexes.size());
    std::vector<bool> indexMapRead(t.indexes.size(), false);
    for (size_t ixNumber = 0; ixNumber < t.indexes.size(); ++ixNumber) {
        const auto& ix = t.indexes[ixNumber];
        const std::string name = label + ", index " + ix.name;
        auto owned = usageMap(ix.usageMap, name);
        if (!owned)
            continue;
        indexMapRead[ixNumber] = true;
        indexPages[ixNumber].insert(owned->begin(), owned->end());
        bool rootListed = false;
        for (uint32_t p : *owned) {
            const uint8_t* b = pages_.get(p);
            if (!b || (b[0] != kPageIndexLeaf && b[0] != kPageIndexNode)) {
                problem(name, ": its map lists page ", p, ", which is not an index page");
                continue;
            }
            own(p, "the pages of " + name);
            rootListed |= p == ix.firstPage;
        }
        if (!rootListed)
            problem(name, ": its first page ", ix.firstPage, " is not in its map");
    }

    // Rows: count them and follow their long values. A row moved elsewhere
    // leaves a pointer behind; the row it points to is counted there only.
    std::set<uint32_t> overflowTargets;
    // Page pointers live only within one page's turn, so the cache can be
    // trimmed between pages: a table of any size is checked in bounded memory.
    uint32_t turns = 0;
    for (uint32_t p : dataPages) {
        if (++turns % 1024 == 0)
            pages_.pager.releaseMemory();
        const uint8_t* b = pages_.get(p);
        uint32_t count = get16(b + f_.dataRowCountOffset);
        if (count > f_.maxRowsPerPage)
            continue;  // reported below
        for (uint32_t r = 0; r < count; ++r) {
            uint16_t off = get16(b + f_.dataHeaderSize + 2 * r);
            if ((off & kRowOverflow) && !(off & kRowDeleted) && uint32_t(off & kRowOffsetMask) + 4 <= f_.pageSize)
                overflowTargets.insert(get32(b + (off & kRowOffsetMask)));
        }
    }
    // What each index must hold: one entry per row, its key encoded from the
    // row's values, pointing to the row's original place.
    struct IndexPlan {
        std::vector<KeyColumn> keyColumns;
        std::vector<const Column*> columns;
        bool usable = true;
        std::vector<IndexEntry> expected;
    };
    std::vector<IndexPlan> plans(t.indexes.size());
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        for (auto [number, ascending] : t.indexes[i].columns) {
            const Column* col = nullptr;
            for (const auto& c : t.columns)
                if (c.number == number)
                    col = &c;
            if (!col) {
                problem(label, ", index ", t.indexes[i].name, ": it names column number ", number,
                        ", which does not exist");
                plans[i].usable = false;
                break;
            }
            plans[i].keyColumns.push_back({ColumnType(col->type), ascending});
            plans[i].columns.push_back(col);
        }
    }
    const Version indexFormat = f_.version;

    uint64_t found = 0;
    for (uint32_t p : dataPages) {
        if (++turns % 1024 == 0)
            pages_.pager.releaseMemory();
        const uint8_t* b = pages_.get(p);
        uint32_t count = get16(b + f_.dataRowCountOffset);
        if (count > f_.maxRowsPerPage || f_.dataHeaderSize + 2 * count > f_.pageSize) {
            problem(label, ": data page ", p, " claims ", count, " rows");
            continue;
        }
        for (uint32_t r = 0; r < count; ++r) {
            auto span = row(p, r, label);
            if (!span || span->deleted)
                continue;
            uint32_t at = p;
            uint32_t rowNumber = r;
            if (span->overflow) {
                if (span->end - span->start < 4) {
                    problem(label, ": row ", r, " of page ", p, " is too short to point to its moved row");
                    continue;
                }
                uint32_t target = get32(b + span->start);
                at = target >> 8;
                rowNumber = target & 0xFF;
                if (!dataPages.count(at)) {
                    problem(label, ": row ", r, " of page ", p, " points to page ", at, ", not one of its data pages");
                    continue;
                }
                // Access flags the moved row itself as deleted, so that a
                // scan of its page passes over it.
                span = row(at, rowNumber, label);
                if (!span)
                    continue;
            } else if (overflowTargets.count((p << 8) | r)) {
                continue;
            }
            ++found;
            const uint8_t* pageBytes = pages_.get(at);
            std::map<uint16_t, std::pair<const uint8_t*, size_t>> values;
            bool fine = true;
            if (!rowValues(t, pageBytes, *span, values, fine) || !fine) {
                problem(label, ": row ", rowNumber, " of page ", at, " is malformed");
                continue;
            }
            for (const auto& c : t.columns)
                if (c.longValue()) {
                    auto v = values.find(c.number);
                    if (v != values.end())
                        checkLongValue(t, c, v->second.first, v->second.second, at, rowNumber, lvPages[c.number]);
                }
            for (size_t i = 0; i < plans.size(); ++i) {
                IndexPlan& plan = plans[i];
                if (!plan.usable)
                    continue;
                std::vector<KeyValue> keyValues;
                std::vector<std::u16string> texts(plan.columns.size());
                bool allNull = true;
                for (size_t k = 0; k < plan.columns.size(); ++k) {
                    const Column& c = *plan.columns[k];
                    auto v = values.find(c.number);
                    if (c.type == uint8_t(ColumnType::Boolean)) {
                        keyValues.push_back(KeyValue::boolean(v != values.end()));
                        allNull = false;
                        continue;
                    }
                    if (v == values.end()) {
                        keyValues.push_back(KeyValue::null());
                        continue;
                    }
                    allNull = false;
                    const uint8_t* d = v->second.first;
                    size_t n = v->second.second;
                    if (c.type == uint8_t(ColumnType::Text) || c.type == uint8_t(ColumnType::Memo)) {
                        if (c.type == uint8_t(ColumnType::Memo)) {
                            // Keys of memos: only values kept in the row are checked.
                            if (n < 12 || !(get32(d) & 0x80000000u) || 12 + size_t(get32(d) & 0x3FFFFFFF) > n) {
                                plan.usable = false;
                                break;
                            }
                            n = get32(d) & 0x3FFFFFFF;
                            d += 12;
                        }
                        if (f_.jet4()) {
                            texts[k] = decodeJet4Text(d, n);
                        } else {
                            for (size_t j = 0; j < n; ++j)
                                texts[k] += cp1252Char(d[j]);
                        }
                        keyValues.push_back(KeyValue::ofText(texts[k]));
                    } else if (c.type == uint8_t(ColumnType::Binary)) {
                        keyValues.push_back(KeyValue::ofBytes({d, n}));
                    } else {
                        keyValues.push_back(KeyValue::fixed({d, n}));
                    }
                }
                if (!plan.usable || (allNull && (t.indexes[i].flags & 0x02)))
                    continue;  // an index that ignores nulls leaves such rows out
                IndexEntry e;
                try {
                    e.key = encodeKey(indexFormat, plan.keyColumns, keyValues);
                } catch (const std::exception& ex) {
                    problem(label, ", index ", t.indexes[i].name, ": the key of row ", r, " of page ", p,
                            " cannot be encoded: ", std::string(ex.what()));
                    plan.usable = false;
                    continue;
                }
                e.dataPage = p;
                e.dataRow = uint8_t(r);
                plan.expected.push_back(std::move(e));
            }
        }
    }
    for (size_t i = 0; i < plans.size(); ++i) {
        if (!plans[i].usable || !indexMapRead[i])
            continue;
        IndexCheckInput in;
        in.format = indexFormat;
        in.tdefPage = t.page;
        in.rootPage = t.indexes[i].firstPage;
        in.name = t.indexes[i].name;
        in.expected = std::move(plans[i].expected);
        in.mapPages = &indexPages[i];
        PageReader reader = [this](uint32_t page) { return pages_.get(page); };
        try {
            for (const auto& s : checkIndex(reader, std::move(in)))
                problem(label, ", index ", t.indexes[i].name, ": ", s);
        } catch (const std::exception& ex) {
            problem(label, ", index ", t.indexes[i].name, ": ", std::string(ex.what()));
        }
    }

    report_.rows += found;
    // Access leaves the counts of some of its own system tables stale (seen
    // in MSysQueries); the engine relies on the counts of user tables and of
    // the catalog tables it writes.
    bool counted = !system || t.name == "MSysObjects" || t.name == "MSysACEs";
    if (counted && found != t.rowCount)
        problem(label, ": its row count says ", t.rowCount, " but its pages hold ", found, " rows");
}

// The free-space field of a data page: what its rows and their offsets
// leave (the engine decides by it whether a row fits).
void Checker::checkFreeSpace(uint32_t page, const uint8_t* b)
{
    uint32_t count = get16(b + f_.dataRowCountOffset);
    if (count > f_.maxRowsPerPage || f_.dataHeaderSize + 2 * count > f_.pageSize) {
        problem("data page ", page, " claims ", count, " rows");
        return;
    }
    uint32_t used = 0, previous = f_.pageSize;
    for (uint32_t r = 0; r < count; ++r) {
        uint32_t start = get16(b + f_.dataHeaderSize + 2 * r) & kRowOffsetMask;
        if (start > previous || start < f_.dataHeaderSize + 2 * count) {
            problem("data page ", page, ": row ", r, " lies outside the page's row area");
            return;
        }
        used += previous - start + 2;
        previous = start;
    }
    uint32_t expected = f_.pageSize - f_.dataHeaderSize - used;
    if (get16(b + 2) != expected)
        problem("data page ", page, ": its free-space field says ", get16(b + 2), " bytes but its rows leave ", expected);
}

void Checker::globalMap()
{
    free_.assign(pages_.count, false);
    auto listed = usageMap(makeRowPointer(1, 0), "the database (free pages)", true);
    if (!listed)
        return;
    for (uint32_t p : *listed)
        if (p < pages_.count)
            free_[p] = true;
    if (free_[0])
        problem("the global map marks the header page free");

    // Every page of the file lies within the global map: a page outside it
    // is read as used by some programs and as free by others.
    auto span = row(1, 0, "the global map");
    if (!span)
        return;
    const uint8_t* m = pages_.get(1) + span->start;
    const uint32_t n = span->end - span->start;
    const uint32_t perPage = (f_.pageSize - 4) * 8;
    uint32_t outside = 0, first = 0;
    for (uint32_t p = 0; p < pages_.count; ++p) {
        bool covered;
        if (m[0] == 0)
            covered = p >= get32(m + 1) && p - get32(m + 1) < (n - 5) * 8;
        else
            covered = 1 + 4 * (p / perPage + 1) <= n && get32(m + 1 + 4 * (p / perPage)) != 0;
        if (!covered && outside++ == 0)
            first = p;
    }
    if (outside)
        problem(outside, " pages of the file, from page ", first, " on, lie outside the global map");
}

std::vector<CatalogTable> Checker::catalog()
{
    std::vector<CatalogTable> tables;
    auto objects = readDefinition(2, "MSysObjects");
    if (!objects)
        throw Error("'" + pages_.pager.path() + "' is damaged: its catalog cannot be read");
    const Column *id = nullptr, *name = nullptr, *type = nullptr, *flags = nullptr;
    for (const auto& c : objects->columns) {
        if (c.name == "Id")
            id = &c;
        else if (c.name == "Name")
            name = &c;
        else if (c.name == "Type")
            type = &c;
        else if (c.name == "Flags")
            flags = &c;
    }
    if (!id || !name || !type)
        throw Error("'" + pages_.pager.path() + "' is damaged: its catalog lacks the Id, Name or Type column");
    auto owned = usageMap(objects->ownedMap, "table MSysObjects");
    if (!owned)
        throw Error("'" + pages_.pager.path() + "' is damaged: the catalog's page map cannot be read");
    for (uint32_t p : *owned) {
        const uint8_t* b = pages_.get(p);
        if (!b || b[0] != kPageData || get32(b + 4) != 2)
            continue;
        uint32_t count = std::min<uint32_t>(get16(b + f_.dataRowCountOffset), f_.maxRowsPerPage);
        for (uint32_t r = 0; r < count; ++r) {
            uint16_t off = get16(b + f_.dataHeaderSize + 2 * r);
            if (off & kRowDeleted)
                continue;
            auto span = row(p, r, "the catalog");
            if (!span)
                continue;
            const uint8_t* at = b;
            if (span->overflow) {
                // The row moved; follow its pointer.
                if (span->end - span->start < 4)
                    continue;
                uint32_t target = get32(b + span->start);
                span = row(target >> 8, target & 0xFF, "a moved catalog row");
                if (!span)
                    continue;
                at = pages_.get(target >> 8);
            }
            std::map<uint16_t, std::pair<const uint8_t*, size_t>> values;
            bool fine = true;
            if (!rowValues(*objects, at, *span, values, fine))
                continue;
            auto t = values.find(type->number);
            auto i = values.find(id->number);
            auto n = values.find(name->number);
            if (t == values.end() || i == values.end() || n == values.end() || t->second.second < 2 ||
                i->second.second < 4)
                continue;
            if ((get16(t->second.first) & 0x7FFF) != 1)
                continue;  // not a local table
            CatalogTable ct;
            ct.name = decodeText(f_, n->second.first, n->second.second);
            ct.definitionPage = get32(i->second.first) & 0x00FFFFFF;
            uint32_t fl = 0;
            if (flags) {
                auto fv = values.find(flags->number);
                if (fv != values.end() && fv->second.second >= 4)
                    fl = get32(fv->second.first);
            }
            ct.system = (fl & 0x80000002u) != 0 || ct.name.rfind("MSys", 0) == 0;
            tables.push_back(std::move(ct));
        }
    }
    return tables;
}

void Checker::run()
{
    const uint8_t* header = pages_.get(0);
    own(0, "the header");
    if (get32(header + 20) != (f_.jet4() ? 1u : 0u))
        problem("the header's version does not match its page size");
    globalMap();
    for (uint32_t p = 1; p < pages_.count; ++p) {
        const uint8_t* b = pages_.get(p);
        if (b[0] == kPageData && !free_[p])
            checkFreeSpace(p, b);
        if (b[0] == kPageData && !free_[p] && std::memcmp(b + 4, "LVAL", 4) != 0) {
            // Pages that name no table hold usage-map rows; one whose rows
            // were all deleted (its table dropped) stays with the maps for reuse.
            if (get32(b + 4) == 0)
                own(p, "the usage maps");
            else
                dataPagesOf_[get32(b + 4)].push_back(p);
        }
        if ((p & 1023) == 0)
            pages_.pager.releaseMemory();
    }

    std::vector<CatalogTable> tables = catalog();
    std::set<uint32_t> definitions;
    bool sawCatalog = false;
    std::set<std::u16string> names;
    for (const auto& ct : tables) {
        std::u16string folded;
        try {
            folded = foldCase(utf8ToUtf16(ct.name));
        } catch (const Error&) {
            folded = utf8ToUtf16("\x01" + std::to_string(ct.definitionPage));
        }
        if (!names.insert(folded).second)
            problem("the catalog lists the table name ", ct.name, " twice");
        if (!definitions.insert(ct.definitionPage).second) {
            problem("table ", ct.name, ": another catalog row already points to definition page ", ct.definitionPage);
            continue;
        }
        sawCatalog |= ct.definitionPage == 2;
        auto t = readDefinition(ct.definitionPage, ct.name);
        if (t)
            checkTable(*t, ct.system);
        pages_.pager.releaseMemory();
    }
    if (!sawCatalog)
        problem("the catalog has no row for itself (MSysObjects on page 2)");

    for (uint32_t p = 0; p < pages_.count; ++p) {
        if (owner_[p] != -1 && free_[p])
            problem("page ", p, " belongs to ", ownerNames_[size_t(owner_[p])], " but the global map marks it free");
        else if (owner_[p] == -1 && !free_[p])
            problem("page ", p, " (type ", int(pages_.get(p)[0]), ") belongs to nothing but the global map marks it used");
    }
}

}  // namespace

CheckReport checkDatabase(const std::string& path)
{
    auto pager = Pager::open(path, false);
    CheckReport report;
    Checker checker(*pager, report);
    try {
        checker.run();
    } catch (const Error& e) {
        report.problems.push_back(e.what());
    }
    return report;
}

std::vector<CatalogTable> catalogTables(const std::string& path)
{
    auto pager = Pager::open(path, false);
    CheckReport report;
    Checker checker(*pager, report);
    return checker.catalog();
}

}  // namespace jet
