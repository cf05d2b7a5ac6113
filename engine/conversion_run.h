// The conversion run (step 5 of the wizard): every selected table in order,
// dropped, skipped, created, keyed and filled as the job says, each step
// written to the progress log.
#pragma once

#include "engine/conversion_settings.h"
#include "engine/row_transfer.h"
#include "engine/target_operations.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace ferrowane {

class AccessConnection;
class AccessDataset;
class MySqlConnection;
class ProgressLog;

// The texts the run writes at its end; the window passes those of its language.
struct RunTexts {
    QString completed = QStringLiteral("Conversion is Completed");
    QString migrated = QStringLiteral("Wizard has migrated your MySQL database to Access successfully.");
    QString finish = QStringLiteral("Click 'Finish' to exit the wizard.");
};

struct RunResult {
    bool stopped = false;     // left at the start of a table because of a Stop
    int failedTables = 0;     // tables with a failed drop, create, key or row step
    int convertedTables = 0;  // tables whose every step succeeded (skipped ones included)
    int schemaFailures = 0;   // AutoNumbers, property blocks and relationships that could not be made
};

class ConversionRun {
public:
    ConversionRun(MySqlConnection& source, AccessConnection& connection, AccessDataset& dataset, ProgressLog& log);

    // Runs after the completion captions and before the last line; an
    // unattended run writes its end time and saves the log here.
    std::function<void()> beforeFinishLine;

    // Converts `tables` (in order) with the job's settings, on the MySQL
    // connection that is already open on the database. A table the server
    // cannot list fails like a refused create (its message in the log) and the
    // run goes on. The target file that cannot be written or opened ends the
    // run with an exception.
    RunResult run(const ConversionSettings& settings, const QStringList& tables, const RunTexts& texts = RunTexts());

    // The Access name of a table for this run: the source name, or for names
    // over 60 characters and names already given earlier in this run (letter
    // case aside) the first 56 characters and the first free number
    // "0000".."9999". Empty when no number is free.
    QString targetTableName(const QString& sourceTable);

    TargetOperations& targetOperations() { return m_target; }

private:
    MySqlConnection& m_source;
    AccessConnection& m_connection;
    AccessDataset& m_dataset;
    ProgressLog& m_log;
    TargetOperations m_target;
    QSet<QString> m_givenNames;  // folded case
};

}  // namespace ferrowane
