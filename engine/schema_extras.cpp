#include "engine/schema_extras.h"

#include "engine/access_provider.h"
#include "engine/jet_adapter.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"

#include "jet/auto_number.h"
#include "jet/code_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/properties.h"
#include "jet/relationships.h"
#include "jet/row_codec.h"

#include <QHash>
#include <QSet>
#include <QRegularExpression>

#include <map>
#include <utility>

namespace ferrowane {

namespace {

// Access keeps at most 255 characters in a description or a default value.
constexpr int kMaxPropertyText = 255;

struct SourceColumnInfo {
    QString name;
    QString dataType;          // "int(10) unsigned", "varchar(20)", ...
    bool notNull = false;
    bool hasDefault = false;   // a default other than NULL
    QString defaultText;       // as information_schema gives it
    bool defaultIsExpression = false;
    bool autoIncrement = false;
    QString comment;
};

struct TableInfo {
    RunTable names;
    QString serverName;  // as the server spells it (the run may have upper-cased it)
    QString comment;
    QList<SourceColumnInfo> columns;  // in table order
};

// A name as a literal no quoting can break: its UTF-8 bytes in hex.
QString hexLiteral(const QString& text)
{
    return QStringLiteral("X'") + QString::fromLatin1(text.toUtf8().toHex()) + QLatin1Char('\'');
}

// MariaDB quotes literal defaults in information_schema ('abc', NULL as the
// word NULL); MySQL gives the literal bare and marks expressions
// DEFAULT_GENERATED.
void readDefault(SourceColumnInfo& c, bool isNull, const QString& text, const QString& extra, bool mariaDb)
{
    if (isNull)
        return;
    if (mariaDb) {
        if (text.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0)
            return;
        c.hasDefault = true;
        if (text.size() >= 2 && text.startsWith(QLatin1Char('\'')) && text.endsWith(QLatin1Char('\''))) {
            QString inner = text.mid(1, text.size() - 2);
            inner.replace(QLatin1String("''"), QLatin1String("'"));
            inner.replace(QLatin1String("\\\\"), QLatin1String("\\"));
            c.defaultText = inner;
        } else {
            static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
            c.defaultText = text;
            c.defaultIsExpression = !number.match(text).hasMatch();
        }
        return;
    }
    c.hasDefault = true;
    c.defaultText = text;
    c.defaultIsExpression = extra.contains(QLatin1String("DEFAULT_GENERATED"), Qt::CaseInsensitive);
}

TableInfo readTableInfo(MySqlConnection& source, const RunTable& t, bool mariaDb)
{
    TableInfo info;
    info.names = t;
    // The name as the run gave it, else the one table whose name differs
    // from it in letter case only.
    const QString name = hexLiteral(t.source);
    {
        MySqlResult r = source.query(
            QStringLiteral("SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, COLUMN_DEFAULT, EXTRA, COLUMN_COMMENT, TABLE_NAME "
                           "FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = CONVERT(") +
            name + QStringLiteral(" USING utf8mb4) ORDER BY BINARY TABLE_NAME = ") + name +
            QStringLiteral(" DESC, TABLE_NAME, ORDINAL_POSITION"));
        while (r.next()) {
            if (info.serverName.isEmpty())
                info.serverName = r.text(6);
            else if (r.text(6) != info.serverName)
                break;
            SourceColumnInfo c;
            c.name = r.text(0);
            c.dataType = r.text(1).toLower();
            c.notNull = r.text(2).compare(QLatin1String("NO"), Qt::CaseInsensitive) == 0;
            const QString extra = r.text(4);
            readDefault(c, r.isNull(3), r.text(3), extra, mariaDb);
            c.autoIncrement = extra.contains(QLatin1String("auto_increment"), Qt::CaseInsensitive);
            c.comment = r.text(5);
            info.columns.append(c);
        }
        r.close();
    }
    if (info.serverName.isEmpty())
        return info;
    MySqlResult r = source.query(QStringLiteral("SELECT TABLE_COMMENT FROM information_schema.TABLES WHERE "
                                                "TABLE_SCHEMA = DATABASE() AND BINARY TABLE_NAME = ") +
                                 hexLiteral(info.serverName));
    if (r.next())
        info.comment = r.text(0);
    return info;
}

QString accessTypeName(jet::ColumnType t)
{
    switch (t) {
    case jet::ColumnType::Boolean: return QStringLiteral("Yes/No");
    case jet::ColumnType::Byte: return QStringLiteral("Byte");
    case jet::ColumnType::Integer: return QStringLiteral("Integer");
    case jet::ColumnType::Long: return QStringLiteral("Long Integer");
    case jet::ColumnType::Currency: return QStringLiteral("Currency");
    case jet::ColumnType::Single: return QStringLiteral("Single");
    case jet::ColumnType::Double: return QStringLiteral("Double");
    case jet::ColumnType::DateTime: return QStringLiteral("Date/Time");
    case jet::ColumnType::Binary: return QStringLiteral("Binary");
    case jet::ColumnType::Text: return QStringLiteral("Text");
    case jet::ColumnType::Ole: return QStringLiteral("OLE Object");
    case jet::ColumnType::Memo: return QStringLiteral("Memo");
    case jet::ColumnType::Guid: return QStringLiteral("Replication ID");
    case jet::ColumnType::Numeric: return QStringLiteral("Decimal");
    }
    return QStringLiteral("unknown");
}

bool isNumeric(jet::ColumnType t)
{
    using T = jet::ColumnType;
    return t == T::Byte || t == T::Integer || t == T::Long || t == T::Currency || t == T::Single || t == T::Double ||
           t == T::Numeric;
}

// The Access expression for a MySQL default, or an empty text with the
// reason when Access cannot express it.
QString accessDefault(const SourceColumnInfo& c, jet::ColumnType type, QString& why)
{
    static const QRegularExpression now(QStringLiteral("^(current_timestamp|now|localtimestamp|localtime)(\\(\\d*\\))?$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression today(QStringLiteral("^(curdate|current_date)(\\(\\))?$"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    static const QRegularExpression dateTime(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})( (\\d{2}):(\\d{2}):(\\d{2})(\\.\\d+)?)?$"));
    static const QRegularExpression time(QStringLiteral("^(\\d{2}):(\\d{2}):(\\d{2})(\\.\\d+)?$"));
    const QString text = c.defaultText.trimmed();
    if (type == jet::ColumnType::DateTime) {
        if (now.match(text).hasMatch())
            return QStringLiteral("Now()");
        if (today.match(text).hasMatch())
            return QStringLiteral("Date()");
        if (!c.defaultIsExpression) {
            const auto m = dateTime.match(text);
            if (m.hasMatch() && m.captured(1).toInt() >= 100 && m.captured(2).toInt() >= 1 &&
                m.captured(3).toInt() >= 1) {
                QString out = m.captured(1) + QLatin1Char('-') + m.captured(2) + QLatin1Char('-') + m.captured(3);
                if (!m.captured(4).isEmpty() && (m.captured(5) != QLatin1String("00") || m.captured(6) != QLatin1String("00") ||
                                                 m.captured(7) != QLatin1String("00")))
                    out += QLatin1Char(' ') + m.captured(5) + QLatin1Char(':') + m.captured(6) + QLatin1Char(':') +
                           m.captured(7);
                return QLatin1Char('#') + out + QLatin1Char('#');
            }
            const auto t = time.match(text);
            if (t.hasMatch() && t.captured(1).toInt() < 24)
                return QLatin1Char('#') + t.captured(1) + QLatin1Char(':') + t.captured(2) + QLatin1Char(':') +
                       t.captured(3) + QLatin1Char('#');
        }
        why = QStringLiteral("is not a date Access can hold");
        return {};
    }
    if (c.defaultIsExpression) {
        why = QStringLiteral("is an expression");
        return {};
    }
    if (type == jet::ColumnType::Boolean) {
        if (number.match(text).hasMatch())
            return text.toDouble() != 0 ? QStringLiteral("Yes") : QStringLiteral("No");
        why = QStringLiteral("is not a number");
        return {};
    }
    if (isNumeric(type)) {
        if (!number.match(text).hasMatch()) {
            why = QStringLiteral("is not a number");
            return {};
        }
        return text.startsWith(QLatin1Char('+')) ? text.mid(1) : text;
    }
    if (type == jet::ColumnType::Text || type == jet::ColumnType::Memo) {
        QString quoted = c.defaultText;
        quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
        quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
        if (quoted.size() > kMaxPropertyText) {
            why = QStringLiteral("is longer than Access keeps");
            return {};
        }
        return quoted;
    }
    why = QStringLiteral("has no form in an Access ") + accessTypeName(type) + QStringLiteral(" field");
    return {};
}

// Text an Access 97 file can hold: other characters become "?".
QString storable(const QString& text, bool jet4, bool& changed)
{
    if (jet4)
        return text;
    QString out;
    for (char32_t c : text.toUcs4()) {
        if (jet::cp1252::canStore(c)) {
            out += QString::fromUcs4(&c, 1);
        } else {
            out += QLatin1Char('?');
            changed = true;
        }
    }
    return out;
}

jet::Property textProperty(const char* name, const QString& text, bool ddl)
{
    jet::Property p;
    p.name = name;
    p.type = jet::ColumnType::Memo;
    p.value = jet::Value::text(text.toStdString());
    p.ddl = ddl;
    return p;
}

jet::Property flagProperty(const char* name, bool on)
{
    jet::Property p;
    p.name = name;
    p.type = jet::ColumnType::Boolean;
    p.value = jet::Value::boolean(on);
    p.ddl = true;
    return p;
}

class SchemaStep {
public:
    SchemaStep(MySqlConnection& source, AccessConnection& target, ProgressLog& log, const ConversionSettings& s)
        : m_source(source), m_target(target), m_log(log), m_settings(s)
    {
    }

    SchemaExtrasResult run(const QList<RunTable>& tables);

private:
    void line(const QString& text)
    {
        m_log.appendLine(text);
        m_result.logged = true;
    }
    QString where(const TableInfo& t, const QString& column = QString()) const
    {
        return column.isEmpty() ? t.names.target : t.names.target + QLatin1Char('.') + column;
    }
    // The column's description, cut and made storable, logged when changed.
    QString description(const TableInfo& t, const QString& column, const QString& comment);
    std::vector<jet::PropertyMap> tableProperties(const TableInfo& t, jet::Table& table);
    void autoNumbers(const TableInfo& t, jet::Table& table);
    void relationships(const QList<TableInfo>& infos);

    MySqlConnection& m_source;
    AccessConnection& m_target;
    ProgressLog& m_log;
    const ConversionSettings& m_settings;
    SchemaExtrasResult m_result;
};

QString SchemaStep::description(const TableInfo& t, const QString& column, const QString& comment)
{
    QString text = comment;
    if (text.size() > kMaxPropertyText) {
        text = text.left(kMaxPropertyText);
        if (text.back().isHighSurrogate())
            text.chop(1);
        line(where(t, column) + QStringLiteral(": the comment is cut to %1 characters, the most an Access description holds")
                                    .arg(kMaxPropertyText));
    }
    bool changed = false;
    text = storable(text, m_target.format() == AccessFormat::Jet4, changed);
    if (changed)
        line(where(t, column) + QStringLiteral(": characters of the comment an Access 97 file cannot hold became \"?\""));
    return text;
}

std::vector<jet::PropertyMap> SchemaStep::tableProperties(const TableInfo& t, jet::Table& table)
{
    std::vector<jet::PropertyMap> maps;
    const auto columns = table.def().columnsInOrder();
    jet::PropertyMap own;
    if (m_settings.descriptions && !t.comment.isEmpty())
        own.properties.push_back(textProperty(jet::kPropDescription, description(t, QString(), t.comment), false));
    maps.push_back(own);

    // Nulls the conversion left in NOT NULL columns (a zero date, say)
    // would break a Required rule: those columns stay optional.
    std::vector<bool> hasNull(table.def().columns.size(), false);
    if (m_settings.required)
        table.scanFields([&](const std::vector<jet::RawField>& raw, uint32_t) {
            for (size_t i = 0; i < raw.size(); ++i)
                if (raw[i].null && table.def().columns[i].type != jet::ColumnType::Boolean)
                    hasNull[i] = true;
            return true;
        });

    // Which NOT NULL text columns hold an empty text: one pass on the server.
    QList<int> textColumns;
    QStringList probes;
    for (int i = 0; i < t.columns.size(); ++i)
        if (m_settings.required && t.columns[i].notNull && columns[size_t(i)]->isText()) {
            textColumns.append(i);
            probes.append(QStringLiteral("MAX(CHAR_LENGTH(") + quoteIdentifier(t.columns[i].name) +
                          QStringLiteral(") = 0)"));
        }
    QSet<int> holdsEmpty;
    if (!probes.isEmpty()) {
        MySqlResult r = m_source.query(QStringLiteral("SELECT ") + probes.join(QStringLiteral(", ")) +
                                       QStringLiteral(" FROM ") + quoteIdentifier(t.serverName));
        if (r.next())
            for (int k = 0; k < textColumns.size(); ++k)
                if (!r.isNull(k) && r.text(k) == QLatin1String("1"))
                    holdsEmpty.insert(textColumns[k]);
        r.close();
    }

    for (int i = 0; i < t.columns.size(); ++i) {
        const SourceColumnInfo& sc = t.columns[i];
        const jet::ColumnDef& c = *columns[size_t(i)];
        const size_t slot = size_t(&c - table.def().columns.data());
        const QString name = QString::fromStdString(c.name);
        jet::PropertyMap m;
        m.name = c.name;
        // An AutoNumber is never empty; Access shows no Required rule for it.
        if (m_settings.required && sc.notNull && c.type != jet::ColumnType::Boolean && !c.isAutoNumber()) {
            if (hasNull[slot]) {
                line(where(t, name) + QStringLiteral(": NOT NULL, but some values became empty (null) in Access; "
                                                     "the field is not required"));
            } else {
                m.properties.push_back(flagProperty(jet::kPropRequired, true));
                if (c.isText())
                    m.properties.push_back(flagProperty(jet::kPropAllowZeroLength, holdsEmpty.contains(i)));
            }
        }
        if (m_settings.defaults && sc.hasDefault && !sc.autoIncrement) {
            QString why;
            const QString expression = accessDefault(sc, c.type, why);
            bool changed = false;
            const QString stored = storable(expression, m_target.format() == AccessFormat::Jet4, changed);
            if (expression.isEmpty())
                line(where(t, name) + QStringLiteral(": the default ") + sc.defaultText + QLatin1Char(' ') + why +
                     QStringLiteral("; not carried over"));
            else if (changed)
                line(where(t, name) + QStringLiteral(": the default has characters an Access 97 file cannot hold; "
                                                     "not carried over"));
            else
                m.properties.push_back(textProperty(jet::kPropDefaultValue, stored, true));
        }
        if (m_settings.descriptions && !sc.comment.isEmpty())
            m.properties.push_back(textProperty(jet::kPropDescription, description(t, name, sc.comment), false));
        if (!m.properties.empty())
            maps.push_back(std::move(m));
    }
    return maps;
}

void SchemaStep::autoNumbers(const TableInfo& t, jet::Table& table)
{
    const auto columns = table.def().columnsInOrder();
    for (int i = 0; i < t.columns.size(); ++i) {
        if (!t.columns[i].autoIncrement)
            continue;
        const jet::ColumnDef& c = *columns[size_t(i)];
        const QString name = QString::fromStdString(c.name);
        if (c.type != jet::ColumnType::Long) {
            line(where(t, name) + QStringLiteral(": AUTO_INCREMENT ") + t.columns[i].dataType +
                 QStringLiteral(" stays ") + accessTypeName(c.type) +
                 QStringLiteral(" as the type map makes it: only a Long Integer can be an AutoNumber"));
            continue;
        }
        try {
            jet::makeAutoNumber(m_target.database(), table.name(), c.name);
        } catch (const jet::Error& e) {
            line(where(t, name) + QStringLiteral(": not an AutoNumber: ") + QString::fromUtf8(e.what()));
            ++m_result.failures;
        }
    }
}

void SchemaStep::relationships(const QList<TableInfo>& infos)
{
    QHash<QString, const TableInfo*> bySource;
    for (const TableInfo& t : infos)
        bySource.insert(t.serverName, &t);
    struct Key {
        QString table, constraint;
        bool operator<(const Key& o) const { return std::pair(table, constraint) < std::pair(o.table, o.constraint); }
    };
    struct Foreign {
        QString referenced;
        QStringList columns, referencedColumns;
        QString updateRule, deleteRule;
    };
    std::map<Key, Foreign> keys;
    std::vector<Key> order;
    {
        MySqlResult r = m_source.query(QStringLiteral(
            "SELECT k.TABLE_NAME, k.CONSTRAINT_NAME, k.COLUMN_NAME, k.REFERENCED_TABLE_NAME, k.REFERENCED_COLUMN_NAME, "
            "c.UPDATE_RULE, c.DELETE_RULE FROM information_schema.KEY_COLUMN_USAGE k "
            "JOIN information_schema.REFERENTIAL_CONSTRAINTS c ON c.CONSTRAINT_SCHEMA = k.CONSTRAINT_SCHEMA "
            "AND c.CONSTRAINT_NAME = k.CONSTRAINT_NAME AND c.TABLE_NAME = k.TABLE_NAME "
            "WHERE k.TABLE_SCHEMA = DATABASE() AND k.REFERENCED_TABLE_SCHEMA = DATABASE() "
            "AND k.REFERENCED_TABLE_NAME IS NOT NULL ORDER BY k.TABLE_NAME, k.CONSTRAINT_NAME, k.ORDINAL_POSITION"));
        while (r.next()) {
            Key k{r.text(0), r.text(1)};
            auto [it, added] = keys.try_emplace(k);
            if (added) {
                order.push_back(k);
                it->second.referenced = r.text(3);
                it->second.updateRule = r.text(5).toUpper();
                it->second.deleteRule = r.text(6).toUpper();
            }
            it->second.columns.append(r.text(2));
            it->second.referencedColumns.append(r.text(4));
        }
    }
    jet::Database& db = m_target.database();
    // Access column names of a table's source columns, by position.
    auto accessColumns = [&](const TableInfo& t, const QStringList& names, QStringList& out) {
        const auto columns = db.table(t.names.target.toStdString()).def().columnsInOrder();
        for (const QString& n : names) {
            int pos = -1;
            for (int i = 0; i < t.columns.size(); ++i)
                if (t.columns[i].name == n)
                    pos = i;
            if (pos < 0 || size_t(pos) >= columns.size())
                return false;
            out.append(QString::fromStdString(columns[size_t(pos)]->name));
        }
        return true;
    };
    // Keys in run order of their tables.
    std::vector<Key> runOrder;
    for (const TableInfo& t : infos)
        for (const Key& k : order)
            if (k.table == t.serverName && bySource.contains(keys[k].referenced))
                runOrder.push_back(k);
    if (m_settings.skipindex && !runOrder.empty()) {
        // An enforced relationship stands on the tables' keys.
        line(QStringLiteral("Foreign keys are not made relationships: the keys they need are skipped"));
        return;
    }
    for (const Key& k : runOrder) {
        const Foreign& fk = keys[k];
        const TableInfo* referring = bySource.value(k.table);
        const TableInfo* referenced = bySource.value(fk.referenced);
        if (!referring || !referenced)
            continue;  // the other table is not in this run
        jet::Relationship r;
        QStringList fkCols, refCols;
        const QString label = referring->names.target + QStringLiteral(" -> ") + referenced->names.target;
        if (!accessColumns(*referring, fk.columns, fkCols) || !accessColumns(*referenced, fk.referencedColumns, refCols)) {
            line(QStringLiteral("Relationship ") + k.constraint + QStringLiteral(" (") + label +
                 QStringLiteral(") could not be made: a column is missing in Access"));
            ++m_result.failures;
            continue;
        }
        r.referringTable = referring->names.target.toStdString();
        r.referencedTable = referenced->names.target.toStdString();
        for (const QString& c : fkCols)
            r.referringColumns.push_back(c.toStdString());
        for (const QString& c : refCols)
            r.referencedColumns.push_back(c.toStdString());
        r.cascadeUpdates = fk.updateRule == QLatin1String("CASCADE");
        r.cascadeDeletes = fk.deleteRule == QLatin1String("CASCADE");
        try {
            r.name = jet::relationshipName(db, r.referencedTable, r.referringTable);
            const QString name = QString::fromStdString(r.name);
            for (const auto& [rule, what] : {std::pair(fk.updateRule, QStringLiteral("UPDATE")),
                                             std::pair(fk.deleteRule, QStringLiteral("DELETE"))})
                if (rule == QLatin1String("SET NULL") || rule == QLatin1String("SET DEFAULT"))
                    line(QStringLiteral("Relationship ") + name + QStringLiteral(": ON ") + what + QLatin1Char(' ') +
                         rule + QStringLiteral(" has no Access equivalent; enforced without it"));
            line(QStringLiteral("Create relationship ") + name + QStringLiteral("... "));
            jet::createRelationship(db, r);
            m_log.replaceLastLine(QStringLiteral("Create relationship ") + name + QStringLiteral("...Done"));
            ++m_result.relationships;
        } catch (const jet::Error& e) {
            line(QStringLiteral("Relationship ") + k.constraint + QStringLiteral(" (") + label +
                 QStringLiteral(") could not be made: ") + QString::fromUtf8(e.what()));
            ++m_result.failures;
        }
    }
}

SchemaExtrasResult SchemaStep::run(const QList<RunTable>& tables)
{
    bool mariaDb = false;
    {
        MySqlResult r = m_source.query(QStringLiteral("SELECT VERSION()"));
        if (r.next())
            mariaDb = r.text(0).contains(QLatin1String("MariaDB"), Qt::CaseInsensitive);
    }
    QList<TableInfo> infos;
    for (const RunTable& t : tables) {
        TableInfo info = readTableInfo(m_source, t, mariaDb);
        jet::Database& db = m_target.database();
        if (!db.hasTable(t.target.toStdString()))
            continue;
        jet::Table& table = db.table(t.target.toStdString());
        if (size_t(info.columns.size()) != table.def().columns.size()) {
            line(t.target + QStringLiteral(": the server's column list does not match the Access table; "
                                           "its AutoNumber, rules, defaults and descriptions are not carried over"));
            ++m_result.failures;
            continue;
        }
        infos.append(info);
    }
    const bool properties = m_settings.required || m_settings.defaults || m_settings.descriptions;
    std::vector<std::pair<std::string, std::vector<jet::PropertyMap>>> blocks;
    for (const TableInfo& t : infos) {
        jet::Table& table = m_target.database().table(t.names.target.toStdString());
        try {
            if (m_settings.autonumber)
                autoNumbers(t, table);
            if (properties)
                blocks.emplace_back(table.name(), tableProperties(t, table));
        } catch (const jet::Error& e) {
            line(t.names.target + QStringLiteral(": ") + QString::fromUtf8(e.what()));
            ++m_result.failures;
        }
    }
    if (!blocks.empty()) {
        try {
            jet::writeTableProperties(m_target.database(), blocks);
        } catch (const jet::Error& e) {
            line(QStringLiteral("The fields' rules, defaults and descriptions could not be written: ") +
                 QString::fromUtf8(e.what()));
            ++m_result.failures;
        }
    }
    if (m_settings.relationships)
        relationships(infos);
    return m_result;
}

}  // namespace

bool wantsSchemaExtras(const ConversionSettings& s)
{
    return s.autonumber || s.required || s.defaults || s.descriptions || s.relationships;
}

SchemaExtrasResult applySchemaExtras(MySqlConnection& source, AccessConnection& target, ProgressLog& log,
                                     const ConversionSettings& settings, const QList<RunTable>& tables)
{
    if (!wantsSchemaExtras(settings) || tables.isEmpty())
        return {};
    SchemaStep step(source, target, log, settings);
    return step.run(tables);
}

}  // namespace ferrowane
