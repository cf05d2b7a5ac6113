// `check`: the catalog (the tables MSysObjects lists) and the decoding of
// names and text as the file stores them.
#include "jet/checker_int.h"

#include "jet/bytes.h"
#include "jet/code_page.h"
#include "jet/error.h"
#include "jet/text_codec.h"

#include <algorithm>

namespace jet::checking {

// Text as stored in a row or a name: Jet 4 UTF-16LE, possibly compressed
// (FF FE, then one byte per character with 0x00 switching modes); Jet 3
// code page 1252.
std::u16string decodeText16(const Format& f, const uint8_t* p, size_t n)
{
    std::u16string s;
    if (!f.jet4()) {
        for (size_t i = 0; i < n; ++i)
            s += cp1252::decode(p[i]);
        return s;
    }
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
    return s;
}

std::string decodeText(const Format& f, const uint8_t* p, size_t n)
{
    return f.jet4() ? utf16ToUtf8(decodeText16(f, p, n))
                    : cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
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

}  // namespace jet::checking
