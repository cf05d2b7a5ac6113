// The per-user settings store: fallbacks, round trip, the kept folder and the
// file's permissions, on a configuration folder of the test's own.
#include "settings/settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace ferrowane;

class TestSettingsStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;

    // Writes raw string values as another program (or a hand edit) might.
    void writeRaw(const QList<QPair<QString, QString>>& values)
    {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Tarnwick", "Ferrowane");
        for (const auto& [name, text] : values)
            raw.setValue(name, text);
        raw.sync();
    }

    QString rawFileText() const
    {
        QFile f(settingsLocation());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        // Must happen before the first QSettings: Qt keeps the user folder once found.
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        QVERIFY2(settingsLocation().startsWith(m_config.path()), qPrintable(settingsLocation()));
    }

    void init()
    {
        QFile::remove(settingsLocation());
    }

    void firstStartGivesDefaults()
    {
        QVERIFY(!QFile::exists(settingsLocation()));
        const StoredSettings s = LoadSettings();
        QCOMPARE(s, StoredSettings());
        QCOMPARE(s.port, QString("3306"));
        QCOMPARE(s.characterSet, 0);
        QVERIFY(s.defaultaccessdir.isEmpty());
        QVERIFY(!QFile::exists(settingsLocation()));  // loading creates nothing
    }

    void badChoiceFallsBackAndRestStillLoads()
    {
        writeRaw({{"accessmode", "abc"}, {"mysqldatabase", "shop"}, {"processtable", ""},
                  {"Character Set", "utf8"}, {"accessformat", " 1"}, {"host", "db.example"}});
        const StoredSettings s = LoadSettings();
        QCOMPARE(s.accessmode, 0);
        QCOMPARE(s.processtable, 0);
        QCOMPARE(s.characterSet, 0);
        QCOMPARE(s.accessformat, 0);
        QCOMPARE(s.mysqldatabase, QString("shop"));
        QCOMPARE(s.host, QString("db.example"));
    }

    void emptyPortReadsAsDefault()
    {
        writeRaw({{"port", ""}});
        QCOMPARE(LoadSettings().port, QString("3306"));
        writeRaw({{"port", "abc"}});
        QCOMPARE(LoadSettings().port, QString("abc"));  // not validated here
    }

    void flagsSetOnlyByExactlyOne()
    {
        writeRaw({{"tabledefonly", "true"}, {"skipindex", "1 "}, {"blobtotext", "True"},
                  {"nameuppercase", "1"}});
        const StoredSettings s = LoadSettings();
        QVERIFY(!s.tabledefonly);
        QVERIFY(!s.skipindex);
        QVERIFY(!s.blobtotext);
        QVERIFY(s.nameuppercase);
    }

    void outOfRangePositionsComeBackAsStored()
    {
        writeRaw({{"accessformat", "7"}, {"processtable", "-3"}, {"Character Set", "-1"}});
        const StoredSettings s = LoadSettings();
        QCOMPARE(s.accessformat, 7);
        QCOMPARE(s.processtable, -3);
        QCOMPARE(s.characterSet, -1);
    }

    void roundTripKeepsAwkwardTexts()
    {
        StoredSettings s;
        s.accessmode = 1;
        s.mysqldatabase = "  Shop DB ";
        s.mysqlu = "user;name#1";
        s.mysqlp = "p,w \"q\" = \\x @Variant(x) ü中";
        s.host = "10.0.0.7";
        s.port = "";  // stored empty, read as the default
        s.characterSet = 36;
        s.oracleh = "svc";
        s.oracleu = "ou";
        s.oraclep = "op,1";
        s.processtable = 2;
        s.tabledefonly = true;
        s.nameuppercase = true;
        s.skipindex = true;
        s.blobtotext = true;
        s.timetotext = true;
        s.relationships = false;
        s.accessformat = 1;
        QVERIFY(SaveSettings(s, "/data/out dir/target.mdb"));

        StoredSettings expected = s;
        expected.port = "3306";
        expected.defaultaccessdir = "/data/out dir/";
        QCOMPARE(LoadSettings(), expected);
    }

    void valuesAreStoredAsText()
    {
        StoredSettings s;
        s.accessmode = 1;
        s.characterSet = -1;
        s.skipindex = true;
        QVERIFY(SaveSettings(s, QString()));
        const QString text = rawFileText();
        QVERIFY2(text.contains("accessmode=1\n"), qPrintable(text));
        QVERIFY(text.contains("Character%20Set=-1\n"));
        QVERIFY(text.contains("skipindex=1\n"));
        QVERIFY(text.contains("tabledefonly=0\n"));
        QVERIFY(text.contains("accessformat=0\n"));
        QVERIFY(!text.contains("defaultaccessdir"));
    }

    void folderKeptWhenNoFileChosen()
    {
        StoredSettings s;
        QVERIFY(SaveSettings(s, "/srv/exports/first.mdb"));
        QCOMPARE(LoadSettings().defaultaccessdir, QString("/srv/exports/"));
        QVERIFY(SaveSettings(s, QString()));
        QCOMPARE(LoadSettings().defaultaccessdir, QString("/srv/exports/"));
        QVERIFY(SaveSettings(s, "D:\\out\\next.mdb"));
        QCOMPARE(LoadSettings().defaultaccessdir, QString("D:\\out\\"));
    }

    void folderOfPathCases()
    {
        QCOMPARE(folderOfPath("/a/b/c.mdb"), QString("/a/b/"));
        QCOMPARE(folderOfPath("C:\\x\\y.mdb"), QString("C:\\x\\"));
        QCOMPARE(folderOfPath("plain.mdb"), QString());
        QCOMPARE(folderOfPath("/top.mdb"), QString("/"));
    }

    void fileReadableByOwnerOnly()
    {
        StoredSettings s;
        s.mysqlp = "secret";
        QVERIFY(SaveSettings(s, QString()));
        QCOMPARE(QFileInfo(settingsLocation()).permissions() & 0x0777,
                 QFile::ReadUser | QFile::WriteUser);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(settingsLocation()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));

        // An older file that others could read is tightened on the next save.
        QVERIFY(::chmod(QFile::encodeName(settingsLocation()).constData(), 0644) == 0);
        QVERIFY(SaveSettings(s, QString()));
        QCOMPARE(::stat(QFile::encodeName(settingsLocation()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }

    void unwritableLocationFailsQuietly()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QString folder = QFileInfo(settingsLocation()).absolutePath();
        QVERIFY(SaveSettings(StoredSettings(), QString()));
        QFile::remove(settingsLocation());
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        const bool saved = SaveSettings(StoredSettings(), QString());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!saved);
        QCOMPARE(LoadSettings(), StoredSettings());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
