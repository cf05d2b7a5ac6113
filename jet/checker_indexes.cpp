// `check`: what each index of a table must hold. Its pages come from its
// usage map; each row gives one entry whose key the checker encodes itself
// (check_keys.h); index_check.cpp then reads the tree and compares.
#include "jet/checker_int.h"

#include "jet/bytes.h"

namespace jet::checking {

IndexPlans Checker::planIndexes(const TableInfo& t, const std::string& label)
{
    IndexPlans plans(t.indexes.size());
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        const PhysicalIndex& ix = t.indexes[i];
        IndexPlan& plan = plans[i];
        const std::string name = label + ", index " + ix.name;
        if (auto owned = usageMap(ix.usageMap, name)) {
            plan.mapRead = true;
            plan.mapPages.insert(owned->begin(), owned->end());
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
    }
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
            plans[i].columns.push_back(col);
            plans[i].ascending.push_back(ascending);
        }
    }
    return plans;
}

// The entry the row at (page, rowNumber) gives each index.
void Checker::expectIndexEntries(const TableInfo& t, const std::string& label, IndexPlans& plans,
                                 const RowValues& values, uint32_t page, uint32_t rowNumber)
{
    std::vector<uint8_t> key;
    std::vector<std::u16string> texts;
    for (size_t i = 0; i < plans.size(); ++i) {
        IndexPlan& plan = plans[i];
        if (!plan.usable)
            continue;
        key.clear();
        texts.assign(plan.columns.size(), {});
        bool allNull = true;
        std::string why;
        for (size_t k = 0; k < plan.columns.size() && plan.usable && why.empty(); ++k) {
            const Column& c = *plan.columns[k];
            checkkeys::Part part;
            part.type = ColumnType(c.type);
            part.ascending = plan.ascending[k];
            auto v = values.find(c.number);
            part.null = v == values.end();
            allNull = allNull && part.null && part.type != ColumnType::Boolean;
            if (!part.null) {
                part.bytes = v->second.first;
                part.size = v->second.second;
            }
            if (!part.null && (part.type == ColumnType::Text || part.type == ColumnType::Memo)) {
                if (part.type == ColumnType::Memo) {
                    // Keys of memos: only values kept in the row are checked.
                    uint32_t head = part.size >= 12 ? get32(part.bytes) : 0;
                    if (!(head & 0x80000000u) || 12 + size_t(head & 0x3FFFFFFF) > part.size) {
                        plan.usable = false;
                        break;
                    }
                    part.bytes += 12;
                    part.size = head & 0x3FFFFFFF;
                }
                texts[k] = decodeText16(f_, part.bytes, part.size);
                part.text = texts[k];
            }
            checkkeys::appendPart(key, f_.version, part, why);
        }
        if (!plan.usable || (allNull && (t.indexes[i].flags & 0x02)))
            continue;  // an index that ignores nulls leaves such rows out
        if (!why.empty()) {
            problem(label, ", index ", t.indexes[i].name, ": the key of row ", rowNumber, " of page ", page,
                    " cannot be encoded: ", why);
            plan.usable = false;
            continue;
        }
        IndexEntry e;
        e.key = key;
        e.dataPage = page;
        e.dataRow = uint8_t(rowNumber);
        plan.expected.push_back(std::move(e));
    }
}

void Checker::checkIndexes(const TableInfo& t, const std::string& label, IndexPlans& plans)
{
    for (size_t i = 0; i < plans.size(); ++i) {
        if (!plans[i].usable || !plans[i].mapRead)
            continue;
        IndexCheckInput in;
        in.format = f_.version;
        in.tdefPage = t.page;
        in.rootPage = t.indexes[i].firstPage;
        in.name = t.indexes[i].name;
        in.expected = std::move(plans[i].expected);
        in.mapPages = &plans[i].mapPages;
        PageReader reader = [this](uint32_t page) { return pages_.get(page); };
        try {
            for (const auto& s : checkIndex(reader, std::move(in)))
                problem(label, ", index ", t.indexes[i].name, ": ", s);
        } catch (const std::exception& ex) {
            problem(label, ", index ", t.indexes[i].name, ": ", std::string(ex.what()));
        }
    }
}

}  // namespace jet::checking
