// Rows are read and converted on a thread of their own, ahead of the rows
// being written: order, per-column loss counts and first reasons, large rows
// among small ones and a Stop must come out as if it were one loop.
#include "run_fixture.h"

#include "jet/value.h"

using namespace ferrowane;
using ferrowane::testing::RunFixture;

namespace {

class TransferPipeline : public ::testing::TestWithParam<int> {
protected:
    QString dbName(const char* stem) const
    {
        return QStringLiteral("conv_pipe_%1_%2").arg(QLatin1String(stem)).arg(GetParam());
    }
};

TEST_P(TransferPipeline, OrderLossesAndLargeRowsAcrossBatches)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("order"), GetParam());
    f.db.exec("create table t (id int primary key, placed datetime, amount decimal(12,3), b longblob)");
    // 1500 rows: several batches. Rows 500 to 502 are large, so they go one
    // at a time; two dates cannot be stored, the earlier one is the first reason.
    f.db.exec("insert into t select seq, if(seq = 300, '0050-01-01 00:00:00', if(seq = 900, "
              "'0060-06-06 00:00:00', '2021-03-04 05:06:07' + interval seq second)), seq / 8, "
              "if(seq between 500 and 502, repeat(char(65 + seq % 26), 1500000), concat('b', seq)) "
              "from seq_1_to_1500");
    f.run({"t"});
    const QStringList lines = f.log.lines();
    EXPECT_TRUE(lines.contains("Insert table t 1500 Rows ...Done")) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter("Column "),
              QStringList{"Column placed: 2 values not stored as they were "
                          "(first: 0050-01-01 00:00:00 is before the year 100)"});

    auto db = f.openTarget();
    const auto rows = db->table("t").readAll();
    ASSERT_EQ(rows.size(), 1500u);
    for (int i = 0; i < 1500; ++i) {
        const int id = i + 1;
        ASSERT_EQ(rows[size_t(i)][0].asInt(), id);
        if (id == 300 || id == 900)
            EXPECT_TRUE(rows[size_t(i)][1].isNull());
        else
            EXPECT_FALSE(rows[size_t(i)][1].isNull());
        // decimal(12,3) is a Jet 4 decimal, a Jet 3 currency: the text at the column's scale.
        char expected[32];
        std::snprintf(expected, sizeof expected, GetParam() == 1 ? "%d.%03d" : "%d.%03d0", id / 8, id % 8 * 125);
        EXPECT_EQ(rows[size_t(i)][2].str(), expected);
        const std::string& b = rows[size_t(i)][3].str();
        if (id >= 500 && id <= 502)
            EXPECT_EQ(b, std::string(1500000, char(65 + id % 26))) << "row " << id;
        else
            EXPECT_EQ(b, "b" + std::to_string(id));
    }
}

TEST_P(TransferPipeline, StopLeavesExactlyTheCommittedRows)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("stop"), GetParam());
    f.db.exec("create table s (id int, v varchar(20))");
    f.db.exec("insert into s select seq, concat('v', seq) from seq_1_to_20000");
    // The reader runs ahead; a Stop at the 52nd point (row 5200) keeps the
    // commit at row 5100, then what the transfer posted before the Stop.
    f.log.stopAtPoint = 52;
    f.run({"s"});
    EXPECT_TRUE(f.log.lines().contains("Operation aborted"));
    EXPECT_EQ(f.log.progressPoints(), 52);
    auto db = f.openTarget();
    const auto rows = db->table("s").readAll();
    ASSERT_EQ(rows.size(), 5200u);
    EXPECT_EQ(rows.back()[1].str(), "v5200");
}

INSTANTIATE_TEST_SUITE_P(Formats, TransferPipeline, ::testing::Values(0, 1));

}  // namespace
