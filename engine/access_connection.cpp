// The connection to the target file: the connection string, opening and
// closing the file, statements and transactions.
#include "engine/access_provider.h"

#include "engine/jet_adapter.h"

#include "jet/database.h"
#include "jet/statement.h"

#include <QFileInfo>

#include <utility>

namespace ferrowane {

namespace {

const QString kProviderName = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
const QString kTail = QStringLiteral(";Persist Security Info=False");

}  // namespace

AccessConnection::AccessConnection() = default;

AccessConnection::~AccessConnection()
{
    try {
        close();
    } catch (...) {
    }
}

QString AccessConnection::connectionStringFor(const QString& path)
{
    return QStringLiteral("Provider=") + kProviderName + QStringLiteral(";Data Source=") + path + kTail;
}

QString AccessConnection::dataSourceOf(const QString& connectionString)
{
    // The path goes in unquoted and may itself hold ";": it runs from
    // "Data Source=" to the fixed tail, or to the end.
    const QString key = QStringLiteral("Data Source=");
    const qsizetype at = connectionString.indexOf(key, 0, Qt::CaseInsensitive);
    if (at < 0)
        return QString();
    QString rest = connectionString.mid(at + key.size());
    if (rest.endsWith(kTail, Qt::CaseInsensitive))
        rest.chop(kTail.size());
    return rest;
}

void AccessConnection::setConnectionString(const QString& text)
{
    m_connectionString = text;
}

void AccessConnection::open()
{
    close();
    const QString providerKey = QStringLiteral("Provider=");
    if (!m_connectionString.startsWith(providerKey + kProviderName + QLatin1Char(';'), Qt::CaseInsensitive))
        throw AccessError(QStringLiteral("Provider cannot be found. It may not be properly installed."));
    const QString path = dataSourceOf(m_connectionString);
    if (path.isEmpty())
        throw AccessError(QStringLiteral("The connection string names no database file."));
    if (!QFileInfo(path).isFile())
        throw AccessError(QStringLiteral("Could not find file '%1'.").arg(path));
    jet::OpenOptions options;
    options.writable = true;
    options.maxFileSize = m_maxFileSize;
    m_db = onEngine([&] { return jet::Database::open(path.toStdString(), options); });
}

void AccessConnection::close()
{
    if (!m_db)
        return;
    std::unique_ptr<jet::Database> db = std::move(m_db);
    if (db->inTransaction())
        onEngine([&] { db->commit(); });
}

bool AccessConnection::isOpen() const
{
    return m_db != nullptr;
}

jet::Database& AccessConnection::database()
{
    if (!m_db)
        throw AccessError(QStringLiteral("Operation is not allowed when the object is closed."));
    return *m_db;
}

AccessFormat AccessConnection::format() const
{
    return m_db && m_db->version() == jet::Version::Jet4 ? AccessFormat::Jet4 : AccessFormat::Jet3;
}

bool AccessConnection::hasTable(const QString& name)
{
    try {
        return database().hasTable(utf8(name));
    } catch (const std::exception&) {
        return false;
    }
}

void AccessConnection::execute(const QString& statement)
{
    jet::Database& db = database();
    // The engine reads the statement itself (keys through the handlers the
    // index code registers); its messages go on unchanged.
    onEngine([&] { jet::execute(db, utf8(statement)); });
}

void AccessConnection::beginTransaction()
{
    onEngine([&] { database().begin(); });
}

void AccessConnection::commitTransaction()
{
    onEngine([&] { database().commit(); });
}

void AccessConnection::rollbackTransaction()
{
    onEngine([&] { database().rollback(); });
}

bool AccessConnection::inTransaction() const
{
    return m_db && m_db->inTransaction();
}

bool AccessConnection::transactionIsLarge() const
{
    return m_db && m_db->inTransaction() && m_db->transactionIsLarge();
}

}  // namespace ferrowane
