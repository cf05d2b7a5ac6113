// Filling rows of the target table away from the row set: converted values,
// or the server's bytes as they stand when the column plan allows it.
#include "engine/field_encoder.h"

#include "engine/jet_adapter.h"
#include "engine/value_convert.h"

#include "jet/value.h"

#include <charconv>
#include <cmath>
#include <string>

namespace ferrowane {

namespace {

// A double as the server writes it, read whole; false for anything else.
bool readDouble(QByteArrayView raw, double* out)
{
    const char* end = raw.data() + raw.size();
    const auto r = std::from_chars(raw.data(), end, *out);
    return r.ec == std::errc() && r.ptr == end && raw.size() > 0 && std::isfinite(*out);
}

}  // namespace

FieldEncoder::FieldEncoder(AccessDataset& dataset)
{
    dataset.checkAppendable();
    m_rows = dataset.m_encoder;
    m_format = dataset.format();
    for (const AccessField& f : dataset.m_fields)
        m_fields.push_back(Slot{f.column, f.name, f.jetType, size_t(f.position)});
}

void FieldEncoder::clear(PreparedRow& row) const
{
    m_rows.clear(row);
}

QString FieldEncoder::set(PreparedRow& row, int field, const QVariant& value) const
{
    if (field < 0 || field >= fieldCount())
        throw AccessError(QStringLiteral("Item cannot be found in the collection corresponding to the "
                                         "requested name or ordinal."));
    const Slot& slot = m_fields[size_t(field)];
    m_rows.unset(row, slot.position);
    QString changed;
    row.values[slot.position] =
        accessValue(m_rows.column(slot.position), slot.name, m_format == AccessFormat::Jet4, value, &changed);
    onEngine([&] { m_rows.encode(row, slot.position); });
    return changed;
}

bool FieldEncoder::setRaw(PreparedRow& row, int field, const RawSource& source, QByteArrayView raw) const
{
    return setRaw(row, field, fastReadOf(source, m_fields[size_t(field)].jetType, m_format), raw);
}

bool FieldEncoder::setRaw(PreparedRow& row, int field, FastRead fast, QByteArrayView raw) const
{
    const Slot& slot = m_fields[size_t(field)];
    const size_t pos = slot.position;
    if (raw.isNull()) {
        m_rows.unset(row, pos);
        return true;
    }
    const TargetColumn& t = slot.column;
    jet::Value& v = row.values[pos];
    bool taken = false;
    switch (fast) {
    case FastRead::None:
        break;
    case FastRead::Whole:
    case FastRead::WholeAsBoolean: {
        qint64 x = 0;
        if (exactWhole(raw, t.minValue, t.maxValue, &x)) {
            if (fast == FastRead::WholeAsBoolean)
                v.setBoolean(x != 0);
            else
                v.setInteger(x);
            taken = true;
        }
        break;
    }
    case FastRead::WholeAsDouble: {
        constexpr qint64 exactLimit = qint64(1) << 53;
        qint64 x = 0;
        if (exactWhole(raw, -exactLimit, exactLimit, &x)) {
            v.setReal(double(x));
            taken = true;
        }
        break;
    }
    case FastRead::Floating: {
        double d = 0;
        if (readDouble(raw, &d)) {
            v.setReal(d);
            taken = true;
        }
        break;
    }
    case FastRead::FloatingAsSingle: {
        double d = 0;
        if (readDouble(raw, &d)) {
            // Unchanged as convertValue judges a single: within its precision.
            const float f = float(d);
            if (std::isfinite(f) && (d == 0 ? f == 0 : std::fabs(double(f) - d) <= std::fabs(d) * 1e-7)) {
                v.setReal(double(f));
                taken = true;
            }
        }
        break;
    }
    case FastRead::DecimalDigits: {
        std::string text;
        if (exactDecimal(raw, t.precision, t.scale, t.kind == TargetKind::Currency, &text)) {
            v.setDecimal(text);
            taken = true;
        }
        break;
    }
    case FastRead::Date: {
        // A zero date takes the general path, which counts it.
        const DateParse d = parseServerDate(raw);
        if (d.ok && !d.isZero && d.year >= 100) {
            v.setDate(jet::fromJetDate(d.days));
            taken = true;
        }
        break;
    }
    case FastRead::Utf8Text:
    case FastRead::AsciiText: {
        const qsizetype units = plainTextLength(raw, fast == FastRead::AsciiText);
        if (units >= 0 && !(t.kind == TargetKind::Text && t.size > 0 && units > t.size)) {
            v.setText(std::string_view(raw.data(), size_t(raw.size())));
            taken = true;
        }
        break;
    }
    }
    if (!taken) {
        m_rows.unset(row, pos);
        return false;
    }
    // A value the field cannot take after all: the general path tells why.
    return m_rows.tryEncode(row, pos);
}

}  // namespace ferrowane
