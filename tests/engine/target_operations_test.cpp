#include "engine/access_provider.h"
#include "engine/conversion_job.h"
#include "engine/target_operations.h"

#include "jet/database.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace ferrowane;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(TargetFile, TemplatesOfBothFormats)
{
    QTemporaryDir dir;
    TargetOperations target;
    const QString a = dir.filePath("a.mdb"), b = dir.filePath("b.mdb"), c = dir.filePath("c.mdb");
    target.PrepareTargetFile(a, 1);
    target.PrepareTargetFile(b, 0);
    target.PrepareTargetFile(c, 7);  // any other position: Access 95/97
    const QByteArray jet4 = readAll(a), jet3 = readAll(b);
    EXPECT_EQ(jet4.mid(0, 4), QByteArray("\x00\x01\x00\x00", 4));
    EXPECT_EQ(jet4.mid(4, 16), QByteArray("Standard Jet DB\0", 16));
    EXPECT_EQ(jet4.mid(20, 4), QByteArray("\x01\x00\x00\x00", 4));
    EXPECT_EQ(jet3.mid(20, 4), QByteArray("\x00\x00\x00\x00", 4));
    EXPECT_EQ(readAll(c), jet3);
    // The written file is the template byte for byte.
    const std::vector<uint8_t> t = jet::Database::templateBytes(jet::Version::Jet4);
    EXPECT_EQ(jet4, QByteArray(reinterpret_cast<const char*>(t.data()), qsizetype(t.size())));
    // Both open as databases without user tables.
    EXPECT_TRUE(jet::Database::open(a.toStdString(), false)->tableNames().empty());
    EXPECT_TRUE(jet::Database::open(b.toStdString(), false)->tableNames().empty());
}

TEST(TargetFile, AnExistingFileIsLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("x.mdb");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database");
    f.close();
    TargetOperations target;
    target.PrepareTargetFile(path, 1);
    EXPECT_EQ(readAll(path), QByteArray("not a database"));
}

TEST(TargetFile, WriteTemplateNamesAndFailures)
{
    QTemporaryDir dir;
    TargetOperations target;
    const QString path = dir.filePath("t.mdb");
    target.WriteTemplate("MDB2000", "MDBFILE", path);  // names without regard to case
    EXPECT_EQ(readAll(path).at(20), '\x01');
    target.WriteTemplate("mdb95", "mdbfile", path);  // replaces the file
    EXPECT_EQ(readAll(path).at(20), '\x00');
    EXPECT_THROW(target.WriteTemplate("mdb2003", "mdbfile", dir.filePath("u.mdb")), AccessError);
    EXPECT_FALSE(QFile::exists(dir.filePath("u.mdb")));
    try {
        target.PrepareTargetFile(dir.filePath("missing/folder/v.mdb"), 1);
        FAIL() << "no error";
    } catch (const AccessError& e) {
        EXPECT_TRUE(e.message().startsWith("Cannot create file")) << e.message().toStdString();
    }
}

TEST(TargetFile, ProbeAndDrop)
{
    QTemporaryDir dir;
    TargetOperations target;
    const QString path = dir.filePath("p.mdb");
    target.PrepareTargetFile(path, 1);
    AccessConnection c;
    c.setConnectionString(AccessConnection::connectionStringFor(path));
    c.open();
    AccessDataset ds(c);
    EXPECT_FALSE(target.TargetTableExists(ds, "t"));
    c.execute("Create table [t] (\r\n[a] int\r\n ) ");
    EXPECT_TRUE(target.TargetTableExists(ds, "t"));
    EXPECT_TRUE(target.TargetTableExists(ds, "T"));
    ds.close();
    ds.setCommandText("select * from [t] where 1=0");
    ds.open();
    ds.append();
    ds.setField(0, QVariant(qint32(1)));
    ds.post();
    EXPECT_TRUE(target.TargetTableExists(ds, "t"));
    // A name with a "]" cannot be bracketed: it reads as missing.
    EXPECT_FALSE(target.TargetTableExists(ds, "t]x"));

    bool ok = false;
    QString error = "untouched";
    target.DropTargetTable(c, "t", ok, error);
    EXPECT_TRUE(ok);
    EXPECT_EQ(error, QStringLiteral("untouched"));
    EXPECT_FALSE(target.TargetTableExists(ds, "t"));
    target.DropTargetTable(c, "t", ok, error);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_NE(error, QStringLiteral("untouched"));
}

TEST(TargetFile, DataFolder)
{
    const QString folder = ConversionJob::dataFolder();
    EXPECT_TRUE(folder.endsWith("/Orvanel/"));
    EXPECT_EQ(folder, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Orvanel/");
}
