// The fast path of the row transfer: rows of the target table filled field by
// field away from the row set, from converted values or straight from the
// server's bytes when a value goes across unchanged that way.
#pragma once

#include "engine/access_provider.h"
#include "engine/column_plan.h"

#include "jet/prepared_row.h"

#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <vector>

namespace ferrowane {

using PreparedRow = jet::PreparedRow;

// What setField does, for the fields of a row set as it was when the encoder
// was made, on a copy of everything it needs: an encoder may be used on
// another thread while the row set posts rows.
class FieldEncoder {
public:
    FieldEncoder() = default;
    explicit FieldEncoder(AccessDataset& dataset);

    int fieldCount() const { return int(m_fields.size()); }
    const TargetColumn& column(int field) const { return m_fields[size_t(field)].column; }

    // Sizes the row for the table, every field unset.
    void clear(PreparedRow& row) const;
    // Like AccessDataset::setField: the value as convertValue gives it.
    // Throws AccessError (the field then stays unset); returns what was
    // changed to store it, or an empty text.
    QString set(PreparedRow& row, int field, const QVariant& value) const;
    // The value straight from the server's bytes (raw; a null view is NULL)
    // when it goes across unchanged that way; false when it needs the
    // general path (convertValue, then set), the field then unset. fast is
    // the column plan's choice for the field.
    bool setRaw(PreparedRow& row, int field, FastRead fast, QByteArrayView raw) const;
    // The same, choosing as the column plan does for that source.
    bool setRaw(PreparedRow& row, int field, const RawSource& source, QByteArrayView raw) const;

private:
    struct Slot {
        TargetColumn column;
        QString name;
        int jetType = 0;
        size_t position = 0;
    };
    jet::RowEncoder m_rows;
    AccessFormat m_format = AccessFormat::Jet3;
    std::vector<Slot> m_fields;
};

}  // namespace ferrowane
