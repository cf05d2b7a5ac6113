// Object properties: the property block Access keeps in a catalog row's
// LvProp field ("KKD" in Jet 3, "MR2" in Jet 4): one list of property names,
// then one map of values for the object itself and one per column. Table
// and column descriptions, default values, "Required" and "AllowZeroLength"
// live here.
#pragma once

#include "jet/format.h"
#include "jet/value.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace jet {

class Database;

struct Property {
    std::string name;
    ColumnType type = ColumnType::Memo;  // Boolean, Byte, Integer, Long, Text or Memo
    Value value;
    // Access marks the properties the engine itself acts on (Required,
    // DefaultValue, ...) with this flag.
    bool ddl = false;
};

struct PropertyMap {
    std::string name;  // the column's name; empty for the object itself
    std::vector<Property> properties;

    const Property* find(const std::string& propertyName) const;  // case-insensitive
    void set(Property p);                                          // replaces one of the same name
};

// Property names as Access spells them.
inline constexpr const char* kPropDescription = "Description";
inline constexpr const char* kPropDefaultValue = "DefaultValue";
inline constexpr const char* kPropRequired = "Required";
inline constexpr const char* kPropAllowZeroLength = "AllowZeroLength";

// The bytes of a block. The object's own map (empty name) comes first.
// Throws Error when a value cannot be stored (a text the code page cannot
// hold, a value over 32 KB).
std::vector<uint8_t> encodeProperties(const Format& f, const std::vector<PropertyMap>& maps);

// Reads a block; throws Error(Corrupt) for one that is not well formed.
// Values of other types (binary, GUID, dates) are kept as bytes.
std::vector<PropertyMap> decodeProperties(const Format& f, const std::vector<uint8_t>& bytes);

// The properties of a table, from its catalog row; empty when none.
std::vector<PropertyMap> readTableProperties(Database& db, const std::string& table);

// Stores the property blocks of several tables (an empty list of maps
// clears a table's block). Their catalog rows are written again in catalog
// order, so that the tables keep their order among themselves. One
// statement: all of them or none.
void writeTableProperties(Database& db, const std::vector<std::pair<std::string, std::vector<PropertyMap>>>& tables);

}  // namespace jet
