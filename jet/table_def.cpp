#include "jet/table_def.h"

#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/text_codec.h"

#include <algorithm>

namespace jet {

namespace {

struct Reader {
    const std::vector<uint8_t>& b;
    size_t pos;
    const uint8_t* need(size_t n)
    {
        if (pos + n > b.size())
            throw Error(ErrorKind::Corrupt, "The table definition is damaged (it ends too early)");
        const uint8_t* p = b.data() + pos;
        pos += n;
        return p;
    }
};

std::string readName(const Format& f, Reader& r)
{
    if (f.jet4()) {
        uint16_t len = get16(r.need(2));
        const uint8_t* p = r.need(len);
        return utf16ToUtf8(decodeJet4Text(p, len));
    }
    uint8_t len = *r.need(1);
    const uint8_t* p = r.need(len);
    return cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), len));
}

void writeName(const Format& f, std::vector<uint8_t>& out, const std::string& name)
{
    if (f.jet4()) {
        std::u16string u = utf8ToUtf16(name);
        size_t n = u.size() * 2;
        out.push_back(uint8_t(n));
        out.push_back(uint8_t(n >> 8));
        for (char16_t c : u) {
            out.push_back(uint8_t(c));
            out.push_back(uint8_t(c >> 8));
        }
        return;
    }
    auto cp = utf8ToCp1252(name);
    if (!cp)
        throw Error("The name '" + name + "' holds a character that Access 97 cannot store");
    out.push_back(uint8_t(cp->size()));
    out.insert(out.end(), cp->begin(), cp->end());
}

} // namespace

uint16_t TableDef::variableColumnCount() const
{
    return uint16_t(std::count_if(columns.begin(), columns.end(), [](const ColumnDef& c) { return !c.isFixed(); }));
}

uint32_t TableDef::fixedAreaSize() const
{
    uint32_t end = 0;
    for (const auto& c : columns)
        if (c.isFixed() && c.type != ColumnType::Boolean)
            end = std::max<uint32_t>(end, uint32_t(c.fixedOffset) + c.length);
    return end;
}

const ColumnDef* TableDef::findColumn(const std::string& name) const
{
    for (const auto& c : columns)
        if (sameName(c.name, name))
            return &c;
    return nullptr;
}

int TableDef::columnIndex(const std::string& name) const
{
    const ColumnDef* c = findColumn(name);
    return c ? int(c - columns.data()) : -1;
}

const ColumnDef* TableDef::columnByNumber(uint16_t number) const
{
    for (const auto& c : columns)
        if (c.number == number)
            return &c;
    return nullptr;
}

std::vector<const ColumnDef*> TableDef::columnsInOrder() const
{
    std::vector<const ColumnDef*> v;
    for (const auto& c : columns)
        v.push_back(&c);
    std::stable_sort(v.begin(), v.end(), [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; });
    return v;
}

namespace {

// The fixed head: counts, the table's usage maps and, in Jet 4, bytes kept
// as read. Returns the column and index counts the blocks below follow.
struct DefCounts {
    uint16_t columns;
    uint32_t logical, physical;
};

DefCounts parseHead(const Format& f, const uint8_t* h, TableDef& d)
{
    d.rowCount = get32(h + f.tdefRowCount);
    d.nextAutoNumber = get32(h + f.tdefAutoNumber);
    d.tableType = h[f.tdefTableType];
    d.maxColumns = get16(h + f.tdefMaxColumns);
    DefCounts n{get16(h + f.tdefColumnCount), get32(h + f.tdefLogicalIndexCount),
                get32(h + f.tdefPhysicalIndexCount)};
    d.ownedMap = get32(h + f.tdefOwnedMap);
    d.freeMap = get32(h + f.tdefFreeMap);
    if (f.jet4()) {
        d.jet4HeaderMagic = get32(h + 12);
        std::copy(h + 24, h + 40, d.jet4Unknown.begin());
    }
    if (n.columns > 4096 || n.logical > 1000 || n.physical > 1000)
        throw Error(ErrorKind::Corrupt, "The table definition on page " + std::to_string(d.page) + " is damaged");
    return n;
}

void parseColumn(const Format& f, const uint8_t* p, ColumnDef& c)
{
    c.type = ColumnType(p[0]);
    c.number = get16(p + f.colNumber);
    c.varIndex = get16(p + f.colVarIndex);
    c.number2 = get16(p + f.colNumber2);
    c.flags = p[f.colFlags];
    c.fixedOffset = get16(p + f.colFixedOffset);
    c.length = get16(p + f.colLength);
    if (f.jet4()) {
        c.extFlags = p[f.colExtFlags];
        c.misc4 = p[13];
        // Bytes 11-12 hold a text column's sort order, else precision and scale.
        if (c.isText()) {
            c.sortOrder = get16(p + 11);
            c.sortVersion = p[14];
        } else {
            c.precision = p[11];
            c.scale = p[12];
            c.sortVersion = p[14];
        }
    } else {
        c.precision = p[f.colPrecision];
        c.scale = p[f.colScale];
        c.sortOrder = get16(p + f.colSortOrder);
        c.codePage = get16(p + f.colCodePage);
    }
}

// Ten column slots (0xFFFF where unused, whose order byte is kept), then
// the tree's usage map, first page and flags.
void parsePhysicalIndex(const Format& f, const uint8_t* p, PhysicalIndexDef& pi)
{
    if (f.jet4())
        p += 4;
    for (int k = 0; k < 10; ++k) {
        uint16_t col = get16(p + k * 3);
        uint8_t order = p[k * 3 + 2];
        if (col == 0xFFFF) {
            pi.unusedOrder[size_t(k)] = order;
            continue;
        }
        pi.columns.push_back({col, (order & 0x01) != 0});
    }
    p += 30;
    pi.usageMap = get32(p);
    pi.firstPage = get32(p + 4);
    if (f.jet4()) {
        pi.jet4BeforeFlags = get32(p + 8);
        pi.flags = p[12];
        std::copy(p + 13, p + 18, pi.jet4Tail.begin());
    } else {
        pi.flags = p[8];
    }
}

void parseLogicalIndex(const Format& f, const uint8_t* p, LogicalIndexDef& li)
{
    if (f.jet4()) {
        li.jet4Magic = get32(p);
        p += 4;
    }
    li.number = get32(p);
    li.physicalIndex = get32(p + 4);
    li.relatedTableType = p[8];
    li.relatedIndex = get32(p + 9);
    li.relatedTablePage = get32(p + 13);
    li.cascadeUpdates = p[17];
    li.cascadeDeletes = p[18];
    li.type = p[19];
    if (f.jet4())
        li.tail = get32(p + 20);
}

// Usage maps of long-value columns, up to FF FF or the end.
void parseLongValueMaps(Reader& r, TableDef& d)
{
    while (r.pos + 2 <= r.b.size()) {
        uint16_t col = get16(r.need(2));
        if (col == 0xFFFF)
            break;
        const uint8_t* p = r.need(8);
        for (auto& c : d.columns)
            if (c.number == col) {
                c.lvOwnedMap = get32(p);
                c.lvFreeMap = get32(p + 4);
            }
    }
}

} // namespace

TableDef parseTableDef(const Format& f, const std::vector<uint8_t>& bytes, uint32_t page)
{
    if (bytes.size() < f.tdefHeaderEnd || bytes[0] != kPageTableDef)
        throw Error(ErrorKind::Corrupt, "Page " + std::to_string(page) + " is not a table definition");
    TableDef d;
    d.page = page;
    const DefCounts n = parseHead(f, bytes.data(), d);

    // After the head, each kind of block in turn: index counts, column
    // descriptors, column names, index definitions, index names.
    Reader r{bytes, f.tdefHeaderEnd};
    d.physicalIndexes.resize(n.physical);
    for (auto& pi : d.physicalIndexes) {
        const uint8_t* p = r.need(f.physicalIndexCountEntrySize);
        pi.countPrefix = get32(p);
        pi.distinctKeys = get32(p + 4);
        if (f.jet4())
            pi.countSuffix = get32(p + 8);
    }
    d.columns.resize(n.columns);
    for (auto& c : d.columns)
        parseColumn(f, r.need(f.columnDescriptorSize), c);
    for (auto& c : d.columns)
        c.name = readName(f, r);
    for (auto& pi : d.physicalIndexes)
        parsePhysicalIndex(f, r.need(f.physicalIndexDefSize), pi);
    d.logicalIndexes.resize(n.logical);
    for (auto& li : d.logicalIndexes) {
        parseLogicalIndex(f, r.need(f.logicalIndexDefSize), li);
        if (li.physicalIndex >= n.physical)
            throw Error(ErrorKind::Corrupt, "The table definition on page " + std::to_string(page) + " is damaged (index data)");
    }
    for (auto& li : d.logicalIndexes)
        li.name = readName(f, r);
    parseLongValueMaps(r, d);
    return d;
}

namespace {

// Appends a zeroed block of `size` bytes; returns where it starts.
uint8_t* appendBlock(std::vector<uint8_t>& out, size_t size)
{
    const size_t o = out.size();
    out.resize(o + size, 0);
    return out.data() + o;
}

// The fixed head: counts, the table's usage maps, Jet 4's kept bytes.
std::vector<uint8_t> serializeHead(const Format& f, const TableDef& d)
{
    std::vector<uint8_t> out(f.tdefHeaderEnd - 8, 0);
    // Offsets below are relative to the page; `out` starts at page byte 8.
    auto at = [&](uint32_t off) { return out.data() + off - 8; };
    put32(at(f.tdefRowCount), d.rowCount);
    put32(at(f.tdefAutoNumber), d.nextAutoNumber);
    if (f.jet4()) {
        put32(at(12), d.jet4HeaderMagic);
        std::copy(d.jet4Unknown.begin(), d.jet4Unknown.end(), at(24));
    }
    *at(f.tdefTableType) = d.tableType;
    put16(at(f.tdefMaxColumns), d.maxColumns);
    put16(at(f.tdefVarColumns), d.variableColumnCount());
    put16(at(f.tdefColumnCount), uint16_t(d.columns.size()));
    put32(at(f.tdefLogicalIndexCount), uint32_t(d.logicalIndexes.size()));
    put32(at(f.tdefPhysicalIndexCount), uint32_t(d.physicalIndexes.size()));
    put32(at(f.tdefOwnedMap), d.ownedMap);
    put32(at(f.tdefFreeMap), d.freeMap);
    return out;
}

void serializeColumn(const Format& f, const ColumnDef& c, uint8_t* p)
{
    p[0] = uint8_t(c.type);
    put16(p + f.colNumber, c.number);
    put16(p + f.colVarIndex, c.varIndex);
    put16(p + f.colNumber2, c.number2);
    p[f.colFlags] = c.flags;
    put16(p + f.colFixedOffset, c.fixedOffset);
    put16(p + f.colLength, c.length);
    if (f.jet4()) {
        put32(p + 1, kJet4TableMagic);
        p[f.colExtFlags] = c.extFlags;
        if (c.isText()) {
            put16(p + 11, c.sortOrder);
        } else {
            p[11] = c.precision;
            p[12] = c.scale;
        }
        p[13] = c.misc4;
        p[14] = c.sortVersion;
    } else {
        p[f.colPrecision] = c.precision;
        p[f.colScale] = c.scale;
        if (c.isText()) {
            put16(p + f.colSortOrder, c.sortOrder);
            put16(p + f.colCodePage, c.codePage);
        }
    }
}

void serializePhysicalIndex(const Format& f, const PhysicalIndexDef& pi, uint8_t* p)
{
    if (f.jet4()) {
        put32(p, kJet4IndexMagic);
        p += 4;
    }
    for (size_t k = 0; k < 10; ++k) {
        if (k < pi.columns.size()) {
            put16(p + k * 3, pi.columns[k].columnNumber);
            p[k * 3 + 2] = pi.columns[k].ascending ? 0x01 : 0x00;
        } else {
            put16(p + k * 3, 0xFFFF);
            p[k * 3 + 2] = pi.unusedOrder[k];
        }
    }
    p += 30;
    put32(p, pi.usageMap);
    put32(p + 4, pi.firstPage);
    if (f.jet4()) {
        put32(p + 8, pi.jet4BeforeFlags);
        p[12] = pi.flags;
        std::copy(pi.jet4Tail.begin(), pi.jet4Tail.end(), p + 13);
    } else {
        p[8] = pi.flags;
    }
}

void serializeLogicalIndex(const Format& f, const LogicalIndexDef& li, uint8_t* p)
{
    if (f.jet4()) {
        put32(p, li.jet4Magic);
        p += 4;
    }
    put32(p, li.number);
    put32(p + 4, li.physicalIndex);
    p[8] = li.relatedTableType;
    put32(p + 9, li.relatedIndex);
    put32(p + 13, li.relatedTablePage);
    p[17] = li.cascadeUpdates;
    p[18] = li.cascadeDeletes;
    p[19] = li.type;
    if (f.jet4())
        put32(p + 20, li.tail);
}

} // namespace

std::vector<uint8_t> serializeTableDef(const Format& f, const TableDef& d)
{
    std::vector<uint8_t> out = serializeHead(f, d);
    for (const auto& pi : d.physicalIndexes) {
        uint8_t* p = appendBlock(out, f.physicalIndexCountEntrySize);
        put32(p, pi.countPrefix);
        put32(p + 4, pi.distinctKeys);
        if (f.jet4())
            put32(p + 8, pi.countSuffix);
    }
    for (const auto& c : d.columns)
        serializeColumn(f, c, appendBlock(out, f.columnDescriptorSize));
    for (const auto& c : d.columns)
        writeName(f, out, c.name);
    for (const auto& pi : d.physicalIndexes)
        serializePhysicalIndex(f, pi, appendBlock(out, f.physicalIndexDefSize));
    for (const auto& li : d.logicalIndexes)
        serializeLogicalIndex(f, li, appendBlock(out, f.logicalIndexDefSize));
    for (const auto& li : d.logicalIndexes)
        writeName(f, out, li.name);
    for (const auto& c : d.columns) {
        if (!c.isLongValue())
            continue;
        uint8_t* p = appendBlock(out, 10);
        put16(p, c.number);
        put32(p + 2, c.lvOwnedMap);
        put32(p + 6, c.lvFreeMap);
    }
    out.push_back(0xFF);
    out.push_back(0xFF);
    return out;
}

} // namespace jet
