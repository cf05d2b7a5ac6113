// Between the TSV fields of import/dump and the engine's values, decided by
// the column's type.
#pragma once

#include "jet/table_def.h"
#include "jet/value.h"
#include "tsv.h"

namespace mdbtool {

// Throws TsvError naming what is wrong with the text (the caller adds the
// line and column).
jet::Value fieldToValue(const jet::ColumnDef& column, const TsvField& field);
TsvField valueToField(const jet::ColumnDef& column, const jet::Value& value);

}  // namespace mdbtool
