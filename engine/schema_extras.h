// The schema beyond types, keys and rows, written at the end of a run once
// every table's rows and keys are in: AUTO_INCREMENT columns as AutoNumbers,
// NOT NULL as Required, column defaults, table and column comments as
// descriptions (the tables' property blocks), and foreign keys between
// tables of the run as relationships. What cannot be carried over is logged
// and counted; no row is touched.
#pragma once

#include "engine/conversion_settings.h"

#include <QList>
#include <QString>

namespace ferrowane {

class AccessConnection;
class MySqlConnection;
class ProgressLog;

// A table this run created and filled.
struct RunTable {
    QString source;  // the MySQL table
    QString target;  // the Access table
};

struct SchemaExtrasResult {
    int relationships = 0;  // made
    int failures = 0;       // relationships or table steps that could not be made
    bool logged = false;    // it wrote to the log
};

// Whether any of the schema options is on.
bool wantsSchemaExtras(const ConversionSettings& settings);

// Applies the options of `settings` to `tables` (in run order). A lost
// connection passes on as MySqlError; everything else is logged.
SchemaExtrasResult applySchemaExtras(MySqlConnection& source, AccessConnection& target, ProgressLog& log,
                                     const ConversionSettings& settings, const QList<RunTable>& tables);

}  // namespace ferrowane
