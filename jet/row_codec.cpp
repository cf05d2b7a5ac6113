#include "jet/row_codec.h"

#include "jet/bytes.h"
#include "jet/error.h"

#include <algorithm>
#include <cstring>

namespace jet {

uint32_t maxRowSize(const Format& f)
{
    return f.jet4() ? 4060 : 2012;
}

std::vector<uint8_t> encodeRow(const Format& f, const TableDef& def, const std::vector<Field>& fields)
{
    std::vector<uint8_t> row;
    encodeRowInto(f, def, fields, row);
    return row;
}

void encodeRowInto(const Format& f, const TableDef& def, const std::vector<Field>& fields, std::vector<uint8_t>& row)
{
    const uint32_t cs = f.rowFieldSize();
    const uint32_t numCols = std::max<uint32_t>(def.maxColumns, uint32_t(def.columns.size()));
    const uint32_t maskSize = (numCols + 7) / 8;
    const uint32_t fixedSize = def.fixedAreaSize();
    row.assign(cs + fixedSize, 0);
    if (cs == 2)
        put16(row.data(), uint16_t(numCols));
    else
        row[0] = uint8_t(numCols);
    thread_local std::vector<uint8_t> mask;
    mask.assign(maskSize, 0);

    int varCount = 0;
    for (const auto& c : def.columns)
        if (!c.isFixed())
            varCount = std::max(varCount, c.varIndex + 1);
    thread_local std::vector<int> byVar;
    byVar.assign(size_t(varCount), -1);
    size_t varBytes = 0;
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        const Field& fl = fields[i];
        bool present = c.type == ColumnType::Boolean ? (!fl.null && fl.bit) : !fl.null;
        if (present)
            mask[c.number / 8] |= uint8_t(1u << (c.number % 8));
        if (c.isFixed()) {
            if (c.type != ColumnType::Boolean && !fl.null)
                std::memcpy(row.data() + cs + c.fixedOffset, fl.bytes.data(),
                            std::min<size_t>(fl.bytes.size(), c.length));
        } else if (c.varIndex < varCount) {
            byVar[c.varIndex] = int(i);
        }
    }
    if (varCount == 0) {
        row.insert(row.end(), mask.begin(), mask.end());
        return;
    }
    for (int v = 0; v < varCount; ++v)
        if (byVar[size_t(v)] >= 0 && !fields[size_t(byVar[size_t(v)])].null)
            varBytes += fields[size_t(byVar[size_t(v)])].bytes.size();
    thread_local std::vector<uint32_t> offsets;
    offsets.assign(size_t(varCount) + 1, 0);
    // The variable data in one piece, each field copied straight into place.
    size_t at = row.size();
    row.resize(at + varBytes);
    for (int v = 0; v < varCount; ++v) {
        offsets[size_t(v)] = uint32_t(at);
        if (byVar[size_t(v)] >= 0) {
            const Field& fl = fields[size_t(byVar[size_t(v)])];
            if (!fl.null && !fl.bytes.empty()) {
                std::memcpy(row.data() + at, fl.bytes.data(), fl.bytes.size());
                at += fl.bytes.size();
            }
        }
    }
    uint32_t eod = uint32_t(row.size());
    offsets[size_t(varCount)] = eod;
    if (f.jet4()) {
        size_t o = row.size();
        row.resize(o + 2 * (size_t(varCount) + 1) + 2);
        uint8_t* p = row.data() + o;
        // eod, then the offsets from last to first, then the count.
        for (int v = varCount; v >= 0; --v, p += 2)
            put16(p, uint16_t(offsets[size_t(v)]));
        put16(p, uint16_t(varCount));
    } else {
        // Jet 3: one-byte offsets. Readers take the jump-table size from
        // the row length, less one dummy entry when the data ends below the
        // last 256-byte boundary.
        uint32_t base = eod + uint32_t(varCount) + 1 + 1 + maskSize;
        uint32_t need = eod / 256;
        uint32_t stored;
        if ((base + need - 1) / 256 == need)
            stored = need;
        else if ((base + need) / 256 == need + 1)
            stored = need + 1;
        else
            throw Error("A row is too long for an Access 97 table");
        bool dummy = stored == need + 1;
        uint32_t realJumps = need;
        for (int v = varCount; v >= 0; --v)
            row.push_back(uint8_t(offsets[size_t(v)] & 0xFF));
        // Jump entries: the first column whose offset reaches each boundary,
        // the last boundary first.
        std::vector<uint8_t> jt;
        for (uint32_t b = 1; b <= realJumps; ++b) {
            uint32_t col = 0;
            while (col <= uint32_t(varCount) && offsets[col] < b * 256)
                ++col;
            jt.push_back(uint8_t(col));
        }
        if (dummy)
            jt.push_back(0xFF);
        for (auto it = jt.rbegin(); it != jt.rend(); ++it)
            row.push_back(*it);
        row.push_back(uint8_t(varCount));
    }
    row.insert(row.end(), mask.begin(), mask.end());
}

std::vector<RawField> decodeRow(const Format& f, const TableDef& def, const uint8_t* row, uint32_t size)
{
    std::vector<RawField> out(def.columns.size());
    const uint32_t cs = f.rowFieldSize();
    if (size < cs + 1)
        throw Error(ErrorKind::Corrupt, "A row is damaged (too short)");
    uint32_t numCols = cs == 2 ? get16(row) : row[0];
    uint32_t maskSize = (numCols + 7) / 8;
    if (maskSize + cs > size)
        throw Error(ErrorKind::Corrupt, "A row is damaged (null mask)");
    const uint8_t* mask = row + size - maskSize;
    auto maskBit = [&](uint32_t n) { return n < numCols && (mask[n / 8] & (1u << (n % 8))) != 0; };

    std::vector<uint32_t> varOffsets;
    uint32_t rowVarCount = 0;
    if (def.variableColumnCount() > 0) {
        if (f.jet4()) {
            if (size < maskSize + 2)
                throw Error(ErrorKind::Corrupt, "A row is damaged");
            rowVarCount = get16(row + size - maskSize - 2);
            if (size < maskSize + 2 + 2 * (rowVarCount + 1))
                throw Error(ErrorKind::Corrupt, "A row is damaged (offsets)");
            varOffsets.reserve(rowVarCount + 1);
            for (uint32_t i = 0; i <= rowVarCount; ++i)
                varOffsets.push_back(get16(row + size - maskSize - 4 - 2 * i));
        } else {
            rowVarCount = row[size - maskSize - 1];
            uint32_t jumps = (size - 1) / 256;
            int64_t colPtr = int64_t(size) - 1 - maskSize - jumps - 1;
            if (jumps > 0 && (colPtr - int64_t(rowVarCount)) / 256 < int64_t(jumps))
                --jumps;
            uint32_t used = 0;
            varOffsets.reserve(rowVarCount + 1);
            for (uint32_t i = 0; i <= rowVarCount; ++i) {
                while (used < jumps && i == row[size - maskSize - 2 - used])
                    ++used;
                int64_t at = colPtr - i;
                if (at < 0)
                    throw Error(ErrorKind::Corrupt, "A row is damaged (offsets)");
                varOffsets.push_back(row[at] + used * 256);
            }
        }
        for (uint32_t o : varOffsets)
            if (o > size)
                throw Error(ErrorKind::Corrupt, "A row is damaged (variable offsets)");
    }
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        RawField& r = out[i];
        bool bit = maskBit(c.number);
        if (c.type == ColumnType::Boolean) {
            r.null = c.number >= numCols;
            r.bit = bit;
            continue;
        }
        if (!bit)
            continue;
        if (c.isFixed()) {
            if (cs + c.fixedOffset + c.length > size - maskSize)
                continue; // the row predates the column
            r.null = false;
            r.data = row + cs + c.fixedOffset;
            r.size = c.length;
        } else {
            if (c.varIndex >= rowVarCount)
                continue;
            uint32_t s = varOffsets[c.varIndex], e = varOffsets[c.varIndex + 1u];
            if (e < s)
                throw Error(ErrorKind::Corrupt, "A row is damaged (variable field)");
            r.null = false;
            r.data = row + s;
            r.size = e - s;
        }
    }
    return out;
}

} // namespace jet
