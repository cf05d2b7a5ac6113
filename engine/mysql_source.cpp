#include "engine/mysql_source.h"

#include "engine/column_plan.h"
#include "engine/type_map.h"

#include <mysql.h>

#include <QStringDecoder>

#include <mutex>
#include <utility>

namespace ferrowane {

namespace {

constexpr unsigned int binaryCharset = 63;
constexpr unsigned int connectTimeoutSeconds = 30;
constexpr unsigned int kDefaultPort = 3306;

QString libraryText(const char* text, const CharsetCodec* codec)
{
    // The library's own messages are ASCII; the server's may quote names in
    // the connection's character set.
    const QByteArrayView bytes(text);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    if (!utf8.hasError() || !codec)
        return decoded;
    return codec->decode(bytes.data(), bytes.size());
}

[[noreturn]] void throwLibraryError(MYSQL* mysql, const CharsetCodec* codec)
{
    throw MySqlError(libraryText(mysql_error(mysql), codec), mysql_errno(mysql));
}

QByteArray cString(const CharsetCodec& codec, const QString& text)
{
    QByteArray bytes = codec.encode(text);
    // An embedded NUL would silently cut the text short in the C interface.
    if (bytes.contains('\0'))
        throw SourceInputError(QStringLiteral("A login value contains a NUL character"));
    return bytes;
}

// What a failed login most likely means and what to do, for the errors of
// the client library that a person can act on; empty for the others.
QString connectionHint(unsigned int code, const QString& host, unsigned int port, const QString& socket)
{
    const bool viaSocket = host == QLatin1String("localhost");
    switch (code) {
    case 2002:  // no connection: the socket or the TCP port
    case 2003:
        if (viaSocket)
            return QStringLiteral("No MySQL server answered on the local socket%1: the server may not be running "
                                  "on this computer, or it listens only on a TCP port (enter that port, or choose "
                                  "Remote).")
                .arg(socket.isEmpty() ? QString() : QStringLiteral(" '%1'").arg(socket));
        return QStringLiteral("No MySQL server answered at %1 port %2: no server may be running there, a firewall "
                              "may block the port, or the port number may be wrong.")
            .arg(host)
            .arg(port);
    case 2005:  // the host name did not resolve
        return QStringLiteral("The host name '%1' is not known: check its spelling, or enter the server's IP "
                              "address.")
            .arg(host);
    case 2013:  // connected, but no answer in time
        return QStringLiteral("The server at %1 port %2 did not answer as a MySQL server does: check that the port "
                              "is the MySQL server's.")
            .arg(viaSocket ? QStringLiteral("the local socket") : host)
            .arg(port);
    default:
        return QString();
    }
}

}  // namespace

QString remoteWithoutHostMessage()
{
    return QStringLiteral("Remote mode needs a host name: enter the server's network name or IP address, or "
                          "choose Local.");
}

QString unknownDatabaseMessage(const QString& name)
{
    return QStringLiteral("Unknown database '%1': the server lists no database of that name (letter case aside). "
                          "Check the database name.")
        .arg(name);
}

MySqlError::MySqlError(const QString& message, unsigned int code) : Error(ErrorKind::Source, message), m_code(code) {}

// ---------------------------------------------------------------- statements

QString quoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(u'`', QStringLiteral("``"));
    return u'`' + quoted + u'`';
}

QString showDatabasesStatement() { return QStringLiteral("show databases "); }
QString showTablesStatement() { return QStringLiteral("show tables"); }
QString showFieldsStatement(const QString& table) { return "show full FIELDS from " + quoteIdentifier(table); }
QString showIndexStatement(const QString& table) { return "show index from " + quoteIdentifier(table); }
QString countRowsStatement(const QString& table) { return "select count(*) from " + quoteIdentifier(table); }
QString selectAllStatement(const QString& table) { return "select * from " + quoteIdentifier(table); }

// ---------------------------------------------------------------- parameters

ConnectionParams ConnectionParams::fromSettings(const ConversionSettings& settings,
                                                const QString& database, int charsetPosition)
{
    ConnectionParams p;
    if (settings.accessmode == 1) {
        p.host = settings.host;
    } else {
        // A local server on another port than the default one is reached by
        // TCP on that port; the socket knows no port.
        bool numeric = false;
        const unsigned int port = settings.port.trimmed().toUInt(&numeric);
        p.host = numeric && port != kDefaultPort ? QStringLiteral("127.0.0.1") : QStringLiteral("localhost");
    }
    p.port = settings.port;
    p.user = settings.mysqlu;
    p.password = settings.mysqlp;
    p.database = database;
    const QStringList& names = characterSetNames();
    if (charsetPosition > 0 && charsetPosition < names.size())
        p.characterSet = names[charsetPosition];
    return p;
}

unsigned int parsePort(const QString& text)
{
    const QString digits = text.trimmed();
    bool allDigits = !digits.isEmpty() && digits.size() <= 5;
    for (QChar c : digits)
        allDigits = allDigits && c >= u'0' && c <= u'9';
    const unsigned int port = allDigits ? digits.toUInt() : 0;
    if (port < 1 || port > 65535)
        throw SourceInputError("Invalid port number: " + text);
    return port;
}

QString SourceColumn::typeName() const
{
    switch (mysqlType) {
    case MYSQL_TYPE_DECIMAL: return QStringLiteral("DECIMAL");
    case MYSQL_TYPE_TINY: return QStringLiteral("TINY");
    case MYSQL_TYPE_SHORT: return QStringLiteral("SHORT");
    case MYSQL_TYPE_LONG: return QStringLiteral("LONG");
    case MYSQL_TYPE_FLOAT: return QStringLiteral("FLOAT");
    case MYSQL_TYPE_DOUBLE: return QStringLiteral("DOUBLE");
    case MYSQL_TYPE_NULL: return QStringLiteral("NULL");
    case MYSQL_TYPE_TIMESTAMP: return QStringLiteral("TIMESTAMP");
    case MYSQL_TYPE_LONGLONG: return QStringLiteral("LONGLONG");
    case MYSQL_TYPE_INT24: return QStringLiteral("INT24");
    case MYSQL_TYPE_DATE: return QStringLiteral("DATE");
    case MYSQL_TYPE_TIME: return QStringLiteral("TIME");
    case MYSQL_TYPE_DATETIME: return QStringLiteral("DATETIME");
    case MYSQL_TYPE_YEAR: return QStringLiteral("YEAR");
    case MYSQL_TYPE_NEWDATE: return QStringLiteral("NEWDATE");
    case MYSQL_TYPE_VARCHAR: return QStringLiteral("VARCHAR");
    case MYSQL_TYPE_BIT: return QStringLiteral("BIT");
    case MYSQL_TYPE_JSON: return QStringLiteral("JSON");
    case MYSQL_TYPE_NEWDECIMAL: return QStringLiteral("NEWDECIMAL");
    case MYSQL_TYPE_ENUM: return QStringLiteral("ENUM");
    case MYSQL_TYPE_SET: return QStringLiteral("SET");
    case MYSQL_TYPE_TINY_BLOB: return QStringLiteral("TINY_BLOB");
    case MYSQL_TYPE_MEDIUM_BLOB: return QStringLiteral("MEDIUM_BLOB");
    case MYSQL_TYPE_LONG_BLOB: return QStringLiteral("LONG_BLOB");
    case MYSQL_TYPE_BLOB: return QStringLiteral("BLOB");
    case MYSQL_TYPE_VAR_STRING: return QStringLiteral("VAR_STRING");
    case MYSQL_TYPE_STRING: return QStringLiteral("STRING");
    case MYSQL_TYPE_GEOMETRY: return QStringLiteral("GEOMETRY");
    default: return QStringLiteral("TYPE_%1").arg(mysqlType);
    }
}

// ---------------------------------------------------------------- result

struct MySqlResult::State {
    MYSQL* mysql = nullptr;
    MYSQL_RES* res = nullptr;
    const CharsetCodec* codec = nullptr;
    QList<SourceColumn> columns;
    MYSQL_ROW row = nullptr;
    unsigned long* lengths = nullptr;
    bool atEnd = false;
    bool superseded = false;  // closed by a later statement or by closing the connection

    ~State() { release(); }
    void release()
    {
        if (res)
            mysql_free_result(res);  // reads and drops the rows not yet fetched
        res = nullptr;
        row = nullptr;
        lengths = nullptr;
    }

    int checkedColumn(int column) const
    {
        if (!row)
            throw MySqlError(QStringLiteral("No current row"));
        if (column < 0 || column >= columns.size())
            throw MySqlError(QStringLiteral("Column %1 out of range (the result has %2)")
                                 .arg(column)
                                 .arg(columns.size()));
        return column;
    }
    QByteArrayView raw(int column) const
    {
        checkedColumn(column);
        const char* p = row[column];
        return p ? QByteArrayView(p, qsizetype(lengths[column])) : QByteArrayView();
    }
};

MySqlResult::MySqlResult() = default;
MySqlResult::MySqlResult(MySqlResult&&) noexcept = default;
MySqlResult& MySqlResult::operator=(MySqlResult&&) noexcept = default;
MySqlResult::~MySqlResult() = default;

bool MySqlResult::isOpen() const { return d && d->res; }

void MySqlResult::close()
{
    if (d)
        d->release();
}

bool MySqlResult::next()
{
    if (!d)
        return false;
    if (d->superseded)
        throw MySqlError(QStringLiteral("The result was closed before all its rows were read"));
    if (!d->res || d->atEnd)
        return false;
    d->row = mysql_fetch_row(d->res);
    if (!d->row) {
        d->atEnd = true;
        // The end of the rows and a failure both come as no row; only the error number tells.
        if (mysql_errno(d->mysql) != 0)
            throwLibraryError(d->mysql, d->codec);
        d->release();
        return false;
    }
    d->lengths = mysql_fetch_lengths(d->res);
    return true;
}

int MySqlResult::columnCount() const { return d ? int(d->columns.size()) : 0; }

const QList<SourceColumn>& MySqlResult::columns() const
{
    static const QList<SourceColumn> none;
    return d ? d->columns : none;
}

int MySqlResult::columnIndex(const QString& name) const
{
    const QList<SourceColumn>& cols = columns();
    for (int i = 0; i < cols.size(); ++i)
        if (cols[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool MySqlResult::isNull(int column) const
{
    if (!d)
        throw MySqlError(QStringLiteral("No current row"));
    d->checkedColumn(column);
    return d->row[column] == nullptr;
}

QByteArray MySqlResult::bytes(int column) const
{
    if (!d)
        throw MySqlError(QStringLiteral("No current row"));
    return d->raw(column).toByteArray();
}

QString MySqlResult::text(int column) const
{
    if (!d)
        throw MySqlError(QStringLiteral("No current row"));
    const QByteArrayView raw = d->raw(column);
    if (d->columns[column].mysqlType == MYSQL_TYPE_BIT)
        return raw.isNull() ? QString() : value(column).toString();
    return d->codec->decode(raw.data(), raw.size());
}

qint64 MySqlResult::integer(int column) const
{
    if (!d)
        throw MySqlError(QStringLiteral("No current row"));
    const QByteArrayView raw = d->raw(column);
    bool ok = false;
    const qint64 value = raw.toLongLong(&ok);
    if (!ok)
        throw MySqlError(QStringLiteral("Column %1 (%2) does not hold an integer: %3")
                             .arg(column)
                             .arg(d->columns[column].name, text(column)));
    return value;
}

QVariant MySqlResult::value(int column) const
{
    if (!d)
        throw MySqlError(QStringLiteral("No current row"));
    const QByteArrayView raw = d->raw(column);
    if (raw.isNull())
        return QVariant();
    const SourceColumn& col = d->columns[column];
    if (isIntegerType(col.mysqlType)) {
        bool ok = false;
        if (col.mysqlType == MYSQL_TYPE_LONGLONG && col.isUnsigned) {
            const qulonglong v = raw.toULongLong(&ok);
            if (ok)
                return QVariant(v);
        } else {
            const qlonglong v = raw.toLongLong(&ok);
            if (ok)
                return QVariant(v);
        }
    } else if (isFloatingType(col.mysqlType)) {
        bool ok = false;
        const double v = raw.toDouble(&ok);
        if (ok)
            return QVariant(v);
    } else if (col.mysqlType == MYSQL_TYPE_BIT) {
        qulonglong v = 0;
        for (char c : raw)
            v = (v << 8) | (unsigned char)c;
        return QVariant(v);
    } else if (col.isBinary) {
        return QVariant(raw.toByteArray());
    }
    // Text, DECIMAL digits, dates and times as the server writes them.
    return QVariant(d->codec->decode(raw.data(), raw.size()));
}

QByteArrayView MySqlResult::raw(int column) const
{
    if (!d)
        throw MySqlError(QStringLiteral("No current row"));
    return d->raw(column);
}

QString MySqlResult::characterSet() const
{
    return d && d->codec ? d->codec->mysqlName() : QString();
}

QVariant MySqlResult::value(const QString& name) const
{
    const int column = columnIndex(name);
    if (column < 0)
        throw MySqlError("The result has no column named " + name);
    return value(column);
}

// ---------------------------------------------------------------- connection

MySqlConnection::MySqlConnection() = default;

MySqlConnection::~MySqlConnection() { close(); }

void MySqlConnection::setParams(const ConnectionParams& params) { m_params = params; }

const ConnectionParams& MySqlConnection::params() const { return m_params; }

bool MySqlConnection::isOpen() const { return m_mysql != nullptr; }

QString MySqlConnection::characterSet() const
{
    const QString& asked = m_params.characterSet;
    // The server's utf8 is utf8mb3, which cannot hold characters beyond
    // U+FFFF: the server would put "?" for them before we see them.
    if (asked.isEmpty() || asked == QLatin1String("ucs2") || asked == QLatin1String("utf8"))
        return QStringLiteral("utf8mb4");
    return asked;
}

void MySqlConnection::open()
{
    close();
    if (trimBlanks(m_params.host).isEmpty())
        throw SourceInputError(remoteWithoutHostMessage());
    const unsigned int port = parsePort(m_params.port);
    if (!m_params.characterSet.isEmpty() && !CharsetCodec::isKnown(m_params.characterSet))
        throw SourceInputError("Unknown character set: " + m_params.characterSet);
    const QString wire = characterSet();

    // The server takes no ucs2 from a client, and the client library cuts
    // ucs2 column names at their first zero byte: ucs2 goes as utf8mb4,
    // which holds every ucs2 character.
    auto codec = std::make_unique<CharsetCodec>(wire);

    const QByteArray host = cString(*codec, m_params.host);
    const QByteArray user = cString(*codec, m_params.user);
    const QByteArray password = cString(*codec, m_params.password);
    const QByteArray database = cString(*codec, m_params.database);

    // The library's set-up is not thread-safe; the window connects on other threads.
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mysql_library_init(0, nullptr, nullptr); });
    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql)
        throw MySqlError(QStringLiteral("Out of memory while starting the MySQL client"));
    const QByteArray clientName = wire.toLatin1();
    mysql_options(mysql, MYSQL_SET_CHARSET_NAME, clientName.constData());
    mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeoutSeconds);

    // The library reads MYSQL_UNIX_PORT once per process; reading it here lets
    // each login see the current value.
    const char* socket = nullptr;
    const QByteArray socketPath = qgetenv("MYSQL_UNIX_PORT");
    if (m_params.host == QLatin1String("localhost") && !socketPath.isEmpty())
        socket = socketPath.constData();

    if (!mysql_real_connect(mysql, host.constData(), user.constData(), password.constData(),
                            database.isEmpty() ? nullptr : database.constData(), port, socket, 0)) {
        const unsigned int code = mysql_errno(mysql);
        QString message = libraryText(mysql_error(mysql), codec.get());
        const QString hint = connectionHint(code, m_params.host, port, socket ? QString::fromLocal8Bit(socket) : QString());
        if (!hint.isEmpty())
            message += u'\n' + hint;
        const MySqlError error(message, code);
        mysql_close(mysql);
        throw error;
    }
    m_mysql = mysql;
    m_codec = std::move(codec);
}

void MySqlConnection::takeOver(MySqlConnection& other)
{
    if (&other == this)
        return;
    close();
    m_mysql = std::exchange(other.m_mysql, nullptr);
    m_params = other.m_params;
    m_codec = std::move(other.m_codec);
    m_active = std::exchange(other.m_active, {});
}

void MySqlConnection::close()
{
    if (auto active = m_active.lock()) {
        active->superseded = !active->atEnd && active->res;
        active->release();
        active->codec = nullptr;
        active->mysql = nullptr;
    }
    m_active.reset();
    if (m_mysql)
        mysql_close(m_mysql);
    m_mysql = nullptr;
}

MySqlResult MySqlConnection::query(const QString& statement)
{
    if (!m_mysql)
        throw MySqlError(QStringLiteral("The MySQL connection is not open"));
    // One unbuffered result at a time: the server sends nothing else until its rows are read.
    if (auto active = m_active.lock()) {
        active->superseded = !active->atEnd && active->res;
        active->release();
    }
    m_active.reset();

    const QByteArray sql = m_codec->encode(statement);
    if (mysql_real_query(m_mysql, sql.constData(), (unsigned long)sql.size()) != 0)
        throwLibraryError(m_mysql, m_codec.get());

    MySqlResult result;
    result.d = std::make_shared<MySqlResult::State>();
    MySqlResult::State& s = *result.d;
    s.mysql = m_mysql;
    s.codec = m_codec.get();
    s.res = mysql_use_result(m_mysql);
    if (!s.res) {
        if (mysql_field_count(m_mysql) != 0)
            throwLibraryError(m_mysql, m_codec.get());
        s.atEnd = true;  // a statement without rows
        return result;
    }
    const unsigned int count = mysql_num_fields(s.res);
    const MYSQL_FIELD* fields = mysql_fetch_fields(s.res);
    s.columns.reserve(count);
    for (unsigned int i = 0; i < count; ++i) {
        const MYSQL_FIELD& f = fields[i];
        SourceColumn c;
        c.name = m_codec->decode(f.name, qsizetype(f.name_length));
        c.mysqlType = int(f.type);
        c.charsetNumber = f.charsetnr;
        c.flags = f.flags;
        c.length = f.length;
        c.decimals = f.decimals;
        c.isUnsigned = (f.flags & UNSIGNED_FLAG) != 0;
        c.isNullable = (f.flags & NOT_NULL_FLAG) == 0;
        c.isBinary = (isStringType(f.type) && f.charsetnr == binaryCharset)
                     || f.type == MYSQL_TYPE_BIT || f.type == MYSQL_TYPE_GEOMETRY;
        c.isBlob = isBlobType(f.type) && f.charsetnr == binaryCharset;
        s.columns.append(c);
    }
    m_active = result.d;
    return result;
}

// ---------------------------------------------------------------- wizard steps

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

int matchDatabase(const QStringList& names, const QString& typedName)
{
    const QString wanted = asciiUpper(typedName);
    int noted = -1;
    for (int i = 0; i < names.size(); ++i)
        if (asciiUpper(names[i]) == wanted)
            noted = i;
    return noted;
}

DatabaseList listDatabases(MySqlConnection& connection, const ConversionSettings& settings,
                           const QString& typedName)
{
    if (trimBlanks(typedName).isEmpty())
        throw SourceInputError(QStringLiteral("Please enter database name"));
    connection.close();
    // Logged in without a database: a name typed in another letter case than
    // the server's would be refused by a server that compares names exactly.
    // The list decides which database is meant.
    connection.setParams(ConnectionParams::fromSettings(settings, QString()));
    connection.open();

    DatabaseList list;
    MySqlResult result = connection.query(showDatabasesStatement());
    while (result.next())
        list.names.append(result.text(0));
    result.close();
    list.selectedIndex = matchDatabase(list.names, typedName);
    return list;
}

void openDatabase(MySqlConnection& connection, const ConversionSettings& settings,
                  const QString& chosenName, int charsetPosition)
{
    connection.close();
    if (chosenName.isEmpty())
        throw SourceInputError(QStringLiteral("Please select a MySQL database"));
    connection.setParams(ConnectionParams::fromSettings(settings, chosenName, charsetPosition));
    connection.open();
}

QStringList listTables(MySqlConnection& connection)
{
    QStringList tables;
    MySqlResult result = connection.query(showTablesStatement());
    while (result.next())
        tables.append(result.text(0));
    result.close();
    return tables;
}

}  // namespace ferrowane
