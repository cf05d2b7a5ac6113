#include "engine/mysql_source.h"
#include "tests/engine/test_mysql_env.h"

#include <gtest/gtest.h>
#include <mysql.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <QFile>

using namespace ferrowane;
using ferrowane::testing::AdminSession;
using ferrowane::testing::ScratchDatabase;

namespace {

// A loopback port that nothing listens on.
QString unusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return QString::number(ntohs(addr.sin_port));
}

// Resident set size of this process, in bytes.
long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

QStringList allTexts(MySqlConnection& c, const QString& sql, int column = 0)
{
    QStringList out;
    MySqlResult r = c.query(sql);
    while (r.next())
        out << r.text(column);
    return out;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = QByteArray(old);
        setenv(name, value.constData(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->constData(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

}  // namespace

// ------------------------------------------------------------ statement texts

TEST(MySqlStatements, TextsAndQuoting)
{
    EXPECT_EQ(showDatabasesStatement(), "show databases ");
    EXPECT_EQ(showTablesStatement(), "show tables");
    EXPECT_EQ(showFieldsStatement("t1"), "show full FIELDS from `t1`");
    EXPECT_EQ(showIndexStatement("my table"), "show index from `my table`");
    EXPECT_EQ(countRowsStatement("a-b"), "select count(*) from `a-b`");
    EXPECT_EQ(selectAllStatement("x`y"), "select * from `x``y`");
    EXPECT_EQ(quoteIdentifier("``"), "``````");
    EXPECT_EQ(quoteIdentifier(""), "``");
}

TEST(MySqlParams, PortMustBeANumberFrom1To65535)
{
    EXPECT_EQ(parsePort("3306"), 3306u);
    EXPECT_EQ(parsePort("1"), 1u);
    EXPECT_EQ(parsePort("65535"), 65535u);
    EXPECT_EQ(parsePort(" 3307 "), 3307u);
    for (const char* bad : {"", "0", "65536", "99999999999", "abc", "33o6", "-1", "+3306", "3306x", "1 2"}) {
        try {
            parsePort(QString::fromLatin1(bad));
            ADD_FAILURE() << "accepted port \"" << bad << '"';
        } catch (const SourceInputError& e) {
            EXPECT_EQ(e.message(), "Invalid port number: " + QString::fromLatin1(bad));
        }
    }
}

TEST(MySqlParams, LocalModeUsesLocalhostAndKeepsTheHost)
{
    ConversionSettings s;
    s.accessmode = 0;
    s.host = "db.example.org";
    s.port = "4406";
    s.mysqlu = "u";
    s.mysqlp = "p";
    ConnectionParams p = ConnectionParams::fromSettings(s, " typed ");
    // A port other than the default one: TCP to this computer, as the socket has no port.
    EXPECT_EQ(p.host, "127.0.0.1");
    EXPECT_EQ(p.port, "4406");
    EXPECT_EQ(p.user, "u");
    EXPECT_EQ(p.password, "p");
    EXPECT_EQ(p.database, " typed ");  // not trimmed
    EXPECT_TRUE(p.characterSet.isEmpty());
    EXPECT_EQ(s.host, "db.example.org");
    for (const char* port : {"3306", " 3306 ", "", "abc"}) {
        s.port = port;
        EXPECT_EQ(ConnectionParams::fromSettings(s, "d").host, "localhost") << port;
    }

    s.accessmode = 1;
    EXPECT_EQ(ConnectionParams::fromSettings(s, "d").host, "db.example.org");
}

TEST(MySqlParams, CharacterSetOnlyForAPositionAboveZero)
{
    const ConversionSettings s;
    EXPECT_TRUE(ConnectionParams::fromSettings(s, "d", 0).characterSet.isEmpty());
    EXPECT_TRUE(ConnectionParams::fromSettings(s, "d", -1).characterSet.isEmpty());  // typed, none selected
    EXPECT_TRUE(ConnectionParams::fromSettings(s, "d", 38).characterSet.isEmpty());
    EXPECT_EQ(ConnectionParams::fromSettings(s, "d", 37).characterSet, "utf8mb4");
    EXPECT_EQ(ConnectionParams::fromSettings(s, "d", 25).characterSet, "latin1");
    EXPECT_EQ(ConnectionParams::fromSettings(s, "d", 36).characterSet, "utf8");
}

TEST(MySqlDatabaseMatch, LettersWithoutCaseLastMatchWins)
{
    const QStringList names = {"information_schema", "Shop", "shop", "SHOP", "shopping"};
    EXPECT_EQ(matchDatabase(names, "shop"), 3);
    EXPECT_EQ(matchDatabase(names, "sHoP"), 3);
    EXPECT_EQ(matchDatabase(names, "Shopping"), 4);
    EXPECT_EQ(matchDatabase(names, "shop "), -1);
    EXPECT_EQ(matchDatabase(names, " shop"), -1);
    EXPECT_EQ(matchDatabase(names, "nothing"), -1);
    EXPECT_EQ(matchDatabase({}, "shop"), -1);
    // Only a to z fold; other letters must be equal as they stand.
    EXPECT_EQ(matchDatabase({"caf\u00e9"}, "CAF\u00e9"), 0);
    EXPECT_EQ(matchDatabase({"caf\u00e9"}, "CAF\u00c9"), -1);
}

TEST(MySqlSteps, BlankDatabaseNameIsRefusedBeforeAnyLogin)
{
    ConversionSettings s;
    s.port = "not a port";  // would fail differently if a login were tried
    MySqlConnection c;
    for (const QString& typed : {QString(), QString(""), QString("   "), QString("\t \r\n\x01")}) {
        try {
            listDatabases(c, s, typed);
            ADD_FAILURE() << "accepted a blank name";
        } catch (const SourceInputError& e) {
            EXPECT_EQ(e.message(), "Please enter database name");
        }
    }
    EXPECT_FALSE(c.isOpen());
}

TEST(MySqlSteps, NoDatabaseChosenAtStep4)
{
    MySqlConnection c;
    EXPECT_THROW(openDatabase(c, ConversionSettings(), QString(), 0), SourceInputError);
    EXPECT_FALSE(c.isOpen());
}

// ------------------------------------------------------------ against the server

TEST(MySqlSource, TheSixStatements)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_six");
    db.exec("create table parts (id int not null primary key, name varchar(40), qty int,"
            " key by_name (name, qty))");
    db.exec("insert into parts values (1, 'bolt', 10), (2, 'nut', 20), (3, 'washer', null)");
    db.exec("create table other (x int)");

    MySqlConnection c;
    const DatabaseList dbs = listDatabases(c, env.remoteSettings(), "src_six");
    ASSERT_TRUE(c.isOpen());
    ASSERT_GE(dbs.selectedIndex, 0);
    EXPECT_EQ(dbs.names[dbs.selectedIndex], "src_six");
    EXPECT_TRUE(dbs.names.contains("information_schema"));

    openDatabase(c, env.remoteSettings(), dbs.names[dbs.selectedIndex], 0);
    EXPECT_EQ(listTables(c), QStringList({"other", "parts"}));

    {
        MySqlResult r = c.query(showFieldsStatement("parts"));
        ASSERT_GE(r.columnIndex("field"), 0);
        ASSERT_GE(r.columnIndex("type"), 0);
        QStringList fields, types;
        while (r.next()) {
            fields << r.value("field").toString();
            types << r.value("type").toString();
        }
        EXPECT_EQ(fields, QStringList({"id", "name", "qty"}));
        EXPECT_EQ(types, QStringList({"int(11)", "varchar(40)", "int(11)"}));
    }
    {
        MySqlResult r = c.query(showIndexStatement("parts"));
        QStringList lines;
        while (r.next())
            lines << r.value("Key_name").toString() + "." + r.value("Seq_in_index").toString() + "."
                         + r.value("Column_name").toString() + "@" + r.value("Table").toString();
        EXPECT_EQ(lines, QStringList({"PRIMARY.1.id@parts", "by_name.1.name@parts", "by_name.2.qty@parts"}));
        EXPECT_THROW(r.value("seq_in_index"), MySqlError) << "no row after the end";
    }
    {
        MySqlResult r = c.query(countRowsStatement("parts"));
        ASSERT_TRUE(r.next());
        EXPECT_EQ(r.integer(0), 3);
        EXPECT_FALSE(r.next());
    }
    {
        MySqlResult r = c.query(selectAllStatement("parts"));
        ASSERT_EQ(r.columnCount(), 3);
        QStringList rows;
        while (r.next())
            rows << r.columns()[0].name + "=" + r.value(r.columns()[0].name).toString() + " "
                        + r.columns()[2].name + "=" + (r.value("qty").isNull() ? "NULL" : r.text(2));
        EXPECT_EQ(rows, QStringList({"id=1 qty=10", "id=2 qty=20", "id=3 qty=NULL"}));
    }
}

TEST(MySqlSource, DatabaseMatchIgnoresLetterCaseAndTheLastMatchWins)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase a(env, "src_Match");
    ScratchDatabase b(env, "SRC_MATCH");
    ScratchDatabase c1(env, "src_match");
    MySqlConnection c;
    const DatabaseList dbs = listDatabases(c, env.remoteSettings(), "src_Match");
    QList<int> matches;
    for (int i = 0; i < dbs.names.size(); ++i)
        if (dbs.names[i].compare("SRC_MATCH", Qt::CaseInsensitive) == 0)
            matches << i;
    ASSERT_EQ(matches.size(), 3);
    EXPECT_EQ(dbs.selectedIndex, matches.last());
    EXPECT_EQ(c.params().database, "");  // logged in without a database: the list decides
}

TEST(MySqlSource, DatabaseNameWithSurroundingBlanksGoesUntrimmed)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_blank");
    MySqlConnection c;
    // The login needs no database; the blanks make the name match no entry.
    EXPECT_EQ(listDatabases(c, env.remoteSettings(), "  src_blank").selectedIndex, -1);
    EXPECT_TRUE(c.params().database.isEmpty());

    // A database whose name really begins with blanks is found, and only it is selected.
    ScratchDatabase blank(env, "  src_blank");
    const DatabaseList dbs = listDatabases(c, env.remoteSettings(), "  src_blank");
    ASSERT_GE(dbs.selectedIndex, 0);
    EXPECT_EQ(dbs.names[dbs.selectedIndex], "  src_blank");
    EXPECT_TRUE(dbs.names.contains("src_blank"));
}

TEST(MySqlSource, TableNamesThatNeedQuoting)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_quote");
    const QStringList names = {"with blank", "with-hyphen", "select", "back`tick", "`", "\u00fcml\u00e4ut \u8868"};
    for (const QString& name : names) {
        db.exec("create table " + quoteIdentifier(name) + " (" + quoteIdentifier("col " + name)
                + " int primary key)");
        db.exec("insert into " + quoteIdentifier(name) + " values (7), (8)");
    }
    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_quote", 0);
    QStringList listed = listTables(c);
    QStringList expected = names;
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed, expected);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(allTexts(c, showFieldsStatement(name)), QStringList({"col " + name}));
        EXPECT_EQ(allTexts(c, showIndexStatement(name), 2), QStringList({"PRIMARY"}));
        EXPECT_EQ(allTexts(c, countRowsStatement(name)), QStringList({"2"}));
        EXPECT_EQ(allTexts(c, selectAllStatement(name)), QStringList({"7", "8"}));
    }
}

TEST(MySqlSource, CraftedTableNameStaysAName)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_crafted");
    db.exec("create table t (x int)");
    db.exec("insert into t values (1)");
    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_crafted", 0);
    for (const QString& crafted : {QString("t` union select 42 -- "), QString("t` union select 42 #")}) {
        try {
            allTexts(c, selectAllStatement(crafted));
            ADD_FAILURE() << "the crafted name ran as part of the statement";
        } catch (const MySqlError& e) {
            // "Incorrect table name" or "doesn't exist": either way a name, not a statement.
            EXPECT_TRUE(e.code() == 1103 || e.code() == 1146) << e.message().toStdString();
        }
    }
    EXPECT_EQ(allTexts(c, selectAllStatement("t")), QStringList({"1"}));
}

TEST(MySqlSource, ValuesAndColumnKinds)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_values");
    db.exec("create table v (i int, u bigint unsigned, d decimal(12,3), f double, dt date,"
            " ts datetime(2), s varchar(10), t text, b blob, lb longblob, vb varbinary(8), bt bit(10),"
            " y year, n int)");
    db.exec("insert into v values (-5, 18446744073709551615, 12345.678, 0.25, '2024-02-29',"
            " '2024-02-29 13:14:15.50', 'h\u00e9', 'long text', x'00FF10', x'', x'0102', b'1000000001',"
            " 2024, null)");
    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_values", 0);
    MySqlResult r = c.query(selectAllStatement("v"));
    ASSERT_TRUE(r.next());
    const QList<SourceColumn>& cols = r.columns();
    auto col = [&](const char* name) { return cols[r.columnIndex(name)]; };

    EXPECT_EQ(r.value("i"), QVariant(qlonglong(-5)));
    EXPECT_EQ(r.value("u"), QVariant(qulonglong(18446744073709551615ull)));
    EXPECT_EQ(r.value("d"), QVariant(QString("12345.678")));
    EXPECT_EQ(col("d").decimals, 3u);
    EXPECT_EQ(r.value("f"), QVariant(0.25));
    EXPECT_EQ(r.value("dt"), QVariant(QString("2024-02-29")));
    EXPECT_EQ(r.value("ts"), QVariant(QString("2024-02-29 13:14:15.50")));
    EXPECT_EQ(col("ts").decimals, 2u);
    EXPECT_EQ(r.value("s"), QVariant(QString("h\u00e9")));
    EXPECT_EQ(r.value("t"), QVariant(QString("long text")));
    EXPECT_EQ(r.value("b"), QVariant(QByteArray("\x00\xFF\x10", 3)));
    EXPECT_EQ(r.value("lb"), QVariant(QByteArray("")));
    EXPECT_FALSE(r.isNull(r.columnIndex("lb")));
    EXPECT_EQ(r.value("vb"), QVariant(QByteArray("\x01\x02", 2)));
    EXPECT_EQ(r.value("bt"), QVariant(qulonglong(0x201)));
    EXPECT_EQ(r.text(r.columnIndex("bt")), "513");
    EXPECT_EQ(r.value("y"), QVariant(qlonglong(2024)));
    EXPECT_TRUE(r.value("n").isNull());
    EXPECT_TRUE(r.isNull(r.columnIndex("n")));
    EXPECT_EQ(r.text(r.columnIndex("n")), "");
    EXPECT_EQ(r.bytes(r.columnIndex("b")), QByteArray("\x00\xFF\x10", 3));

    // Blobs are the binary large objects; text is not, nor a short binary string.
    for (const char* name : {"b", "lb"})
        EXPECT_TRUE(col(name).isBlob) << name;
    for (const char* name : {"i", "u", "d", "f", "dt", "ts", "s", "t", "vb", "bt", "y", "n"})
        EXPECT_FALSE(col(name).isBlob) << name;
    EXPECT_TRUE(col("vb").isBinary);
    EXPECT_FALSE(col("t").isBinary);
    EXPECT_EQ(col("t").typeName(), "BLOB");  // the protocol sends text as a blob type with a charset
    EXPECT_EQ(col("vb").typeName(), "VAR_STRING");
    EXPECT_TRUE(col("u").isUnsigned);

    EXPECT_THROW(r.integer(r.columnIndex("s")), MySqlError);
    EXPECT_THROW(r.value("missing"), MySqlError);
    EXPECT_THROW(r.text(99), MySqlError);
    EXPECT_THROW(r.text(-1), MySqlError);
    EXPECT_FALSE(r.next());
    EXPECT_THROW(r.text(0), MySqlError);  // no current row any more
}

TEST(MySqlSource, StatementErrorsCarryTheServerMessage)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_err");
    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_err", 0);
    try {
        c.query(showFieldsStatement("no_such_table"));
        ADD_FAILURE();
    } catch (const MySqlError& e) {
        EXPECT_EQ(e.message(), "Table 'src_err.no_such_table' doesn't exist");
        EXPECT_EQ(e.code(), 1146u);
    }
    // The connection stays usable.
    EXPECT_TRUE(listTables(c).isEmpty());
    c.close();
    EXPECT_THROW(c.query(showTablesStatement()), MySqlError);
}

TEST(MySqlSource, WrongPasswordReachesTheCaller)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ConversionSettings s = env.remoteSettings();
    s.mysqlp = "not-the-password";
    MySqlConnection c;
    try {
        listDatabases(c, s, "mysql");
        ADD_FAILURE();
    } catch (const MySqlError& e) {
        EXPECT_TRUE(e.message().startsWith("Access denied for user '" + env.user + "'"))
            << e.message().toStdString();
        EXPECT_EQ(e.code(), 1045u);
    }
    EXPECT_FALSE(c.isOpen());
}

TEST(MySqlSource, WrongPortReachesTheCaller)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ConversionSettings s = env.remoteSettings();
    s.port = unusedPort();
    MySqlConnection c;
    try {
        listDatabases(c, s, "mysql");
        ADD_FAILURE();
    } catch (const MySqlError& e) {
        EXPECT_TRUE(e.message().startsWith("Can't connect to server on '" + env.host + "'"))
            << e.message().toStdString();
        EXPECT_EQ(e.code(), 2002u);
        // Where it tried and what is likely wrong, on a line of its own.
        EXPECT_TRUE(e.message().contains("\nNo MySQL server answered at " + env.host + " port " + s.port + ":"))
            << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("firewall")) << e.message().toStdString();
    }
    // Remote mode with no host is refused before any login.
    s.host = " ";
    EXPECT_THROW(listDatabases(c, s, "mysql"), SourceInputError);
    s.host = env.host;
    s.port = "port";
    try {
        listDatabases(c, s, "mysql");
        ADD_FAILURE();
    } catch (const SourceInputError& e) {
        EXPECT_EQ(e.message(), "Invalid port number: port");
    }
}

TEST(MySqlSource, NoServerReachesTheCaller)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    const QByteArray missing = QByteArray("/tmp/src-no-server-") + QByteArray::number(getpid()) + ".sock";
    ScopedEnv socket("MYSQL_UNIX_PORT", missing);
    ConversionSettings s = env.remoteSettings();
    s.accessmode = 0;
    s.port = "3306";  // the socket
    MySqlConnection c;
    try {
        listDatabases(c, s, "mysql");
        ADD_FAILURE();
    } catch (const MySqlError& e) {
        EXPECT_TRUE(e.message().contains("Can't connect to local server through socket '" + missing + "'"))
            << e.message().toStdString();
    }
    // Nor a name that does not resolve.
    s.accessmode = 1;
    s.host = "no-such-host.invalid";
    try {
        listDatabases(c, s, "mysql");
        ADD_FAILURE();
    } catch (const MySqlError& e) {
        EXPECT_TRUE(e.message().contains("no-such-host.invalid")) << e.message().toStdString();
    }
}

TEST(MySqlSource, LocalModeGoesThroughTheSocket)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    if (env.socket.isEmpty())
        GTEST_SKIP() << "FERROWANE_MYSQL_SOCKET not set";
    ScratchDatabase db(env, "src_local");
    db.exec("create table t (x int)");
    ScopedEnv socket("MYSQL_UNIX_PORT", env.socket.toLocal8Bit());
    ConversionSettings s = env.remoteSettings();
    s.accessmode = 0;
    s.port = "3306";                  // the default port: the socket
    s.host = "no-such-host.invalid";  // ignored in local mode
    MySqlConnection c;
    const DatabaseList dbs = listDatabases(c, s, "src_local");
    EXPECT_EQ(c.params().host, "localhost");
    ASSERT_GE(dbs.selectedIndex, 0);
    openDatabase(c, s, dbs.names[dbs.selectedIndex], 0);
    EXPECT_EQ(listTables(c), QStringList({"t"}));
    // A socket client's host carries no port; a TCP client's does.
    EXPECT_EQ(allTexts(c, "select host from information_schema.processlist where id = connection_id()"),
              QStringList({"localhost"}));
}

// Text written through a utf8mb4 session into columns and table names of each
// character set, read back through a connection asking for that set and for the default.
TEST(MySqlSource, CharacterSetsComeBackExactly)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_charsets");
    struct Case {
        QString charset;
        QString table;
        QString text;
    };
    const QList<Case> cases = {
        {"latin1", "t_gr\u00fc\u00dfe",
         "Gr\u00fc\u00dfe \u20ac \u201equoted\u201c \u2122 \u0152\u0153 \u017d\u017e \u00ff\u00c0 \u0081"},
        {"cp1251", "t_\u043f\u0440\u0438\u0432\u0435\u0442",
         "\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440! \u0401\u0451 \u2116 \u0490\u0491"},
        {"gbk", "t_\u4e2d\u6587", "\u4e2d\u6587\u5b57\u7b26\u6d4b\u8bd5\uff0c\u6c49\u5b57 \u9ed8\u8ba4"},
        {"utf8mb4", "t_utf8mb4",
         "emoji \U0001F600 clef \U0001D11E ext-B \U00020000 \u00e9 \u4e2d"},
    };
    for (const Case& cs : cases) {
        const QByteArray hex = cs.text.toUtf8().toHex();
        db.exec("create table " + quoteIdentifier(cs.table) + " (id int, v varchar(100) character set "
                + cs.charset + ", t text character set " + cs.charset + ") default charset=" + cs.charset);
        db.exec("insert into " + quoteIdentifier(cs.table) + " values (1, convert(x'" + hex
                + "' using utf8mb4), convert(x'" + hex + "' using utf8mb4))");
    }

    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.charset.toStdString());
        const int position = std::max(0, characterSetPosition(cs.charset));  // utf8mb4 is the default
        for (int asked : {position, 0}) {
            MySqlConnection c;
            openDatabase(c, env.remoteSettings(), "src_charsets", asked);
            EXPECT_EQ(c.characterSet(), asked ? cs.charset : QString("utf8mb4"));
            EXPECT_TRUE(listTables(c).contains(cs.table));
            MySqlResult r = c.query(selectAllStatement(cs.table));
            ASSERT_TRUE(r.next());
            EXPECT_EQ(r.text(1), cs.text);
            EXPECT_EQ(r.value("v").toString(), cs.text);
            EXPECT_EQ(r.value("T").toString(), cs.text);
            EXPECT_FALSE(r.columns()[2].isBlob);
        }
    }
}

// Every character set of the list: the server converts a sample to it, we decode it back.
TEST(MySqlSource, EveryListedCharacterSetDecodes)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    const QHash<QString, QString> samples = {
        {"armscii8", "\u0532\u0561\u0580\u0565\u0582 \u0540\u0561\u0575"},
        {"ascii", "plain text 123 ~"},
        {"big5", "\u7e41\u9ad4\u4e2d\u6587"},
        {"binary", "bytes \u00fc\u4e2d"},
        {"cp1250", "\u017b\u00f3\u0142\u0107 \u0160\u0110 \u201e\u201d"},
        {"cp1251", "\u041f\u0440\u0438\u0432\u0435\u0442 \u0401\u0451"},
        {"cp1256", "\u0645\u0631\u062d\u0628\u0627 \u067e"},
        {"cp1257", "\u0104\u010d\u0119\u0117\u012f\u0161\u0173\u016b\u017e"},
        {"cp850", "\u00d1and\u00fa \u00df \u2591"},
        {"cp852", "\u017b\u00f3\u0142\u0107 \u010c"},
        {"cp866", "\u041f\u0440\u0438\u0432\u0435\u0442 \u2592"},
        {"cp932", "\u65e5\u672c\u8a9e\u2460\uff5e"},
        {"dec8", "\u00d1\u00f1 \u00e4\u00f6\u00fc"},
        {"eucjpms", "\u65e5\u672c\u8a9e\u2460"},
        {"euckr", "\ud55c\uad6d\uc5b4"},
        {"gb2312", "\u7b80\u4f53\u4e2d\u6587"},
        {"gbk", "\u7b80\u4f53\u4e2d\u6587\u9ed8"},
        {"geostd8", "\u10e5\u10d0\u10e0\u10d7\u10e3\u10da\u10d8"},
        {"greek", "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"},
        {"hebrew", "\u05e2\u05d1\u05e8\u05d9\u05ea"},
        {"hp8", "\u00d1and\u00fa \u00e7"},
        {"keybcs2", "\u010ce\u0161tina \u011b\u0161\u010d\u0159\u017e\u00fd\u00e1\u00ed\u00e9 \u016f\u00f4"},
        {"koi8r", "\u041f\u0440\u0438\u0432\u0435\u0442"},
        {"koi8u", "\u041f\u0440\u0438\u0432\u0456\u0442 \u0491"},
        {"latin1", "Gr\u00fc\u00dfe \u20ac"},
        {"latin2", "\u017b\u00f3\u0142\u0107"},
        {"latin5", "T\u00fcrk\u00e7e \u011f\u0131\u015f"},
        {"latin7", "\u0104\u010d\u0119\u0117\u012f\u0161\u0173\u016b\u017e"},
        {"macce", "\u017b\u00f3\u0142\u0107"},
        {"macroman", "\u00d1and\u00fa \u00df \u2020"},
        {"sjis", "\u65e5\u672c\u8a9e"},
        {"swe7", "\u00c5\u00e4\u00f6 \u00c9\u00e9 \u00dc\u00fc"},
        {"tis620", "\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22"},
        {"ucs2", "\u00dcn\u00efc\u00f8d\u00e9 \u4e2d\u6587"},
        {"ujis", "\u65e5\u672c\u8a9e"},
        {"utf8", "\u00dcn\u00efc\u00f8d\u00e9 \u4e2d\u6587"},
        {"utf8mb4", "\u00dcn\u00efc\u00f8d\u00e9 \u4e2d\u6587"},  // also an alias: no 4-byte character
    };
    const QStringList& names = characterSetNames();
    for (int position = 1; position < names.size(); ++position) {
        const QString& name = names[position];
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(samples.contains(name));
        const QString& sample = samples[name];
        MySqlConnection c;
        openDatabase(c, env.remoteSettings(), "mysql", position);
        // The sample is also the column's name, which goes out in the statement
        // (in swe7 the backtick's byte is the letter é, which a name cannot hold there).
        const QString alias = name == "swe7" ? QString("\u00c5\u00e4\u00f6") : sample;
        MySqlResult r = c.query("select convert(x'" + sample.toUtf8().toHex() + "' using utf8mb4) as "
                                + quoteIdentifier(alias));
        ASSERT_TRUE(r.next());
        EXPECT_EQ(r.text(0), sample);
        EXPECT_EQ(r.columns()[0].name, alias);
    }
}

TEST(MySqlSource, TwoHundredThousandRowsStreamWithBoundedMemory)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_stream");
    // About 60 MB of rows: a client that held the whole result would grow by more than that.
    db.exec("create table big (id int not null primary key, payload varchar(300)) engine=MyISAM");
    db.exec("insert into big select seq, concat(seq, repeat('x', 290)) from seq_1_to_200000");

    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_stream", 0);
    {
        MySqlResult r = c.query(countRowsStatement("big"));
        ASSERT_TRUE(r.next());
        EXPECT_EQ(r.integer(0), 200000);
    }
    MySqlResult r = c.query(selectAllStatement("big"));
    ASSERT_TRUE(r.next());
    const long before = residentBytes();
    long long rows = 1, sum = r.integer(0);
    long peak = before;
    while (r.next()) {
        ++rows;
        sum += r.integer(0);
        if (r.text(1).size() < 291)
            FAIL() << "short payload at row " << rows;
        if (rows % 10000 == 0)
            peak = std::max(peak, residentBytes());
    }
    EXPECT_EQ(rows, 200000);
    EXPECT_EQ(sum, 200000LL * 200001 / 2);
    EXPECT_LT(peak - before, 24L * 1024 * 1024) << "the rows were held in memory";
}

TEST(MySqlSource, ALaterStatementClosesAnUnfinishedResult)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_later");
    db.exec("create table t (x int)");
    db.exec("insert into t select seq from seq_1_to_1000");
    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_later", 0);
    MySqlResult first = c.query(selectAllStatement("t"));
    ASSERT_TRUE(first.next());
    EXPECT_EQ(first.integer(0), 1);
    // The rows not yet read are dropped, and reading on is an error, not a short table.
    EXPECT_EQ(allTexts(c, countRowsStatement("t")), QStringList({"1000"}));
    EXPECT_THROW(first.next(), MySqlError);

    // A result read to its end, or closed on purpose, just ends.
    MySqlResult second = c.query(selectAllStatement("t"));
    int n = 0;
    while (second.next())
        ++n;
    EXPECT_EQ(n, 1000);
    MySqlResult third = c.query(selectAllStatement("t"));
    EXPECT_FALSE(second.next());
    ASSERT_TRUE(third.next());
    third.close();
    EXPECT_FALSE(third.next());
    EXPECT_EQ(listTables(c), QStringList({"t"}));

    // Closing the connection mid-way is reported the same way.
    MySqlResult fourth = c.query(selectAllStatement("t"));
    ASSERT_TRUE(fourth.next());
    c.close();
    EXPECT_THROW(fourth.next(), MySqlError);
}

TEST(MySqlSource, ReopeningLogsInAgainWithTheNewDatabase)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase a(env, "src_reopen_a");
    ScratchDatabase b(env, "src_reopen_b");
    a.exec("create table only_a (x int)");
    b.exec("create table only_b (x int)");
    MySqlConnection c;
    const DatabaseList dbs = listDatabases(c, env.remoteSettings(), "src_reopen_a");
    ASSERT_GE(dbs.selectedIndex, 0);
    EXPECT_THROW(listTables(c), MySqlError);  // step 2 logs in without a database
    openDatabase(c, env.remoteSettings(), dbs.names[dbs.selectedIndex], 0);
    EXPECT_EQ(listTables(c), QStringList({"only_a"}));
    openDatabase(c, env.remoteSettings(), "src_reopen_b", 0);
    EXPECT_EQ(c.params().database, "src_reopen_b");
    EXPECT_EQ(listTables(c), QStringList({"only_b"}));
    // A failed login leaves the connection closed, not on the earlier database.
    EXPECT_THROW(openDatabase(c, env.remoteSettings(), "src_reopen_missing", 0), MySqlError);
    EXPECT_FALSE(c.isOpen());
}

// The demo's sample database loads and reads back through the source.
TEST(MySqlSource, DemoDatabaseReadsBack)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    if (env.client.isEmpty())
        GTEST_SKIP() << "FERROWANE_MYSQL_CLIENT not set";
    QFile file(QStringLiteral(FERROWANE_SOURCE_DIR "/resources/demo/demo.sql"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray sql = file.readAll();
    sql.replace("ferrowane_demo", "src_demo");
    ScratchDatabase db(env, "src_demo");  // dropped at the end
    QByteArray output;
    ASSERT_EQ(ferrowane::testing::runRootClient(env, sql, &output), 0) << output.toStdString();

    MySqlConnection c;
    const DatabaseList dbs = listDatabases(c, env.remoteSettings(), "src_demo");
    ASSERT_GE(dbs.selectedIndex, 0);
    openDatabase(c, env.remoteSettings(), dbs.names[dbs.selectedIndex], 0);
    EXPECT_EQ(listTables(c), QStringList({"customers", "order lines", "orders", "products"}));
    EXPECT_EQ(allTexts(c, countRowsStatement("order lines")), QStringList({"6"}));

    MySqlResult r = c.query(selectAllStatement("customers"));
    QStringList names;
    while (r.next())
        names << r.value("name").toString();
    EXPECT_TRUE(names.contains("\u5c71\u7530 \u592a\u90ce"));
    EXPECT_TRUE(names.contains("\u0141ucja \u017b\u00f3\u0142kiewska"));
    EXPECT_FALSE(r.columns()[r.columnIndex("notes")].isBlob);

    MySqlResult p = c.query(selectAllStatement("products"));
    ASSERT_TRUE(p.next());
    EXPECT_TRUE(p.columns()[p.columnIndex("photo")].isBlob);
    EXPECT_EQ(p.value("photo").toByteArray().left(4), QByteArray("\x89PNG"));
    EXPECT_EQ(p.value("price"), QVariant(QString("12.5000")));
}

// A connection lost in the middle of a table is an error, not a short table.
TEST(MySqlSource, LostConnectionMidStreamIsAnError)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "src_lost");
    db.exec("create table big (id int not null primary key, payload varchar(300)) engine=MyISAM");
    db.exec("insert into big select seq, repeat('y', 300) from seq_1_to_100000");
    MySqlConnection c;
    openDatabase(c, env.remoteSettings(), "src_lost", 0);
    const QStringList id = allTexts(c, "select connection_id()");
    MySqlResult r = c.query(selectAllStatement("big"));
    ASSERT_TRUE(r.next());
    AdminSession(env).exec("kill " + id.at(0).toLatin1());
    long long rows = 1;
    try {
        while (r.next())
            ++rows;
        ADD_FAILURE() << "the stream ended quietly after " << rows << " rows";
    } catch (const MySqlError& e) {
        EXPECT_NE(e.code(), 0u) << e.message().toStdString();
        EXPECT_FALSE(e.message().isEmpty());
    }
    EXPECT_LT(rows, 100000);
}
