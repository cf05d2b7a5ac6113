// The MySQL side of a conversion: one connection on MariaDB Connector/C, results
// walked forward row by row without holding the whole result, and the two wizard
// steps that log in and list what the server has.
#pragma once

#include "engine/charset_codec.h"
#include "engine/conversion_settings.h"
#include "engine/error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <stdexcept>

struct st_mysql;
struct st_mysql_res;

namespace ferrowane {

// A failure reported by the server or the client library; the text is the
// library's own message (mysql_error), shown to the user as it stands.
class MySqlError : public Error {
public:
    explicit MySqlError(const QString& message, unsigned int code = 0);
    unsigned int code() const { return m_code; }  // mysql_errno, 0 for our own checks

private:
    unsigned int m_code;
};

// Input refused before anything is sent to the server (blank database name,
// bad port number, no database chosen): the wizard shows the text and stays.
class SourceInputError : public Error {
public:
    explicit SourceInputError(const QString& message) : Error(ErrorKind::Input, message) {}
};

// The six statements the program sends. Table names are quoted with backticks.
QString quoteIdentifier(const QString& name);
QString showDatabasesStatement();                       // "show databases "
QString showTablesStatement();                          // "show tables"
QString showFieldsStatement(const QString& table);      // "show full FIELDS from `t`" (with the collation)
QString showIndexStatement(const QString& table);       // "show index from `t`"
QString countRowsStatement(const QString& table);       // "select count(*) from `t`"
QString selectAllStatement(const QString& table);       // "select * from `t`"

// The refusal of a login in remote mode with no host name.
QString remoteWithoutHostMessage();
// The message for a database name that the server does not list.
QString unknownDatabaseMessage(const QString& name);

// Login parameters of the connection.
struct ConnectionParams {
    QString host;          // local mode: "localhost" (the socket), or "127.0.0.1" for a port other than 3306
    QString port;          // as typed; checked when the connection opens
    QString user;
    QString password;
    QString database;      // as typed, not trimmed
    QString characterSet;  // empty: none chosen, the connection asks for utf8mb4

    // Local mode (accessmode 0): host "localhost", or "127.0.0.1" when the port
    // is a number other than 3306; remote: settings.host. The charset only
    // when charsetPosition (the selected entry of the list) is above 0.
    static ConnectionParams fromSettings(const ConversionSettings& settings,
                                         const QString& database, int charsetPosition = 0);
    bool operator==(const ConnectionParams&) const = default;
};

// The port as a number 1..65535 (surrounding blanks allowed); throws
// SourceInputError "Invalid port number: <text>" otherwise.
unsigned int parsePort(const QString& text);

// One result column.
struct SourceColumn {
    QString name;
    int mysqlType = 0;           // enum_field_types of <mysql.h>
    unsigned int charsetNumber = 0;  // 63 is binary
    unsigned int flags = 0;      // *_FLAG bits of <mysql.h>
    unsigned long length = 0;    // display length in bytes
    unsigned int decimals = 0;   // scale of decimals, fraction digits of times
    bool isBlob = false;         // binary large object (the blob types, not the text types)
    bool isBinary = false;       // bytes, not text: binary charset (blobs, binary, varbinary, bit, geometry)
    bool isUnsigned = false;
    bool isNullable = true;
    QString typeName() const;    // "LONG", "BLOB", "VAR_STRING", ...
};

class MySqlConnection;

// A statement's result, read forward. Rows come from the server one at a time;
// the client never holds more than the current row. Move-only.
// Values by type: NULL -> null QVariant; integer types and YEAR -> qlonglong
// (unsigned BIGINT -> qulonglong); FLOAT/DOUBLE -> double; BIT -> qulonglong;
// binary columns -> QByteArray; everything else (text, DECIMAL as its exact
// digits, dates and times as the server spells them) -> QString.
class MySqlResult {
public:
    MySqlResult();
    MySqlResult(MySqlResult&&) noexcept;
    MySqlResult& operator=(MySqlResult&&) noexcept;
    ~MySqlResult();

    // Moves to the next row (the first one on the first call); false at the end.
    // Throws MySqlError when the server fails mid-way or a later statement on
    // the same connection closed this result.
    bool next();
    bool isOpen() const;
    void close();  // reads and drops whatever rows are left

    int columnCount() const;
    const QList<SourceColumn>& columns() const;
    // Position of a column by name, letters compared without regard to case; -1 if none.
    int columnIndex(const QString& name) const;

    // Current row. Positions out of range and reads with no current row throw MySqlError.
    bool isNull(int column) const;
    QString text(int column) const;        // NULL gives an empty text; bytes decoded
    qint64 integer(int column) const;      // throws when the text is not an integer
    QByteArray bytes(int column) const;    // raw bytes as sent
    QVariant value(int column) const;
    QVariant value(const QString& name) const;  // throws when no column has that name
    // The bytes the server sent for a column of the current row, valid until
    // the next row; a null view for NULL. Throws like isNull.
    QByteArrayView raw(int column) const;
    // The character set the texts of the result come in (the connection's).
    QString characterSet() const;

private:
    friend class MySqlConnection;
    struct State;
    std::shared_ptr<State> d;
};

class MySqlConnection {
public:
    MySqlConnection();
    ~MySqlConnection();
    MySqlConnection(const MySqlConnection&) = delete;
    MySqlConnection& operator=(const MySqlConnection&) = delete;

    void setParams(const ConnectionParams& params);
    const ConnectionParams& params() const;

    // Host "localhost" goes through the Unix socket: the library's default one,
    // or the one the environment variable MYSQL_UNIX_PORT names.
    // Throws SourceInputError for an empty host or a bad port, MySqlError when
    // the login fails (a refused connection's message says where it tried and
    // what is likely wrong). Safe to call on any thread, one connection each.
    void open();
    // Takes the other connection's open session (and its parameters) over,
    // closing its own: a login made on another thread becomes this one.
    void takeOver(MySqlConnection& other);
    void close();
    bool isOpen() const;

    // Runs a statement and returns its rows unbuffered. A result still open on
    // this connection is closed first. Throws MySqlError.
    MySqlResult query(const QString& statement);

    // The character set actually asked of the server: "utf8mb4" when none is
    // chosen, for ucs2, which the server does not take from a client, and for
    // utf8, the server's name for utf8mb3.
    QString characterSet() const;

private:
    friend class MySqlResult;
    st_mysql* m_mysql = nullptr;
    ConnectionParams m_params;
    std::unique_ptr<CharsetCodec> m_codec;  // statements, login values and results
    std::weak_ptr<MySqlResult::State> m_active;
};

// What step 2 leaves for the settings page.
struct DatabaseList {
    QStringList names;       // in the server's order
    int selectedIndex = -1;  // the last name equal to the typed one (ASCII letters without case), or -1
};

// Position of the last name equal to typedName when the letters a to z are
// compared without regard to case (other characters exactly), or -1.
int matchDatabase(const QStringList& names, const QString& typedName);

// The typed database name with leading and trailing blanks and control characters removed.
QString trimBlanks(const QString& text);

// step2Click: logs in with the settings' login fields and no database (a name
// in the wrong letter case would be refused by some servers), then lists the
// server's databases and matches the typed name against them. Throws SourceInputError
// "Please enter database name" when the typed name is blank, MySqlError on failure.
DatabaseList listDatabases(MySqlConnection& connection, const ConversionSettings& settings,
                           const QString& typedName);

// step4Click: logs in again to the chosen database with the character set at
// charsetPosition of characterSetNames() (0 or below: none). Throws
// SourceInputError when chosenName is empty (no database chosen), MySqlError on failure.
void openDatabase(MySqlConnection& connection, const ConversionSettings& settings,
                  const QString& chosenName, int charsetPosition);

// "show tables" on the open connection: the first column of each row.
QStringList listTables(MySqlConnection& connection);

}  // namespace ferrowane
