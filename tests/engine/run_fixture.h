// A MariaDB scratch database, an open source connection and a target file in a
// temporary folder, for tests of the conversion run.
#pragma once

#include "engine/access_provider.h"
#include "engine/conversion_run.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "test_mysql_env.h"

#include "jet/database.h"
#include "jet/table.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <optional>

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace ferrowane::testing {

// A log that asks for a Stop at a chosen progress point.
class StoppingLog : public MemoryProgressLog {
public:
    int stopAtPoint = -1;  // 1-based count of progress points
    void onProgress(qint64) override
    {
        if (progressPoints() == stopAtPoint)
            requestStop();
    }
};

struct RunFixture {
    RunFixture(const MySqlTestEnv& env, const QString& dbName, int accessformat)
        : db(env, dbName)
    {
        source.setParams(env.params(dbName));
        source.open();
        settings.accessfilename = dir.filePath("target.mdb");
        settings.accessformat = accessformat;
        settings.skipindex = true;
    }

    RunResult run(const QStringList& tables)
    {
        AccessDataset dataset(connection);
        ConversionRun r(source, connection, dataset, log);
        const RunResult result = r.run(settings, tables);
        dataset.close();
        connection.close();
        return result;
    }

    // The lines of the last run only.
    QStringList linesFrom(int first) const { return log.lines().mid(first); }

    std::unique_ptr<jet::Database> openTarget()
    {
        return jet::Database::open(settings.accessfilename.toStdString(), false);
    }

    ScratchDatabase db;
    MySqlConnection source;
    AccessConnection connection;
    QTemporaryDir dir;
    ConversionSettings settings;
    StoppingLog log;
};

inline QStringList completion()
{
    return {QStringLiteral("Conversion is Completed"),
            QStringLiteral("Wizard has migrated your MySQL database to Access successfully."),
            QStringLiteral("Click 'Finish' to exit the wizard.")};
}

}  // namespace ferrowane::testing
