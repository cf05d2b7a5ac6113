// The conversion run (step 5 of the wizard): every selected table in order,
// dropped, skipped, created, filled and then keyed as the job says, each
// step written to the progress log. Keys come after the rows: each is built
// once from the stored rows, and a key Access cannot make loses no row.
#pragma once

#include "engine/conversion_settings.h"
#include "engine/row_transfer.h"
#include "engine/target_operations.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace ferrowane {

class AccessConnection;
class AccessDataset;
class MySqlConnection;
class ProgressLog;

// The texts the run writes at its end; the window passes those of its language.
// completed and migrated end a run where everything went through; a run
// with failures, changed values or a Stop ends with one of the others, its
// counts joined by countSeparator in place of %1.
struct RunTexts {
    QString completed = QStringLiteral("Conversion is Completed");
    QString migrated = QStringLiteral("Wizard has migrated your MySQL database to Access successfully.");
    QString finish = QStringLiteral("Click 'Finish' to exit the wizard.");
    QString finishedWith = QStringLiteral("Conversion finished with %1: see the lines above");
    QString stopped = QStringLiteral("Conversion was stopped: see the lines above");
    QString stoppedWith = QStringLiteral("Conversion was stopped, with %1: see the lines above");
    QString failedTable = QStringLiteral("1 failed table");
    QString failedTables = QStringLiteral("%1 failed tables");
    QString keyNotCreated = QStringLiteral("1 key not created");
    QString keysNotCreated = QStringLiteral("%1 keys not created");
    QString valueChanged = QStringLiteral("1 value changed");
    QString valuesChanged = QStringLiteral("%1 values changed");
    QString schemaDetailNotMade = QStringLiteral("1 schema detail not carried over");
    QString schemaDetailsNotMade = QStringLiteral("%1 schema details not carried over");
    QString countSeparator = QStringLiteral(", ");
};

struct RunResult {
    bool stopped = false;     // left at the start of a table because of a Stop
    bool stopRequested = false;  // a Stop ended the run, at a table's start or in its rows
    int failedTables = 0;     // tables with a failed drop, create or row step
    int convertedTables = 0;  // tables whose every step succeeded (skipped ones included)
    // Keys of the source not made as it has them: not made at all, or a
    // primary or unique key made as a plain index (keysMadePlain of them).
    int keysNotCreated = 0;
    int keysMadePlain = 0;
    // Table and column names given their legal Access form (each logged).
    int renamedNames = 0;
    qint64 valuesChanged = 0; // values not stored as they were (the "Column" lines)
    int schemaFailures = 0;   // AutoNumbers, property blocks and relationships that could not be made

    bool allWentThrough() const
    {
        return !stopRequested && failedTables == 0 && keysNotCreated == 0 && valuesChanged == 0 &&
               schemaFailures == 0;
    }
};

// The run's last caption: texts.migrated when everything went through, else
// what did not, with its counts ("Conversion finished with 2 failed tables,
// 1 key not created, 37 values changed: see the lines above").
QString endCaption(const RunResult& result, const RunTexts& texts);

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

    // The Access names of a run's tables, in order: each source name's legal
    // form; one over 60 characters, or equal (letter case aside) to another
    // table's, gets its first 56 characters and a number "0000".."9999" by
    // its place among the run's names, so that the same list always gives
    // the same names and Overwrite, Merge and Skip act on them. Empty where
    // no number is free.
    static QStringList targetTableNames(const QStringList& sourceTables, AccessFormat format);

    TargetOperations& targetOperations() { return m_target; }

private:
    // The key step of a table that the run created and filled: each key made
    // on its own (committed by itself), the log line naming those made so
    // far. Relationships between tables can follow this step.
    // Returns false when the source's keys could not be read; a key not
    // made as the source has it is logged and counted in the result.
    bool convertKeys(const QString& sourceTable, const QString& target, RunResult& result);

    MySqlConnection& m_source;
    AccessConnection& m_connection;
    AccessDataset& m_dataset;
    ProgressLog& m_log;
    TargetOperations m_target;
};

}  // namespace ferrowane
