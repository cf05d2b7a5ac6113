// MySQL geometry values as the text the server's ST_AsText gives, for the
// Memo columns spatial types become.
#pragma once

#include <QByteArray>
#include <QString>

namespace ferrowane {

// The well-known text of a MySQL geometry value (4-byte SRID + WKB), written
// as the server's ST_AsText writes it. Empty text with ok false when the
// bytes are not a geometry.
QString geometryToText(const QByteArray& value, bool* ok);

// A number as the server's spatial functions print it: shortest digits that
// give the double back, exponent form from 1e15 up and below 1e-15.
QString spatialNumber(double value);

}  // namespace ferrowane
