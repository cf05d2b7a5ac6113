#include "jet/properties.h"

#include "jet/bytes.h"
#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/text_codec.h"

#include <algorithm>
#include <optional>

namespace jet {

namespace {

constexpr uint16_t kNameList = 0x80;
constexpr uint16_t kObjectMap = 0x00;
constexpr uint16_t kColumnMap = 0x01;
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr int16_t kObjectTable = 1;

const char* magic(const Format& f) { return f.jet4() ? "MR2" : "KKD"; }

// Names and text values are stored without compression: UTF-16LE in Jet 4,
// code page 1252 in Jet 3.
std::vector<uint8_t> textBytes(const Format& f, const std::string& utf8)
{
    std::vector<uint8_t> out;
    if (f.jet4()) {
        for (char16_t c : utf8ToUtf16(utf8)) {
            out.push_back(uint8_t(c));
            out.push_back(uint8_t(c >> 8));
        }
        return out;
    }
    std::optional<std::string> cp = utf8ToCp1252(utf8);
    if (!cp)
        throw Error("The property text '" + utf8 + "' has characters an Access 97 file cannot hold");
    return std::vector<uint8_t>(cp->begin(), cp->end());
}

std::string textOf(const Format& f, const uint8_t* p, size_t n)
{
    if (f.jet4()) {
        std::u16string s;
        for (size_t i = 0; i + 1 < n; i += 2)
            s.push_back(char16_t(p[i] | (p[i + 1] << 8)));
        return utf16ToUtf8(s);
    }
    return cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
}

std::vector<uint8_t> valueBytes(const Format& f, const Property& p)
{
    std::vector<uint8_t> out;
    auto integer = [&](int bytes) {
        int64_t v = p.value.kind() == Value::Kind::Bool ? (p.value.asBool() ? 1 : 0) : p.value.asInt();
        for (int i = 0; i < bytes; ++i)
            out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
    };
    switch (p.type) {
    case ColumnType::Boolean:
        out.push_back(p.value.asBool() || p.value.asInt() != 0 ? 1 : 0);
        break;
    case ColumnType::Byte: integer(1); break;
    case ColumnType::Integer: integer(2); break;
    case ColumnType::Long: integer(4); break;
    case ColumnType::Text:
    case ColumnType::Memo: out = textBytes(f, p.value.str()); break;
    default: out.assign(p.value.str().begin(), p.value.str().end()); break;
    }
    if (out.size() > 0x7FF0)
        throw Error("The property '" + p.name + "' is too long");
    return out;
}

void append16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void append32(std::vector<uint8_t>& b, uint32_t v)
{
    append16(b, uint16_t(v));
    append16(b, uint16_t(v >> 16));
}

void appendName(const Format& f, std::vector<uint8_t>& b, const std::string& name)
{
    std::vector<uint8_t> t = textBytes(f, name);
    append16(b, uint16_t(t.size()));
    b.insert(b.end(), t.begin(), t.end());
}

// A block: 4-byte length (header included), 2-byte type, contents.
void appendBlock(std::vector<uint8_t>& out, uint16_t type, const std::vector<uint8_t>& contents)
{
    append32(out, uint32_t(contents.size() + 6));
    append16(out, type);
    out.insert(out.end(), contents.begin(), contents.end());
}

}  // namespace

const Property* PropertyMap::find(const std::string& propertyName) const
{
    for (const auto& p : properties)
        if (sameName(p.name, propertyName))
            return &p;
    return nullptr;
}

void PropertyMap::set(Property p)
{
    for (auto& q : properties)
        if (sameName(q.name, p.name)) {
            q = std::move(p);
            return;
        }
    properties.push_back(std::move(p));
}

std::vector<uint8_t> encodeProperties(const Format& f, const std::vector<PropertyMap>& maps)
{
    std::vector<std::string> names;
    auto nameIndex = [&](const std::string& n) {
        for (size_t i = 0; i < names.size(); ++i)
            if (sameName(names[i], n))
                return i;
        names.push_back(n);
        return names.size() - 1;
    };
    for (const auto& m : maps)
        for (const auto& p : m.properties)
            nameIndex(p.name);

    std::vector<uint8_t> out(magic(f), magic(f) + 4);
    std::vector<uint8_t> list;
    for (const auto& n : names)
        appendName(f, list, n);
    appendBlock(out, kNameList, list);

    // The object's own map first, then the columns', as Access orders them.
    std::vector<const PropertyMap*> ordered;
    for (const auto& m : maps)
        if (m.name.empty())
            ordered.push_back(&m);
    for (const auto& m : maps)
        if (!m.name.empty())
            ordered.push_back(&m);
    for (const PropertyMap* m : ordered) {
        if (m->properties.empty())
            continue;
        std::vector<uint8_t> body;
        std::vector<uint8_t> mapName;
        appendName(f, mapName, m->name);
        append32(body, uint32_t(mapName.size() + 4));
        body.insert(body.end(), mapName.begin(), mapName.end());
        for (const auto& p : m->properties) {
            std::vector<uint8_t> data = valueBytes(f, p);
            append16(body, uint16_t(data.size() + 8));
            body.push_back(p.ddl ? 1 : 0);
            body.push_back(uint8_t(p.type));
            append16(body, uint16_t(nameIndex(p.name)));
            append16(body, uint16_t(data.size()));
            body.insert(body.end(), data.begin(), data.end());
        }
        appendBlock(out, m->name.empty() ? kObjectMap : kColumnMap, body);
    }
    return out;
}

namespace {

Error damaged(const std::string& what) { return Error(ErrorKind::Corrupt, "A property block is damaged: " + what); }

// The names the maps' values refer to by number, each with its length.
std::vector<std::string> decodeNameList(const Format& f, const uint8_t* b, size_t p, size_t end)
{
    std::vector<std::string> names;
    while (p < end) {
        if (end - p < 2 || get16(b + p) > end - p - 2)
            throw damaged("a property name is cut short");
        const uint16_t n = get16(b + p);
        names.push_back(textOf(f, b + p + 2, n));
        p += 2 + n;
    }
    return names;
}

Value decodeValue(const Format& f, ColumnType type, const uint8_t* d, uint16_t size)
{
    switch (type) {
    case ColumnType::Boolean: return Value::boolean(size > 0 && d[0] != 0);
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: {
        int64_t v = 0;
        if (size == 1) v = type == ColumnType::Byte ? d[0] : int8_t(d[0]);
        else if (size == 2) v = int16_t(get16(d));
        else if (size >= 4) v = int32_t(get32(d));
        return Value::integer(v);
    }
    case ColumnType::Text:
    case ColumnType::Memo: return Value::text(textOf(f, d, size));
    default: return Value::bytes(std::string(d, d + size));
    }
}

// One map: its name (empty for the object's own), then its values, each
// with its length, flags, type, name number and data.
PropertyMap decodeMap(const Format& f, const uint8_t* b, size_t p, size_t end, const std::vector<std::string>& names)
{
    PropertyMap m;
    if (end - p >= 6) {
        const uint32_t nameBlock = get32(b + p);
        if (nameBlock < 4 || nameBlock > end - p)
            throw damaged("a map's name is cut short");
        if (nameBlock >= 6) {
            const uint16_t n = get16(b + p + 4);
            if (n > nameBlock - 6)
                throw damaged("a map's name is cut short");
            m.name = textOf(f, b + p + 6, n);
        }
        p += nameBlock;
    }
    while (p < end) {
        if (end - p < 8)
            throw damaged("a value is cut short");
        const uint16_t vlen = get16(b + p);
        const uint16_t idx = get16(b + p + 4);
        const uint16_t size = get16(b + p + 6);
        if (vlen < 8 || vlen > end - p || size > vlen - 8u || idx >= names.size())
            throw damaged("a value's length or name is wrong");
        Property prop;
        prop.name = names[idx];
        prop.ddl = b[p + 2] != 0;
        prop.type = ColumnType(b[p + 3]);
        prop.value = decodeValue(f, prop.type, b + p + 8, size);
        m.properties.push_back(std::move(prop));
        p += vlen;
    }
    return m;
}

}  // namespace

std::vector<PropertyMap> decodeProperties(const Format& f, const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 4 || (std::string(bytes.begin(), bytes.begin() + 3) != "KKD" &&
                             std::string(bytes.begin(), bytes.begin() + 3) != "MR2") ||
        bytes[3] != 0)
        throw damaged("unknown kind");
    // Blocks of a length and a type: the name list, then the maps.
    std::vector<PropertyMap> maps;
    std::vector<std::string> names;
    bool haveNames = false;
    size_t pos = 4;
    const uint8_t* b = bytes.data();
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 6)
            throw damaged("a block is cut short");
        const uint32_t len = get32(b + pos);
        const uint16_t type = get16(b + pos + 4);
        if (len < 6 || len > bytes.size() - pos)
            throw damaged("a block's length is wrong");
        const size_t end = pos + len;
        if (type == kNameList) {
            names = decodeNameList(f, b, pos + 6, end);
            haveNames = true;
        } else {
            if (!haveNames)
                throw damaged("values come before the names");
            maps.push_back(decodeMap(f, b, pos + 6, end, names));
        }
        pos = end;
    }
    return maps;
}

namespace {

struct CatalogColumns {
    int id = -1, parentId = -1, name = -1, type = -1, lvProp = -1;
};

CatalogColumns catalogColumns(const TableDef& d)
{
    const CatalogColumns c{d.columnIndex("Id"), d.columnIndex("ParentId"), d.columnIndex("Name"),
                           d.columnIndex("Type"), d.columnIndex("LvProp")};
    if (c.id < 0 || c.parentId < 0 || c.name < 0 || c.type < 0 || c.lvProp < 0)
        throw Error(ErrorKind::Corrupt, "The catalog has no column for properties");
    return c;
}

bool isTableRow(const CatalogColumns& c, const std::vector<Value>& v)
{
    return !v[size_t(c.name)].isNull() && v[size_t(c.parentId)].asInt() == kTablesContainer &&
           v[size_t(c.type)].asInt() == kObjectTable;
}

}  // namespace

std::vector<PropertyMap> readTableProperties(Database& db, const std::string& table)
{
    Table& objects = db.table("MSysObjects");
    const CatalogColumns c = catalogColumns(objects.def());
    std::vector<PropertyMap> maps;
    objects.scan([&](const std::vector<Value>& v, uint32_t) {
        if (!isTableRow(c, v) || !sameName(v[size_t(c.name)].str(), table))
            return true;
        const Value& lv = v[size_t(c.lvProp)];
        if (!lv.isNull() && !lv.str().empty())
            maps = decodeProperties(db.format(), std::vector<uint8_t>(lv.str().begin(), lv.str().end()));
        return false;
    });
    return maps;
}

void writeTableProperties(Database& db, const std::vector<std::pair<std::string, std::vector<PropertyMap>>>& tables)
{
    if (tables.empty())
        return;
    // Encoding first: a value that cannot be stored changes nothing.
    std::vector<std::pair<std::string, Value>> blocks;
    for (const auto& [name, maps] : tables) {
        bool any = std::any_of(maps.begin(), maps.end(), [](const PropertyMap& m) { return !m.properties.empty(); });
        blocks.emplace_back(name, any ? Value::bytes(encodeProperties(db.format(), maps)) : Value::null());
    }
    asOneStatement(db, [&] {
        Table& objects = db.table("MSysObjects");
        const CatalogColumns c = catalogColumns(objects.def());
        std::vector<std::pair<uint32_t, std::vector<Value>>> rows;
        objects.scan([&](const std::vector<Value>& v, uint32_t ptr) {
            if (isTableRow(c, v))
                for (const auto& b : blocks)
                    if (sameName(v[size_t(c.name)].str(), b.first)) {
                        rows.emplace_back(ptr, v);
                        break;
                    }
            return true;
        });
        for (const auto& b : blocks)
            if (std::none_of(rows.begin(), rows.end(), [&](const auto& r) { return sameName(r.second[size_t(c.name)].str(), b.first); }))
                throw Error("No such table '" + b.first + "'");
        // Rows go back in the order they were found: the catalog keeps
        // its order of tables.
        for (auto& [ptr, v] : rows) {
            objects.removeRow(ptr, v);
            for (const auto& b : blocks)
                if (sameName(v[size_t(c.name)].str(), b.first))
                    v[size_t(c.lvProp)] = b.second;
            objects.append(v);
        }
        objects.flushHeader();
    });
}

}  // namespace jet
