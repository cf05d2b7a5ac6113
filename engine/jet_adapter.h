// Where the provider meets our Jet engine: the engine's column types as the
// conversion sees them, the conversion's values as the engine's, and the
// engine's failures as AccessErrors with their messages unchanged.
#pragma once

#include "engine/access_provider.h"
#include "engine/column_plan.h"

#include "jet/table_def.h"
#include "jet/value.h"

#include <QString>
#include <QVariant>

#include <exception>
#include <string>

namespace ferrowane {

// What values a column of the file takes.
TargetColumn targetColumnOf(const jet::ColumnDef& c, bool jet4);

// The engine's value for a field, from a value as convertValue gives it.
// Throws AccessError; changed tells what was altered to store it (characters
// a Jet 3 file cannot hold).
jet::Value accessValue(const jet::ColumnDef& c, const QString& fieldName, bool jet4, const QVariant& value,
                       QString* changed);

// Runs fn; a failure of the engine leaves as an AccessError with its message,
// errors of the conversion itself as they are.
template <class Fn>
decltype(auto) onEngine(Fn&& fn)
{
    try {
        return fn();
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        throw AccessError(QString::fromUtf8(e.what()));
    }
}

inline std::string utf8(const QString& s)
{
    return s.toStdString();
}

}  // namespace ferrowane
