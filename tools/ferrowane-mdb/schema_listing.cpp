#include "schema_listing.h"

#include "jet/database.h"
#include "jet/error.h"
#include "jet/properties.h"
#include "jet/relationships.h"
#include "jet/text_codec.h"

#include <map>
#include <ostream>

namespace mdbtool {

namespace {

// Texts stay on one line.
std::string oneLine(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::string propertyText(const jet::Property& p)
{
    switch (p.value.kind()) {
    case jet::Value::Kind::Bool: return p.value.asBool() ? "yes" : "no";
    case jet::Value::Kind::Int: return std::to_string(p.value.asInt());
    case jet::Value::Kind::Null: return "";
    default: return oneLine(p.value.str());
    }
}

const jet::PropertyMap* mapNamed(const std::vector<jet::PropertyMap>& maps, const std::string& name)
{
    for (const auto& m : maps)
        if (name.empty() ? m.name.empty() : jet::sameName(m.name, name))
            return &m;
    return nullptr;
}

bool isYes(const jet::PropertyMap* m, const char* name)
{
    const jet::Property* p = m ? m->find(name) : nullptr;
    return p && (p->value.kind() == jet::Value::Kind::Bool ? p->value.asBool() : p->value.asInt() != 0);
}

std::string columnList(const std::vector<std::string>& names)
{
    std::string s = "(";
    for (size_t i = 0; i < names.size(); ++i)
        s += (i ? ", " : "") + names[i];
    return s + ")";
}

}  // namespace

void printSchema(jet::Database& db, std::ostream& out)
{
    const bool jet4 = db.format().jet4();
    std::map<uint32_t, std::string> tableAt;
    for (const auto& name : db.tableNames(true))
        tableAt[db.table(name).def().page] = db.table(name).name();
    for (const auto& name : db.tableNames()) {
        jet::Table& t = db.table(name);
        const jet::TableDef& d = t.def();
        std::vector<jet::PropertyMap> maps;
        try {
            maps = jet::readTableProperties(db, name);
        } catch (const jet::Error& e) {
            out << "TABLE " << t.name() << "\n  properties unreadable: " << e.what() << "\n";
        }
        out << "TABLE " << t.name() << "\n";
        if (const jet::PropertyMap* m = mapNamed(maps, ""))
            if (const jet::Property* p = m->find(jet::kPropDescription))
                out << "  description: " << propertyText(*p) << "\n";
        for (const jet::ColumnDef* c : d.columnsInOrder()) {
            out << "  COLUMN " << c->name << ": " << jet::columnTypeName(c->type);
            if (c->type == jet::ColumnType::Text)
                out << "(" << (jet4 ? c->length / 2 : c->length) << ")";
            else if (c->type == jet::ColumnType::Binary)
                out << "(" << c->length << ")";
            else if (c->type == jet::ColumnType::Numeric)
                out << "(" << int(c->precision) << ", " << int(c->scale) << ")";
            if (c->isAutoNumber())
                out << ", AutoNumber";
            const jet::PropertyMap* m = mapNamed(maps, c->name);
            if (isYes(m, jet::kPropRequired))
                out << ", required";
            if (c->isText() && m && m->find(jet::kPropAllowZeroLength))
                out << (isYes(m, jet::kPropAllowZeroLength) ? ", zero length allowed" : ", zero length not allowed");
            if (const jet::Property* p = m ? m->find(jet::kPropDefaultValue) : nullptr)
                out << ", default " << propertyText(*p);
            if (const jet::Property* p = m ? m->find(jet::kPropDescription) : nullptr)
                out << ", description: " << propertyText(*p);
            out << "\n";
        }
        for (const auto& li : d.logicalIndexes) {
            std::vector<std::string> cols;
            uint8_t flags = 0;
            if (li.physicalIndex < d.physicalIndexes.size()) {
                const jet::PhysicalIndexDef& p = d.physicalIndexes[li.physicalIndex];
                flags = p.flags;
                for (const auto& ic : p.columns) {
                    const jet::ColumnDef* c = d.columnByNumber(ic.columnNumber);
                    cols.push_back((c ? c->name : "?") + std::string(ic.ascending ? "" : " desc"));
                }
            }
            out << "  INDEX " << li.name << " " << columnList(cols);
            if (li.type == jet::kLogicalIndexPrimary)
                out << ": primary key";
            else if (flags & jet::kIndexUnique)
                out << ": unique";
            if (li.type == jet::kLogicalIndexForeign) {
                auto other = tableAt.find(li.relatedTablePage);
                out << (flags & jet::kIndexUnique ? ", " : ": ") << "foreign key "
                    << (li.relatedTableType == 1 ? "<- " : "-> ") << (other == tableAt.end() ? "?" : other->second);
            }
            out << "\n";
        }
    }
    for (const auto& r : jet::readRelationships(db)) {
        out << "RELATIONSHIP " << r.name << ": " << r.referringTable << " " << columnList(r.referringColumns) << " -> "
            << r.referencedTable << " " << columnList(r.referencedColumns);
        out << (r.enforced ? ", enforced" : ", not enforced");
        if (r.cascadeUpdates)
            out << ", cascade updates";
        if (r.cascadeDeletes)
            out << ", cascade deletes";
        if (r.oneToOne)
            out << ", one to one";
        out << "\n";
    }
}

}  // namespace mdbtool
