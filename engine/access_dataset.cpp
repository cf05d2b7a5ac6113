// The row set on a target table: opened by a probe or a "select *" query,
// its fields, and rows appended one field at a time.
#include "engine/access_provider.h"

#include "engine/jet_adapter.h"

#include "jet/database.h"
#include "jet/row_set.h"
#include "jet/statement.h"

#include <utility>

namespace ferrowane {

namespace {

const QString kClosed = QStringLiteral("Operation is not allowed when the object is closed.");

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
    jet::Database& db = m_connection.database();
    std::unique_ptr<jet::RowSet> rows = onEngine([&] { return jet::openQuery(db, utf8(m_commandText)); });
    QList<AccessField> fields;
    if (const jet::TableDef* def = rows->definition()) {
        const bool jet4 = db.version() == jet::Version::Jet4;
        for (const jet::ColumnDef* c : def->columnsInOrder()) {
            AccessField f;
            f.name = QString::fromStdString(c->name);
            f.column = targetColumnOf(*c, jet4);
            f.jetType = int(c->type);
            f.position = int(c - def->columns.data());
            fields.append(f);
        }
        m_encoder = rows->encoder();
    }
    m_rows = std::move(rows);
    m_fields = fields;
    m_open = true;
    m_readOnly = tableName().startsWith(QLatin1String("MSys"), Qt::CaseInsensitive);
}

void AccessDataset::close()
{
    m_rows.reset();
    m_open = false;
    m_readOnly = false;
    m_fields.clear();
    m_encoder = jet::RowEncoder();
    m_row = jet::PreparedRow();
    m_appending = false;
}

QString AccessDataset::tableName() const
{
    return m_rows ? QString::fromStdString(m_rows->tableName()) : QString();
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

void AccessDataset::checkAppendable() const
{
    if (!m_rows || !m_rows->definition())
        throw AccessError(kClosed);
    if (m_readOnly)
        throw AccessError(QStringLiteral("Cannot update '%1'; database or object is read-only.").arg(tableName()));
}

void AccessDataset::append()
{
    checkAppendable();
    m_encoder.clear(m_row);
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
    const size_t pos = size_t(f.position);
    QString changed;
    jet::Value v = accessValue(m_encoder.column(pos), f.name, format() == AccessFormat::Jet4, value, &changed);
    // Fields of a row are checked here, so that a refused value is told
    // apart from a refused row; a refused value leaves the field as it was.
    jet::Value previous = std::exchange(m_row.values[pos], std::move(v));
    jet::Field previousField = m_row.fields[pos];
    try {
        onEngine([&] { m_encoder.encode(m_row, pos); });
    } catch (...) {
        m_row.values[pos] = std::move(previous);
        m_row.fields[pos] = std::move(previousField);
        throw;
    }
    return changed;
}

void AccessDataset::post()
{
    if (!m_appending)
        throw AccessError(QStringLiteral("Operation is not allowed in this context."));
    m_appending = false;
    onEngine([&] { m_rows->post(m_row); });
}

void AccessDataset::postPrepared(jet::PreparedRow& row)
{
    checkAppendable();
    m_appending = false;
    onEngine([&] { m_rows->post(row); });
}

}  // namespace ferrowane
