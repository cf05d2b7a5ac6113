// `tables --schema`: each user table with its description, its columns
// (type, size, AutoNumber, required, allow zero length, default value,
// description), its indexes, then the file's relationships. One item a line.
#pragma once

#include <iosfwd>

namespace jet {
class Database;
}

namespace mdbtool {

void printSchema(jet::Database& db, std::ostream& out);

}  // namespace mdbtool
