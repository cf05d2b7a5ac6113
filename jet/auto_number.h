// AutoNumber columns made from columns that already hold rows: the Long
// column's counter flag, and the table's counter moved past the largest
// value stored, so that the next row drawn gets max + 1.
#pragma once

#include <string>

namespace jet {

class Database;

// Makes `column` of `table` the table's AutoNumber. Throws Error when the
// column is not a Long Integer, the table already has another AutoNumber,
// or a stored value is not a positive number below the counter's end
// (nulls and values below 1 cannot be drawn by Access's counter, so they are
// refused). One statement.
void makeAutoNumber(Database& db, const std::string& table, const std::string& column);

}  // namespace jet
