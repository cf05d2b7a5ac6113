// `check`: reading a table definition (its pages, columns, indexes and
// long-value maps) as the checker needs it.
#include "jet/checker_int.h"

#include "jet/bytes.h"

namespace jet::checking {

// The definition's bytes: its first page, then each continuation page's
// data. False (reported) when the chain is broken.
bool Checker::definitionBytes(TableInfo& t, std::vector<uint8_t>& bytes)
{
    std::set<uint32_t> seen;
    for (uint32_t p = t.page; p != 0;) {
        const uint8_t* b = pages_.get(p);
        if (!b || b[0] != kPageTableDef) {
            problem("table ", t.name, ": definition page ", p, " is ", b ? "not a table definition page" : "beyond the end of the file");
            return false;
        }
        if (!seen.insert(p).second) {
            problem("table ", t.name, ": its definition pages form a loop at page ", p);
            return false;
        }
        t.definitionPages.push_back(p);
        if (bytes.empty())
            bytes.assign(b, b + f_.pageSize);
        else
            bytes.insert(bytes.end(), b + f_.tdefContinuationStart, b + f_.pageSize);
        p = get32(b + 4);
    }
    return true;
}

// The list after the index names: a column number and its long-value maps
// (owned, free), ended by 0xFFFF. False when it is cut short.
bool Checker::readLongValueMaps(TableInfo& t, const std::vector<uint8_t>& bytes, size_t pos)
{
    while (pos + 2 <= bytes.size()) {
        uint16_t col = get16(bytes.data() + pos);
        pos += 2;
        if (col == 0xFFFF)
            break;
        if (pos + 8 > bytes.size())
            return false;
        bool found = false;
        for (auto& c : t.columns)
            if (c.number == col) {
                c.lvOwnedMap = get32(bytes.data() + pos);
                c.lvFreeMap = get32(bytes.data() + pos + 4);
                found = true;
            }
        if (!found)
            problem("table ", t.name, ": long-value maps for column number ", col, ", which does not exist");
        pos += 8;
    }
    return true;
}

std::optional<TableInfo> Checker::readDefinition(uint32_t page, const std::string& name)
{
    TableInfo t;
    t.name = name;
    t.page = page;
    std::vector<uint8_t> bytes;
    if (!definitionBytes(t, bytes))
        return std::nullopt;
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
    if (!readLongValueMaps(t, bytes, pos))
        return bad("long-value maps");
    return t;
}

}  // namespace jet::checking
