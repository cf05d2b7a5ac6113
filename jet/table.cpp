#include "jet/table.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/field_codec.h"
#include "jet/index_key.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"
#include "jet/pager.h"
#include "jet/row_codec.h"
#include "jet/row_key.h"
#include "jet/text_codec.h"
#include "jet/usage_map.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace jet {

namespace {

constexpr uint32_t kLvalInline = 0x80000000u;
constexpr uint32_t kLvalSingle = 0x40000000u;
constexpr uint32_t kLvalLengthMask = 0x3FFFFFFFu;
constexpr uint32_t kInlineLongValueMax = 64;
const uint8_t kLvalOwner[4] = {'L', 'V', 'A', 'L'};

} // namespace

Table::Table(Database& db, std::string name, TableDef def) : db_(db), name_(std::move(name)), def_(std::move(def))
{
    lvalPage_.assign(def_.columns.size(), 0);
}

Table::~Table() = default;

void Table::checkUsable() const
{
    if (dropped_)
        throw Error("The table '" + name_ + "' no longer exists");
}

void Table::dropTrees()
{
    indexTrees_.clear();
    indexStores_.clear();
}

IndexTree& Table::tree(size_t pi)
{
    if (indexTrees_.size() != def_.physicalIndexes.size()) {
        dropTrees();
        indexTrees_.resize(def_.physicalIndexes.size());
        indexStores_.resize(def_.physicalIndexes.size());
    }
    if (!indexTrees_[pi]) {
        const PhysicalIndexDef& idx = def_.physicalIndexes[pi];
        std::string name;
        for (const auto& li : def_.logicalIndexes)
            if (li.physicalIndex == pi)
                name = li.name;
        indexStores_[pi] = std::make_unique<IndexStore>(db_, idx.usageMap);
        indexTrees_[pi] = std::make_unique<IndexTree>(*indexStores_[pi], def_.page, idx.firstPage, name);
        indexTrees_[pi]->setDeferredWrites(true);
        indexTrees_[pi]->setUnique((idx.flags & kIndexUnique) != 0);
    }
    return *indexTrees_[pi];
}

void Table::takeNewKeys()
{
    for (size_t pi = 0; pi < indexTrees_.size() && pi < def_.physicalIndexes.size(); ++pi)
        if (indexTrees_[pi])
            if (uint32_t n = indexTrees_[pi]->takeNewKeys()) {
                def_.physicalIndexes[pi].distinctKeys += n;
                headerDirty_ = true;
            }
}

void Table::flushIndexes()
{
    for (auto& t : indexTrees_)
        if (t)
            t->flush();
    takeNewKeys();
}

bool Table::reload()
{
    dropTrees();
    lastDataPage_ = 0;
    headerDirty_ = false;
    Pager& pager = db_.pager();
    if (def_.page >= pager.pageCount() || pager.read(def_.page)[0] != kPageTableDef) {
        dropped_ = true;
        return false;
    }
    std::vector<uint8_t> bytes = db_.readDefinition(def_.page);
    def_ = parseTableDef(db_.format(), bytes, def_.page);
    lvalPage_.assign(def_.columns.size(), 0);
    return true;
}

void Table::flushHeader()
{
    // Waiting index entries first: they change the distinct-key counts.
    flushIndexes();
    if (!headerDirty_)
        return;
    const Format& f = db_.format();
    uint8_t* p = db_.pager().write(def_.page);
    put32(p + f.tdefRowCount, def_.rowCount);
    put32(p + f.tdefAutoNumber, def_.nextAutoNumber);
    for (size_t i = 0; i < def_.physicalIndexes.size(); ++i)
        put32(p + f.tdefHeaderEnd + i * f.physicalIndexCountEntrySize + 4, def_.physicalIndexes[i].distinctKeys);
    headerDirty_ = false;
}

std::vector<uint32_t> Table::dataPages()
{
    if (!def_.ownedMap)
        return {};
    return UsageMap(db_.pager(), db_.format(), def_.ownedMap).pages();
}

Value Table::readLongValue(const ColumnDef& c, const uint8_t* ref, uint32_t size)
{
    const Format& f = db_.format();
    if (size < 12)
        throw Error(ErrorKind::Corrupt, "A long value of column '" + c.name + "' is damaged");
    uint32_t head = get32(ref);
    uint32_t length = head & kLvalLengthMask;
    if (head & kLvalInline) {
        if (12 + length > size)
            throw Error(ErrorKind::Corrupt, "A long value of column '" + c.name + "' is damaged");
        return decodeLongValuePayload(f, c, ref + 12, length);
    }
    uint32_t ptr = get32(ref + 4);
    if (head & kLvalSingle) {
        std::vector<uint8_t> row = readRowAt(db_.pager(), f, ptr);
        if (row.size() < length)
            length = uint32_t(row.size());
        return decodeLongValuePayload(f, c, row.data(), length);
    }
    // The stored length is not trusted: the value holds what its rows hold,
    // and a chain that comes back to a row it passed is damaged.
    std::vector<uint8_t> data;
    data.reserve(std::min<uint32_t>(length, f.lvalChainChunk));
    std::unordered_set<uint32_t> seen;
    while (ptr && data.size() < length) {
        std::vector<uint8_t> row = readRowAt(db_.pager(), f, ptr);
        if (row.size() < 4 || !seen.insert(ptr).second)
            throw Error(ErrorKind::Corrupt, "A long value chain of column '" + c.name + "' is damaged");
        ptr = get32(row.data());
        data.insert(data.end(), row.begin() + 4, row.end());
    }
    if (data.size() > length)
        data.resize(length);
    return decodeLongValuePayload(f, c, data.data(), data.size());
}

void Table::scanStored(const std::function<bool(const uint8_t*, uint32_t, uint32_t)>& fn)
{
    checkUsable();
    const Format& f = db_.format();
    Pager& pager = db_.pager();
    std::vector<uint8_t> page;
    std::vector<uint8_t> moved;
    for (uint32_t pg : dataPages()) {
        if (pg >= pager.pageCount())
            throw Error(ErrorKind::Corrupt, "Table '" + name_ + "' lists page " + std::to_string(pg) + " beyond the end of the file");
        const uint8_t* p = pager.read(pg);
        page.assign(p, p + f.pageSize);
        if (page[0] != kPageData || get32(page.data() + 4) != def_.page)
            continue;
        uint16_t n = data_page::rowCount(f, page.data());
        for (uint16_t r = 0; r < n; ++r) {
            uint16_t raw = data_page::rowOffsetRaw(f, page.data(), r);
            if (raw & kRowDeleted)
                continue;
            auto [s, e] = data_page::rowBounds(f, page.data(), r);
            const uint8_t* row = page.data() + s;
            uint32_t size = e - s;
            if (raw & kRowOverflow) {
                if (size < 4)
                    continue;
                moved = readRowAt(pager, f, get32(row));
                row = moved.data();
                size = uint32_t(moved.size());
            }
            if (!fn(row, size, makeRowPointer(pg, uint8_t(r))))
                return;
        }
        pager.trimClean();
    }
}

void Table::scan(const std::function<bool(const std::vector<Value>&, uint32_t)>& fn)
{
    const Format& f = db_.format();
    std::vector<Value> values(def_.columns.size());
    scanStored([&](const uint8_t* row, uint32_t size, uint32_t ptr) {
        auto raws = decodeRow(f, def_, row, size);
        for (size_t i = 0; i < def_.columns.size(); ++i) {
            const ColumnDef& c = def_.columns[i];
            const RawField& rf = raws[i];
            if (c.type == ColumnType::Boolean)
                values[i] = rf.null ? Value::null() : Value::boolean(rf.bit);
            else if (rf.null)
                values[i] = Value::null();
            else if (c.isLongValue())
                values[i] = readLongValue(c, rf.data, rf.size);
            else
                values[i] = decodeField(f, c, rf.data, rf.size);
        }
        return fn(values, ptr);
    });
}

void Table::scanFields(const std::function<bool(const std::vector<RawField>&, uint32_t)>& fn)
{
    const Format& f = db_.format();
    scanStored([&](const uint8_t* row, uint32_t size, uint32_t ptr) {
        return fn(decodeRow(f, def_, row, size), ptr);
    });
}

std::vector<std::vector<Value>> Table::readAll()
{
    auto order = def_.columnsInOrder();
    std::vector<size_t> pos;
    for (auto* c : order)
        pos.push_back(size_t(c - def_.columns.data()));
    std::vector<std::vector<Value>> rows;
    scan([&](const std::vector<Value>& v, uint32_t) {
        std::vector<Value> r;
        r.reserve(pos.size());
        for (size_t p : pos)
            r.push_back(v[p]);
        rows.push_back(std::move(r));
        return true;
    });
    return rows;
}

uint32_t Table::lvalPageWithRoom(const ColumnDef& c, uint32_t length)
{
    const Format& f = db_.format();
    size_t ci = size_t(&c - def_.columns.data());
    uint32_t pg = lvalPage_[ci];
    if (pg) {
        const uint8_t* p = data_page::checked(db_.pager(), f, pg);
        if (data_page::fits(f, p, length))
            return pg;
        if (c.lvFreeMap)
            UsageMap(db_.pager(), f, c.lvFreeMap, [this] { return db_.allocatePage(); }).remove(pg);
    }
    pg = db_.allocatePage();
    uint8_t* p = db_.pager().write(pg);
    data_page::init(f, p, 0);
    std::memcpy(p + 4, kLvalOwner, 4);
    auto alloc = [this] { return db_.allocatePage(); };
    if (c.lvOwnedMap)
        UsageMap(db_.pager(), f, c.lvOwnedMap, alloc).add(pg);
    if (c.lvFreeMap)
        UsageMap(db_.pager(), f, c.lvFreeMap, alloc).add(pg);
    lvalPage_[ci] = pg;
    return pg;
}

std::vector<uint8_t> Table::writeLongValue(const ColumnDef& c, const std::vector<uint8_t>& payload, uint32_t rowBudget)
{
    const Format& f = db_.format();
    std::vector<uint8_t> ref(12, 0);
    uint32_t n = uint32_t(payload.size());
    if (payload.size() > kLvalLengthMask)
        throw Error("The value for column '" + c.name + "' is larger than the 1 GB a field can hold");
    if (n <= kInlineLongValueMax && n <= rowBudget) {
        put32(ref.data(), n | kLvalInline);
        ref.insert(ref.end(), payload.begin(), payload.end());
        return ref;
    }
    if (n <= f.lvalSingleMax) {
        uint32_t pg = lvalPageWithRoom(c, n);
        uint16_t r = data_page::addRow(f, data_page::forChange(db_.pager(), f, pg), payload.data(), n);
        put32(ref.data(), n | kLvalSingle);
        put32(ref.data() + 4, makeRowPointer(pg, uint8_t(r)));
        return ref;
    }
    // A chain, written from its end so that each row knows its successor.
    uint32_t chunk = f.lvalChainChunk;
    uint32_t pieces = (n + chunk - 1) / chunk;
    db_.pager().ensureRoom(pieces + 2);
    uint32_t next = 0;
    std::vector<uint8_t> row;
    for (uint32_t k = pieces; k-- > 0;) {
        uint32_t off = k * chunk;
        uint32_t len = std::min(chunk, n - off);
        row.assign(4, 0);
        put32(row.data(), next);
        row.insert(row.end(), payload.begin() + off, payload.begin() + off + len);
        uint32_t pg = lvalPageWithRoom(c, uint32_t(row.size()));
        uint16_t r = data_page::addRow(f, data_page::forChange(db_.pager(), f, pg), row.data(), uint32_t(row.size()));
        next = makeRowPointer(pg, uint8_t(r));
    }
    put32(ref.data(), n);
    put32(ref.data() + 4, next);
    return ref;
}

uint32_t Table::addRowToDataPage(const std::vector<uint8_t>& row)
{
    const Format& f = db_.format();
    Pager& pager = db_.pager();
    auto alloc = [this] { return db_.allocatePage(); };
    if (!lastDataPage_ && def_.freeMap) {
        // Continue on the last page that still has room.
        auto pages = UsageMap(pager, f, def_.freeMap).pages();
        for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
            if (*it >= pager.pageCount())
                continue;
            const uint8_t* p = pager.read(*it);
            if (p[0] == kPageData && get32(p + 4) == def_.page) {
                lastDataPage_ = *it;
                break;
            }
        }
    }
    if (lastDataPage_) {
        if (auto r = data_page::addRowIfRoom(pager, f, lastDataPage_, row.data(), uint32_t(row.size())))
            return makeRowPointer(lastDataPage_, uint8_t(*r));
        if (def_.freeMap)
            UsageMap(pager, f, def_.freeMap, alloc).remove(lastDataPage_);
    }
    uint32_t pg = db_.allocatePage();
    uint8_t* p = pager.write(pg);
    data_page::init(f, p, def_.page);
    if (def_.ownedMap)
        UsageMap(pager, f, def_.ownedMap, alloc).add(pg);
    if (def_.freeMap)
        UsageMap(pager, f, def_.freeMap, alloc).add(pg);
    lastDataPage_ = pg;
    uint16_t r = data_page::addRow(f, pager.write(pg), row.data(), uint32_t(row.size()));
    return makeRowPointer(pg, uint8_t(r));
}

const std::vector<std::vector<uint8_t>>& Table::indexKeys(const std::vector<Value>& values)
{
    if (!keyEncoder_)
        keyEncoder_ = std::make_unique<RowKeyEncoder>(db_.format(), name_);
    // Buffers live across rows: appends make no allocations for their keys.
    std::vector<std::vector<uint8_t>>& keys = scratchKeys_;
    keys.resize(def_.physicalIndexes.size());
    for (size_t pi = 0; pi < def_.physicalIndexes.size(); ++pi) {
        PhysicalIndexDef& idx = def_.physicalIndexes[pi];
        std::vector<uint8_t>& key = keys[pi];
        key.clear();
        bool allNullKey = true;
        for (const auto& ic : idx.columns) {
            const ColumnDef* c = def_.columnByNumber(ic.columnNumber);
            if (!c)
                throw Error(ErrorKind::Corrupt, "An index of table '" + name_ + "' names a missing column");
            const Value& v = values[size_t(c - def_.columns.data())];
            allNullKey = allNullKey && v.isNull();
            keyEncoder_->appendColumn(key, *c, ic.ascending, &v, nullptr);
        }
        if ((idx.flags & kIndexRequired) && allNullKey)
            throw Error(ErrorKind::Constraint, "Table '" + name_ + "': a required index column is empty");
    }
    return keys;
}

namespace {
std::string indexName(const TableDef& def, size_t pi)
{
    for (const auto& li : def.logicalIndexes)
        if (li.physicalIndex == pi)
            return li.name;
    return {};
}
} // namespace

void Table::removeRow(uint32_t rowPointer, const std::vector<Value>& values)
{
    const Format& f = db_.format();
    auto keys = indexKeys(values);
    for (size_t pi = 0; pi < def_.physicalIndexes.size(); ++pi) {
        PhysicalIndexDef& idx = def_.physicalIndexes[pi];
        IndexEntry e;
        e.key = keys[pi];
        e.dataPage = rowPointer >> 8;
        e.dataRow = uint8_t(rowPointer & 0xFF);
        bool last = false;
        bool removed = tree(pi).remove(e, &last);
        takeNewKeys();
        if (removed && last && idx.distinctKeys)
            --idx.distinctKeys;
    }
    data_page::deleteRow(f, data_page::forChange(db_.pager(), f, rowPointer >> 8), uint16_t(rowPointer & 0xFF));
    if (def_.rowCount)
        --def_.rowCount;
    headerDirty_ = true;
}

uint32_t Table::append(const std::vector<Value>& values)
{
    return append(values, nullptr);
}

// What append() learns about a row before any page changes.
struct Table::RowPlan {
    std::vector<Field>& fields;
    std::vector<bool> isLong;         // long-value columns: written last, out of the row
    std::vector<size_t> payloadSize;  // their encoded sizes (0 for null)
    uint32_t counterAssigned = 0;     // the largest AutoNumber value in the row
    bool counterSet = false;
};

// The AutoNumber column: the definition keeps the last number drawn; a null
// draws the next one, a given value moves the counter forward when larger.
void Table::encodeCounter(const ColumnDef& c, Value& v, Field& field, RowPlan& plan)
{
    if (v.isNull()) {
        if (def_.nextAutoNumber >= uint32_t(INT32_MAX))
            throw Error(ErrorKind::Full, "The counter of table '" + name_ + "' is exhausted");
        v = Value::integer(int64_t(def_.nextAutoNumber) + 1);
    }
    encodeFieldInto(db_.format(), c, v, field);
    int32_t drawn = int32_t(get32(field.bytes.data()));
    if (drawn > 0)
        plan.counterAssigned = std::max<uint32_t>(plan.counterAssigned, uint32_t(drawn));
    plan.counterSet = true;
}

// Encoding a long value now tells its size and whether the format can hold
// it. Big payloads are encoded again when written, so that a row of many
// long values never holds all of them.
void Table::measureLongValue(size_t i, const Value& v, RowPlan& plan, size_t& keptBytes)
{
    constexpr size_t kKeptPayloadBytes = size_t(1) << 20;
    std::vector<uint8_t>& payload = scratchPayloads_[i];
    plan.isLong[i] = true;
    plan.fields[i].null = true;
    plan.fields[i].bytes.clear();
    if (v.isNull())
        return;
    payload = encodeLongValuePayload(db_.format(), def_.columns[i], v);
    plan.payloadSize[i] = payload.size();
    if (keptBytes + plan.payloadSize[i] > kKeptPayloadBytes)
        std::vector<uint8_t>().swap(payload);
    else
        keptBytes += plan.payloadSize[i];
}

void Table::encodeFields(std::vector<Value>& counterValues, const std::vector<Value>& values, bool preEncoded,
                         RowPlan& plan)
{
    scratchPayloads_.resize(def_.columns.size());
    for (auto& p : scratchPayloads_)
        p.clear();
    size_t keptBytes = 0;
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        if (c.isAutoNumber() && c.type == ColumnType::Long)
            encodeCounter(c, counterValues[i], plan.fields[i], plan);
        else if (c.isLongValue())
            measureLongValue(i, values[i], plan, keptBytes);
        else if (!preEncoded)
            encodeFieldInto(db_.format(), c, values[i], plan.fields[i]);
    }
}

// Room in the row for long values kept inline: what the row leaves free
// without them (each counted as a 12-byte reference).
uint32_t Table::inlineBudget(const std::vector<Value>& values, const RowPlan& plan) const
{
    const Format& f = db_.format();
    uint32_t base = 0;
    for (size_t i = 0; i < def_.columns.size(); ++i)
        base += plan.isLong[i] ? (values[i].isNull() ? 0 : 12) : uint32_t(plan.fields[i].bytes.size());
    base += f.jet4() ? def_.fixedAreaSize() + 16 + 2 * uint32_t(def_.columns.size()) : def_.fixedAreaSize() + 8 + uint32_t(def_.columns.size());
    if (base > maxRowSize(f))
        throw Error("The row is too large for table '" + name_ + "'");
    return maxRowSize(f) - base;
}

// Worst case page need, so that a full file fails before any change: a
// data page and usage-map pages, the long values, and the pages waiting
// index entries need when they enter their trees.
void Table::reserveRoom(const RowPlan& plan)
{
    uint32_t pagesNeeded = 8;
    for (size_t i = 0; i < plan.payloadSize.size(); ++i)
        pagesNeeded += uint32_t(plan.payloadSize[i] / db_.format().lvalChainChunk) + 2;
    for (size_t pi = 0; pi < def_.physicalIndexes.size(); ++pi)
        pagesNeeded += tree(pi).pendingPageBound() + 1;
    db_.pager().ensureRoom(pagesNeeded);
}

// The row's index keys, none of them already in a unique index; null when
// the table has no index.
const std::vector<std::vector<uint8_t>>* Table::checkedIndexKeys(const std::vector<Value>& values)
{
    if (def_.physicalIndexes.empty())
        return nullptr;
    const auto& keys = indexKeys(values);
    for (size_t pi = 0; pi < def_.physicalIndexes.size(); ++pi) {
        const PhysicalIndexDef& idx = def_.physicalIndexes[pi];
        if (!(idx.flags & kIndexUnique) || isNullKey(keys[pi]))
            continue;
        if (tree(pi).containsKey(keys[pi]))
            throw DuplicateKeyError(indexName(def_, pi));
    }
    return &keys;
}

// Writes the long values; each one stored on its own pages takes only its
// reference's room from what the row may still hold inline.
void Table::writeLongValues(const std::vector<Value>& values, RowPlan& plan, uint32_t budget)
{
    std::vector<std::vector<uint8_t>>& payloads = scratchPayloads_;
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        if (!plan.isLong[i] || values[i].isNull())
            continue;
        Field& field = plan.fields[i];
        uint32_t before = budget;
        field.null = false;
        if (payloads[i].size() != plan.payloadSize[i])
            payloads[i] = encodeLongValuePayload(db_.format(), def_.columns[i], values[i]);
        field.bytes = writeLongValue(def_.columns[i], payloads[i], budget);
        if (payloads[i].capacity() > 64 * 1024) {
            std::vector<uint8_t>().swap(payloads[i]);
            // The pages of a long value can outgrow the page cache; no page
            // pointer is held here, so they may go to the file now.
            db_.pager().releaseMemory();
        }
        if (field.bytes.size() > 12)
            budget = before - uint32_t(field.bytes.size() - 12);
    }
}

uint32_t Table::append(const std::vector<Value>& input, std::vector<Field>* encoded)
{
    checkUsable();
    const Format& f = db_.format();
    if (input.size() != def_.columns.size())
        throw Error("Wrong number of values for table '" + name_ + "'");
    // A drawn AutoNumber goes into a copy of the values.
    bool hasCounter = false;
    for (const auto& c : def_.columns)
        hasCounter |= c.isAutoNumber();
    std::vector<Value> counterValues;
    if (hasCounter)
        counterValues = input;
    const std::vector<Value>& values = hasCounter ? counterValues : input;

    // Everything that can fail on the values is checked before any page
    // changes.
    const bool preEncoded = encoded && encoded->size() == def_.columns.size();
    if (!preEncoded)
        scratchFields_.resize(def_.columns.size());
    RowPlan plan{preEncoded ? *encoded : scratchFields_, std::vector<bool>(def_.columns.size(), false),
                 std::vector<size_t>(def_.columns.size(), 0)};
    encodeFields(counterValues, values, preEncoded, plan);
    const uint32_t budget = inlineBudget(values, plan);
    reserveRoom(plan);
    const std::vector<std::vector<uint8_t>>* keys = checkedIndexKeys(values);

    writeLongValues(values, plan, budget);
    thread_local std::vector<uint8_t> row;
    encodeRowInto(f, def_, plan.fields, row);
    if (row.size() > maxRowSize(f))
        throw Error("The row is too large for table '" + name_ + "'");
    uint32_t ptr = addRowToDataPage(row);
    ++def_.rowCount;
    if (plan.counterSet && plan.counterAssigned > def_.nextAutoNumber)
        def_.nextAutoNumber = plan.counterAssigned;
    for (size_t pi = 0; pi < def_.physicalIndexes.size(); ++pi) {
        IndexEntry e;
        e.key = (*keys)[pi];
        e.dataPage = ptr >> 8;
        e.dataRow = uint8_t(ptr & 0xFF);
        tree(pi).add(e);
    }
    headerDirty_ = true;
    return ptr;
}

} // namespace jet
