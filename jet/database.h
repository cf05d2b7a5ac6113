// An Access database file (Jet 3 or Jet 4): create, open, list and look up
// tables, create and drop them, transactions.
#pragma once

#include "jet/format.h"
#include "jet/table.h"
#include "jet/value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace jet {

class Pager;
class GlobalMap;

// A column of a new table.
struct ColumnSpec {
    std::string name;
    ColumnType type = ColumnType::Long;
    uint16_t length = 0;     // Text and Binary: characters / bytes
    uint8_t precision = 18;  // Decimal
    uint8_t scale = 0;
    bool autoNumber = false; // counter
};

// A catalog row of MSysObjects, as far as the engine uses it.
struct CatalogEntry {
    int32_t id = 0;
    int32_t parentId = 0;
    std::string name;
    int16_t type = 0;
    uint32_t flags = 0;
    uint32_t tdefPage() const { return uint32_t(id) & 0x00FFFFFF; }
};

// How a file is opened.
struct OpenOptions {
    bool writable = true;      // without it nothing is ever written
    uint64_t maxFileSize = 0;  // a size limit below the format's own (1 GB / 2 GB); 0 keeps the format's
};

class Database {
public:
    // Creates a new, empty database; fails when the file exists.
    static void create(const std::string& path, Version version);
    // The bytes of a new, empty database: the program's templates.
    static std::vector<uint8_t> templateBytes(Version version);
    // Opens a file. Without `writable` nothing is ever written.
    static std::unique_ptr<Database> open(const std::string& path, bool writable = true);
    static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options);

    ~Database();

    const Format& format() const { return *format_; }
    Version version() const { return format_->version; }
    const std::string& path() const;

    // User tables (no system tables unless asked), in catalog order.
    std::vector<std::string> tableNames(bool includeSystem = false);
    bool hasTable(const std::string& name);
    // Case-insensitive lookup; throws "no such table".
    Table& table(const std::string& name);

    void createTable(const std::string& name, const std::vector<ColumnSpec>& columns);
    void dropTable(const std::string& name);

    // Transactions: work outside begin/commit commits by itself.
    void begin();
    void commit();
    void rollback();
    bool inTransaction() const { return inTransaction_; }
    // The open transaction holds a quarter of what the page cache keeps:
    // a caller free to commit does so now, before its pages have to wait
    // for the commit in the journal's tail.
    bool transactionIsLarge() const;
    // Ends a statement outside a transaction by committing; inside one,
    // bounds the memory the pending changes take.
    void statementDone();

    // Checks a table name against Access's rules; throws "invalid name".
    static void checkName(const std::string& name, const char* what);

private:
    // Reached from outside the class only through DatabaseInternals
    // (database_int.h).
    Pager& pager() { return *pager_; }
    uint32_t allocatePage();
    void freePage(uint32_t page);
    uint32_t addMapRow(uint32_t& mapPage, const std::vector<uint8_t>& row);
    const std::vector<CatalogEntry>& catalog();
    void updateTableDef(Table& table);
    void updateTableDef(const std::string& table, const TableDef& def);
    std::vector<uint8_t> readDefinition(uint32_t page);

    Database() = default;
    void loadCatalog();
    void createTableImpl(const std::string& name, const std::vector<ColumnSpec>& columns);
    void dropTableImpl(const std::string& name);
    template <class Fn> void asStatement(Fn&& fn);
    void writeTableDef(TableDef& def, uint32_t firstPage);
    void addCatalogRows(const std::string& name, uint32_t tdefPage);
    void buildTemplate(Version version);
    Table& openTable(const CatalogEntry& e);
    friend class Table;
    friend class DatabaseInternals;
    friend struct TemplateBuilder;

    std::unique_ptr<Pager> pager_;
    std::unique_ptr<GlobalMap> globalMap_;
    const Format* format_ = nullptr;
    std::vector<CatalogEntry> catalog_;
    bool catalogLoaded_ = false;
    std::map<uint32_t, std::unique_ptr<Table>> tables_; // by definition page
    std::vector<std::unique_ptr<Table>> dropped_;       // kept for row sets still holding them
    bool inTransaction_ = false;
    bool bootstrap_ = false;  // building a template: no catalog yet
};

} // namespace jet
