#include "engine/access_provider.h"

#include "jet/database.h"
#include "jet/pager.h"
#include "jet/error.h"
#include "jet/field_codec.h"
#include "jet/statement.h"
#include "jet/table.h"
#include "jet/value.h"

#include <QFileInfo>

#include <cmath>

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

AccessError::AccessError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}

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

// Whether Windows-1252 has the character.
bool inWindows1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return true;
    switch (c) {
    case 0x20AC: case 0x201A: case 0x0192: case 0x201E: case 0x2026: case 0x2020: case 0x2021:
    case 0x02C6: case 0x2030: case 0x0160: case 0x2039: case 0x0152: case 0x017D: case 0x2018:
    case 0x2019: case 0x201C: case 0x201D: case 0x2022: case 0x2013: case 0x2014: case 0x02DC:
    case 0x2122: case 0x0161: case 0x203A: case 0x0153: case 0x017E: case 0x0178:
    case 0x81: case 0x8D: case 0x8F: case 0x90: case 0x9D:
        return true;
    default:
        return false;
    }
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

QString AccessDataset::setField(int index, const QVariant& value)
{
    if (!m_appending)
        throw AccessError(QStringLiteral("Operation is not allowed in this context."));
    if (index < 0 || index >= m_fields.size())
        throw AccessError(QStringLiteral("Item cannot be found in the collection corresponding to the "
                                         "requested name or ordinal."));
    const AccessField& f = m_fields.at(index);
    const jet::ColumnDef& c = m_table->def().columns[size_t(f.position)];
    const bool jet4 = m_connection.format() == AccessFormat::Jet4;
    QString changed;
    jet::Value v;
    if (value.isNull()) {
        v = jet::Value::null();
    } else {
        switch (c.type) {
        case jet::ColumnType::Boolean:
            v = jet::Value::boolean(value.toLongLong() != 0);
            break;
        case jet::ColumnType::Byte:
        case jet::ColumnType::Integer:
        case jet::ColumnType::Long:
            v = jet::Value::integer(value.toLongLong());
            break;
        case jet::ColumnType::Single:
        case jet::ColumnType::Double:
            v = jet::Value::real(value.toDouble());
            break;
        case jet::ColumnType::Currency:
        case jet::ColumnType::Numeric:
            v = jet::Value::decimal(value.toString().toStdString());
            break;
        case jet::ColumnType::DateTime: {
            const double d = value.toDouble();
            if (!std::isfinite(d))
                throw AccessError(QStringLiteral("The value for column '%1' is not a date").arg(f.name));
            v = jet::Value::date(jet::fromJetDate(d));
            break;
        }
        case jet::ColumnType::Text:
        case jet::ColumnType::Memo: {
            QString text = value.toString();
            if (!jet4) {
                // A Jet 3 file holds its text in code page 1252.
                int replaced = 0;
                for (QChar& ch : text) {
                    if (!inWindows1252(ch.unicode())) {
                        ch = QLatin1Char('?');
                        ++replaced;
                    }
                }
                // A surrogate pair became two "?"; keep one.
                if (replaced > 0) {
                    QString fixed;
                    const QString original = value.toString();
                    for (qsizetype i = 0; i < original.size(); ++i) {
                        if (original.at(i).isHighSurrogate() && i + 1 < original.size()
                            && original.at(i + 1).isLowSurrogate()) {
                            fixed += QLatin1Char('?');
                            ++i;
                        } else {
                            fixed += inWindows1252(original.at(i).unicode()) ? original.at(i) : QLatin1Char('?');
                        }
                    }
                    text = fixed;
                    changed = QStringLiteral("characters that code page 1252 lacks became \"?\"");
                }
            }
            v = jet::Value::text(text.toStdString());
            break;
        }
        case jet::ColumnType::Binary:
        case jet::ColumnType::Ole: {
            const QByteArray b = value.toByteArray();
            v = jet::Value::bytes(std::string(b.constData(), size_t(b.size())));
            break;
        }
        case jet::ColumnType::Guid:
            v = jet::Value::guid(value.toString().toStdString());
            break;
        }
        // Fields of a row are checked here, so that a refused value is told
        // apart from a refused row.
        if (!c.isLongValue()) {
            try {
                jet::encodeField(m_connection.database().format(), c, v);
            } catch (const std::exception& e) {
                rethrow(e);
            }
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

}  // namespace ferrowane
