#include "engine/access_provider.h"

#include "jet/code_page.h"
#include "jet/database.h"
#include "jet/pager.h"
#include "jet/error.h"
#include "jet/field_codec.h"
#include "jet/statement.h"
#include "jet/table.h"
#include "jet/value.h"

#include <QFileInfo>

#include <mysql.h>

#include <charconv>
#include <cmath>
#include <utility>

namespace ferrowane {

namespace {

const QString kProviderName = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
const QString kTail = QStringLiteral(";Persist Security Info=False");

[[noreturn]] void rethrow(const std::exception& e)
{
    throw AccessError(QString::fromUtf8(e.what()));
}

std::string utf8(const QString& s)
{
    return s.toStdString();
}

}  // namespace


// ------------------------------------------------------------ statements

namespace {

struct Token {
    enum Kind { End, Word, Name, Number, Symbol } kind = End;
    QString text;
};

class Lexer {
public:
    explicit Lexer(const QString& s) : m_s(s) {}

    Token next()
    {
        while (m_pos < m_s.size() && m_s.at(m_pos).isSpace())
            ++m_pos;
        Token t;
        if (m_pos >= m_s.size())
            return t;
        const QChar c = m_s.at(m_pos);
        if (c == QLatin1Char('[')) {
            // A bracketed name runs to the first "]".
            const qsizetype close = m_s.indexOf(QLatin1Char(']'), m_pos + 1);
            if (close < 0)
                throw AccessError(QStringLiteral("Invalid bracketing of name '%1'.").arg(m_s.mid(m_pos)));
            t.kind = Token::Name;
            t.text = m_s.mid(m_pos + 1, close - m_pos - 1);
            m_pos = close + 1;
            return t;
        }
        if (c.isLetterOrNumber() || c == QLatin1Char('_')) {
            const qsizetype start = m_pos;
            while (m_pos < m_s.size() && (m_s.at(m_pos).isLetterOrNumber() || m_s.at(m_pos) == QLatin1Char('_')))
                ++m_pos;
            t.text = m_s.mid(start, m_pos - start);
            bool digits = true;
            for (QChar d : t.text)
                digits = digits && d.unicode() >= '0' && d.unicode() <= '9';
            t.kind = digits ? Token::Number : Token::Word;
            return t;
        }
        t.kind = Token::Symbol;
        t.text = QString(c);
        ++m_pos;
        return t;
    }

private:
    const QString& m_s;
    qsizetype m_pos = 0;
};

class Parser {
public:
    explicit Parser(const QString& s) : m_lexer(s) { advance(); }

    ParsedStatement statement()
    {
        ParsedStatement st;
        if (isWord("drop")) {
            advance();
            expectWord("table", QStringLiteral("Syntax error in DROP TABLE or DROP INDEX."));
            st.kind = ParsedStatement::DropTable;
            st.table = name(QStringLiteral("Syntax error in DROP TABLE or DROP INDEX."));
        } else if (isWord("create")) {
            advance();
            if (isWord("table")) {
                advance();
                st.kind = ParsedStatement::CreateTable;
                createTable(st);
            } else {
                st.kind = ParsedStatement::CreateIndex;
                if (isWord("unique")) {
                    st.unique = true;
                    advance();
                }
                const QString error = QStringLiteral("Syntax error in CREATE INDEX statement.");
                expectWord("index", QStringLiteral("Syntax error in CREATE TABLE statement."));
                st.name = name(error);
                expectWord("on", error);
                st.table = name(error);
                st.keyColumns = columnList(error);
            }
        } else if (isWord("alter")) {
            const QString error = QStringLiteral("Syntax error in ALTER TABLE statement.");
            advance();
            expectWord("table", error);
            st.table = name(error);
            expectWord("add", error);
            expectWord("constraint", error);
            st.name = name(error);
            if (isWord("primary")) {
                advance();
                expectWord("key", error);
                st.kind = ParsedStatement::PrimaryKey;
            } else if (isWord("unique")) {
                advance();
                st.kind = ParsedStatement::CreateIndex;
                st.unique = true;
            } else {
                throw AccessError(error);
            }
            st.keyColumns = columnList(error);
        } else if (isWord("select")) {
            const QString error = QStringLiteral("Syntax error in query expression.");
            advance();
            st.kind = ParsedStatement::Select;
            if (isSymbol("*"))
                st.selectAll = true;
            else if (!(m_tok.kind == Token::Number && m_tok.text == QLatin1String("1")))
                throw AccessError(error);
            advance();
            expectWord("from", QStringLiteral("Syntax error in FROM clause."));
            st.table = name(QStringLiteral("Syntax error in FROM clause."));
            if (isWord("where")) {
                // Only the empty-result condition of the probes.
                advance();
                if (!isNumber("1"))
                    throw AccessError(error);
                advance();
                if (!isSymbol("="))
                    throw AccessError(error);
                advance();
                if (!isNumber("0"))
                    throw AccessError(error);
                advance();
            }
        } else {
            throw AccessError(QStringLiteral(
                "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."));
        }
        if (m_tok.kind != Token::End && !isSymbol(";"))
            throw AccessError(QStringLiteral("Characters found after end of SQL statement."));
        return st;
    }

private:
    void advance() { m_tok = m_lexer.next(); }
    bool isWord(const char* w) const
    {
        return m_tok.kind == Token::Word && m_tok.text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(const char* s) const { return m_tok.kind == Token::Symbol && m_tok.text == QLatin1String(s); }
    bool isNumber(const char* s) const { return m_tok.kind == Token::Number && m_tok.text == QLatin1String(s); }
    void expectWord(const char* w, const QString& error)
    {
        if (!isWord(w))
            throw AccessError(error);
        advance();
    }
    void expectSymbol(const char* s, const QString& error)
    {
        if (!isSymbol(s))
            throw AccessError(error);
        advance();
    }
    QString name(const QString& error)
    {
        if (m_tok.kind != Token::Name && m_tok.kind != Token::Word)
            throw AccessError(error);
        const QString n = m_tok.text;
        advance();
        return n;
    }
    int number(const QString& error)
    {
        if (m_tok.kind != Token::Number)
            throw AccessError(error);
        bool ok = false;
        const int n = m_tok.text.toInt(&ok);
        if (!ok)
            throw AccessError(error);
        advance();
        return n;
    }
    QStringList columnList(const QString& error)
    {
        QStringList cols;
        expectSymbol("(", error);
        cols.append(name(error));
        while (isSymbol(",")) {
            advance();
            cols.append(name(error));
        }
        expectSymbol(")", error);
        return cols;
    }
    void createTable(ParsedStatement& st)
    {
        const QString error = QStringLiteral("Syntax error in CREATE TABLE statement.");
        const QString fieldError = QStringLiteral("Syntax error in field definition.");
        st.table = name(error);
        expectSymbol("(", error);
        for (;;) {
            ParsedColumn c;
            c.name = name(fieldError);
            if (m_tok.kind != Token::Word)
                throw AccessError(fieldError);
            c.typeName = m_tok.text.toLower();
            advance();
            if (isSymbol("(")) {
                advance();
                const int first = number(fieldError);
                if (isSymbol(",")) {
                    advance();
                    c.precision = first;
                    c.scale = number(fieldError);
                } else {
                    c.size = first;
                    c.precision = first;
                }
                expectSymbol(")", fieldError);
            }
            st.columns.append(c);
            if (isSymbol(",")) {
                advance();
                continue;
            }
            expectSymbol(")", error);
            break;
        }
    }

    Lexer m_lexer;
    Token m_tok;
};

}  // namespace

ParsedStatement parseAccessStatement(const QString& statement)
{
    return Parser(statement).statement();
}

// ------------------------------------------------------------ connection

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
    try {
        m_db = jet::Database::open(path.toStdString(), true);
        if (m_maxFileSize > 0 && m_maxFileSize < m_db->pager().maxFileSize())
            m_db->pager().setMaxFileSize(m_maxFileSize);
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

void AccessConnection::close()
{
    if (!m_db)
        return;
    std::unique_ptr<jet::Database> db = std::move(m_db);
    if (db->inTransaction()) {
        try {
            db->commit();
        } catch (const std::exception& e) {
            rethrow(e);
        }
    }
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
    try {
        jet::execute(db, utf8(statement));
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

void AccessConnection::beginTransaction()
{
    try {
        database().begin();
    } catch (const AccessError&) {
        throw;
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

void AccessConnection::commitTransaction()
{
    try {
        database().commit();
    } catch (const AccessError&) {
        throw;
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

void AccessConnection::rollbackTransaction()
{
    try {
        database().rollback();
    } catch (const AccessError&) {
        throw;
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

bool AccessConnection::inTransaction() const
{
    return m_db && m_db->inTransaction();
}

// ------------------------------------------------------------ dataset

namespace {

TargetColumn targetColumnOf(const jet::ColumnDef& c, bool jet4)
{
    TargetColumn t;
    switch (c.type) {
    case jet::ColumnType::Boolean:
        t.kind = TargetKind::Long;
        t.minValue = -1;
        t.maxValue = 1;
        break;
    case jet::ColumnType::Byte:
        t.kind = TargetKind::Long;
        t.minValue = 0;
        t.maxValue = 255;
        break;
    case jet::ColumnType::Integer:
        t.kind = TargetKind::Long;
        t.minValue = -32768;
        t.maxValue = 32767;
        break;
    case jet::ColumnType::Long:
        t.kind = TargetKind::Long;
        break;
    case jet::ColumnType::Currency:
        t.kind = TargetKind::Currency;
        t.precision = 19;
        t.scale = 4;
        break;
    case jet::ColumnType::Single:
        t.kind = TargetKind::Single;
        break;
    case jet::ColumnType::Double:
        t.kind = TargetKind::Double;
        break;
    case jet::ColumnType::DateTime:
        t.kind = TargetKind::Date;
        break;
    case jet::ColumnType::Binary:
        t.kind = TargetKind::Binary;
        t.size = c.length;
        break;
    case jet::ColumnType::Text:
        t.kind = TargetKind::Text;
        t.size = jet4 ? c.length / 2 : c.length;
        break;
    case jet::ColumnType::Ole:
        t.kind = TargetKind::OleObject;
        break;
    case jet::ColumnType::Memo:
        t.kind = TargetKind::Memo;
        break;
    case jet::ColumnType::Guid:
        t.kind = TargetKind::Text;
        t.size = 38;
        break;
    case jet::ColumnType::Numeric:
        t.kind = TargetKind::Decimal;
        t.precision = c.precision;
        t.scale = c.scale;
        break;
    }
    return t;
}

}  // namespace

AccessDataset::AccessDataset(AccessConnection& connection) : m_connection(connection) {}

AccessDataset::~AccessDataset() = default;

void AccessDataset::setCommandText(const QString& text)
{
    m_commandText = text;
}

void AccessDataset::open()
{
    close();
    const ParsedStatement st = parseAccessStatement(m_commandText);
    if (st.kind != ParsedStatement::Select)
        throw AccessError(QStringLiteral("The command does not return a row set."));
    jet::Database& db = m_connection.database();
    try {
        if (!db.hasTable(utf8(st.table)))
            throw AccessError(QStringLiteral("The Microsoft Jet database engine cannot find the input table "
                                             "or query '%1'. Make sure it exists and that its name is "
                                             "spelled correctly.").arg(st.table));
        jet::Table& table = db.table(utf8(st.table));
        const bool jet4 = db.version() == jet::Version::Jet4;
        QList<AccessField> fields;
        const auto& cols = table.def().columns;
        for (const jet::ColumnDef* c : table.def().columnsInOrder()) {
            AccessField f;
            f.name = QString::fromStdString(c->name);
            f.column = targetColumnOf(*c, jet4);
            f.jetType = int(c->type);
            f.position = int(c - cols.data());
            fields.append(f);
        }
        m_fields = fields;
        m_table = &table;
        m_readOnly = QString::fromStdString(table.name()).startsWith(QLatin1String("MSys"), Qt::CaseInsensitive);
    } catch (const AccessError&) {
        throw;
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

void AccessDataset::close()
{
    m_table = nullptr;
    m_readOnly = false;
    m_fields.clear();
    m_row.clear();
    m_appending = false;
}

int AccessDataset::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    // Letter case beyond ASCII, as Access compares names.
    const QString folded = name.toCaseFolded();
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields.at(i).name.toCaseFolded() == folded)
            return i;
    return -1;
}

void AccessDataset::append()
{
    if (!m_table)
        throw AccessError(QStringLiteral("Operation is not allowed when the object is closed."));
    if (m_readOnly)
        throw AccessError(QStringLiteral("Cannot update '%1'; database or object is read-only.")
                              .arg(QString::fromStdString(m_table->name())));
    m_row.assign(m_table->def().columns.size(), jet::Value::null());
    m_appending = true;
}

namespace {

// The engine's value for a field, from a value as convertValue gives it.
// Throws AccessError; changed tells what was altered to store it.
jet::Value accessValue(const jet::ColumnDef& c, const QString& fieldName, bool jet4, const QVariant& value,
                       QString* changed)
{
    if (value.isNull())
        return jet::Value::null();
    switch (c.type) {
    case jet::ColumnType::Boolean:
        return jet::Value::boolean(value.toLongLong() != 0);
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long:
        return jet::Value::integer(value.toLongLong());
    case jet::ColumnType::Single:
    case jet::ColumnType::Double:
        return jet::Value::real(value.toDouble());
    case jet::ColumnType::Currency:
    case jet::ColumnType::Numeric:
        return jet::Value::decimal(value.toString().toStdString());
    case jet::ColumnType::DateTime: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            throw AccessError(QStringLiteral("The value for column '%1' is not a date").arg(fieldName));
        return jet::Value::date(jet::fromJetDate(d));
    }
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo: {
        QString text = value.toString();
        if (!jet4) {
            // A Jet 3 file holds its text in code page 1252.
            bool replaced = false;
            for (QChar ch : std::as_const(text))
                replaced = replaced || !jet::cp1252::canStore(ch.unicode());
            if (replaced) {
                // A surrogate pair becomes one "?".
                QString fixed;
                for (qsizetype i = 0; i < text.size(); ++i) {
                    if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                        fixed += QLatin1Char('?');
                        ++i;
                    } else {
                        fixed += jet::cp1252::canStore(text.at(i).unicode()) ? text.at(i) : QLatin1Char('?');
                    }
                }
                text = fixed;
                *changed = QStringLiteral("characters that code page 1252 lacks became \"?\"");
            }
        }
        return jet::Value::text(text.toStdString());
    }
    case jet::ColumnType::Binary:
    case jet::ColumnType::Ole: {
        const QByteArray b = value.toByteArray();
        return jet::Value::bytes(std::string(b.constData(), size_t(b.size())));
    }
    case jet::ColumnType::Guid:
        return jet::Value::guid(value.toString().toStdString());
    }
    return jet::Value::null();
}

bool isIntegerSource(int mysqlType)
{
    switch (mysqlType) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
        return true;
    default:
        return false;
    }
}

// A double as the server writes it, read whole; false for anything else.
bool readDouble(QByteArrayView raw, double* out)
{
    const char* end = raw.data() + raw.size();
    const auto r = std::from_chars(raw.data(), end, *out);
    return r.ec == std::errc() && r.ptr == end && raw.size() > 0 && std::isfinite(*out);
}

}  // namespace

QString AccessDataset::setField(int index, const QVariant& value)
{
    if (!m_appending)
        throw AccessError(QStringLiteral("Operation is not allowed in this context."));
    if (index < 0 || index >= m_fields.size())
        throw AccessError(QStringLiteral("Item cannot be found in the collection corresponding to the "
                                         "requested name or ordinal."));
    const AccessField& f = m_fields.at(index);
    const jet::ColumnDef& c = m_table->def().columns[size_t(f.position)];
    QString changed;
    jet::Value v = accessValue(c, f.name, m_connection.format() == AccessFormat::Jet4, value, &changed);
    // Fields of a row are checked here, so that a refused value is told
    // apart from a refused row.
    if (!v.isNull() && !c.isLongValue()) {
        try {
            jet::encodeField(m_connection.database().format(), c, v);
        } catch (const std::exception& e) {
            rethrow(e);
        }
    }
    m_row[size_t(f.position)] = std::move(v);
    return changed;
}

void AccessDataset::post()
{
    if (!m_appending)
        throw AccessError(QStringLiteral("Operation is not allowed in this context."));
    m_appending = false;
    try {
        m_table->append(m_row);
        m_connection.database().statementDone();
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

void AccessDataset::checkAppendable() const
{
    if (!m_table)
        throw AccessError(QStringLiteral("Operation is not allowed when the object is closed."));
    if (m_readOnly)
        throw AccessError(QStringLiteral("Cannot update '%1'; database or object is read-only.")
                              .arg(QString::fromStdString(m_table->name())));
}

void AccessDataset::postPrepared(PreparedRow& row)
{
    checkAppendable();
    m_appending = false;
    try {
        m_table->append(row.values, &row.fields);
        m_connection.database().statementDone();
    } catch (const std::exception& e) {
        rethrow(e);
    }
}

// ------------------------------------------------------------ field encoder

FieldEncoder::FieldEncoder(AccessDataset& dataset)
{
    if (!dataset.m_table)
        throw AccessError(QStringLiteral("Operation is not allowed when the object is closed."));
    jet::Database& db = dataset.m_connection.database();
    m_format = db.format();
    m_jet4 = db.version() == jet::Version::Jet4;
    const auto& columns = dataset.m_table->def().columns;
    m_columnCount = columns.size();
    for (const AccessField& f : dataset.m_fields)
        m_fields.push_back(Slot{columns[size_t(f.position)], f.column, f.name, f.position});
}

void FieldEncoder::clear(PreparedRow& row) const
{
    if (row.values.size() != m_columnCount) {
        row.values.assign(m_columnCount, jet::Value::null());
        row.fields.assign(m_columnCount, jet::Field{});
        return;
    }
    for (jet::Value& v : row.values)
        if (!v.isNull())
            v.setNull();
    for (jet::Field& f : row.fields) {
        f.null = true;
        f.bit = false;
        f.bytes.clear();
    }
}

void FieldEncoder::unset(PreparedRow& row, const Slot& slot) const
{
    const size_t pos = size_t(slot.position);
    row.values[pos].setNull();
    jet::Field& f = row.fields[pos];
    f.null = true;
    f.bit = false;
    f.bytes.clear();
}

QString FieldEncoder::set(PreparedRow& row, int field, const QVariant& value) const
{
    if (field < 0 || field >= fieldCount())
        throw AccessError(QStringLiteral("Item cannot be found in the collection corresponding to the "
                                         "requested name or ordinal."));
    const Slot& slot = m_fields[size_t(field)];
    unset(row, slot);
    QString changed;
    jet::Value v = accessValue(slot.def, slot.name, m_jet4, value, &changed);
    if (!v.isNull() && !slot.def.isLongValue()) {
        try {
            jet::encodeFieldInto(m_format, slot.def, v, row.fields[size_t(slot.position)]);
        } catch (const std::exception& e) {
            unset(row, slot);
            rethrow(e);
        }
    }
    row.values[size_t(slot.position)] = std::move(v);
    return changed;
}

bool FieldEncoder::setRaw(PreparedRow& row, int field, const RawSource& source, QByteArrayView raw) const
{
    const Slot& slot = m_fields[size_t(field)];
    const jet::ColumnDef& c = slot.def;
    const TargetColumn& t = slot.column;
    jet::Value& v = row.values[size_t(slot.position)];
    jet::Field& encoded = row.fields[size_t(slot.position)];
    if (raw.isNull()) {
        unset(row, slot);
        return true;
    }
    const bool number = source.kind == SourceKind::Number;
    const bool integer = number && isIntegerSource(source.mysqlType);
    bool taken = false;
    switch (c.type) {
    case jet::ColumnType::Boolean:
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long: {
        qint64 x = 0;
        if (integer && exactWhole(raw, t.minValue, t.maxValue, &x)) {
            if (c.type == jet::ColumnType::Boolean)
                v.setBoolean(x != 0);
            else
                v.setInteger(x);
            taken = true;
        }
        break;
    }
    case jet::ColumnType::Double: {
        constexpr qint64 exactLimit = qint64(1) << 53;
        qint64 x = 0;
        double d = 0;
        if (integer && exactWhole(raw, -exactLimit, exactLimit, &x)) {
            v.setReal(double(x));
            taken = true;
        } else if (number && (source.mysqlType == MYSQL_TYPE_DOUBLE || source.mysqlType == MYSQL_TYPE_FLOAT)
                   && readDouble(raw, &d)) {
            v.setReal(d);
            taken = true;
        }
        break;
    }
    case jet::ColumnType::Single: {
        double d = 0;
        if (number && (source.mysqlType == MYSQL_TYPE_DOUBLE || source.mysqlType == MYSQL_TYPE_FLOAT)
            && readDouble(raw, &d)) {
            // Unchanged as convertValue judges a single: within its precision.
            const float f = float(d);
            if (std::isfinite(f) && (d == 0 ? f == 0 : std::fabs(double(f) - d) <= std::fabs(d) * 1e-7)) {
                v.setReal(double(f));
                taken = true;
            }
        }
        break;
    }
    case jet::ColumnType::Currency:
    case jet::ColumnType::Numeric: {
        const bool decimalSource = source.mysqlType == MYSQL_TYPE_NEWDECIMAL || source.mysqlType == MYSQL_TYPE_DECIMAL;
        std::string text;
        if ((integer || (number && decimalSource))
            && exactDecimal(raw, t.precision, t.scale, c.type == jet::ColumnType::Currency, &text)) {
            v.setDecimal(text);
            taken = true;
        }
        break;
    }
    case jet::ColumnType::DateTime: {
        if (source.kind != SourceKind::Date)
            break;
        const DateParse d = parseServerDate(raw);
        if (d.ok && d.isZero) {
            unset(row, slot);  // a zero date is NULL
            return true;
        }
        if (d.ok && d.year >= 100) {
            v.setDate(jet::fromJetDate(d.days));
            taken = true;
        }
        break;
    }
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo: {
        if (source.kind != SourceKind::Text || !(source.utf8Text || source.asciiText))
            break;
        // Jet 3 keeps code page 1252: only ASCII goes across as it is.
        const qsizetype units = plainTextLength(raw, !(source.utf8Text && m_jet4));
        if (units >= 0 && !(c.type == jet::ColumnType::Text && t.size > 0 && units > t.size)) {
            v.setText(std::string_view(raw.data(), size_t(raw.size())));
            taken = true;
        }
        break;
    }
    default:
        break;
    }
    if (!taken) {
        unset(row, slot);
        return false;
    }
    if (c.isLongValue()) {
        encoded.null = true;
        encoded.bit = false;
        encoded.bytes.clear();
        return true;
    }
    try {
        jet::encodeFieldInto(m_format, c, v, encoded);
    } catch (const std::exception&) {
        // The general path tells why.
        unset(row, slot);
        return false;
    }
    return true;
}

}  // namespace ferrowane

