// The one text form that `import` reads and `dump` writes: no header line,
// one line per row, fields in table order separated by tabs, \N for NULL,
// text with \t \n \r and \\ escaped, bytes as hex, dates as
// "yyyy-MM-dd HH:mm:ss", yes/no as 1/0, GUIDs as {...}, numbers in plain
// decimal. This file holds the text side only; which value a field becomes
// depends on the column and is decided by the caller.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mdbtool {

struct TsvError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using TsvField = std::optional<std::string>;  // nullopt is NULL

// ---- lines --------------------------------------------------------------------

std::string escapeText(std::string_view text);
// One line without its line end: fields joined by tabs, NULL as \N.
std::string formatLine(const std::vector<TsvField>& fields);
// Splits a line (without its line end) into fields and undoes the escapes.
// A field that is exactly \N is NULL. Throws TsvError for an unknown escape
// or a lone backslash, naming the field.
std::vector<TsvField> parseLine(std::string_view line);

// Reads lines from a stream: "\n" ends a line, a "\r" right before it is
// dropped (files edited on Windows); the last line needs no line end.
class TsvReader {
public:
    explicit TsvReader(std::istream& in) : in_(in) {}
    // False at the end of the input. Throws TsvError naming the line.
    bool next(std::vector<TsvField>& fields);
    size_t lineNumber() const { return line_; }

private:
    std::istream& in_;
    size_t line_ = 0;
    std::string buffer_;
};

// ---- values ---------------------------------------------------------------------

// Upper-case hex; parsing takes either case and no separators.
std::string toHex(std::string_view bytes);
std::string fromHex(std::string_view hex);

// Whole numbers within [min, max]; optional sign, digits only.
int64_t parseInteger(std::string_view text, int64_t min, int64_t max);

// Exact decimal text: optional sign, digits, optional point and digits
// (".5" and "5." are accepted). Returns it as "-12.5" / "0.5" / "12":
// no plus sign, no leading zeros, no trailing point. Throws TsvError.
std::string normalizeDecimal(std::string_view text);
// "12.5" with scale 4 -> "12.5000"; more digits than the scale is an error.
std::string decimalWithScale(std::string_view text, int scale);

// Doubles and singles: the shortest plain-decimal text that reads back to the
// same number ("0.1", "-2", "1e300" as all 301 digits); "NaN", "Infinity",
// "-Infinity" for values that are not numbers. Parsing also takes exponents.
std::string formatDouble(double value);
std::string formatSingle(float value);
double parseDouble(std::string_view text);
float parseSingle(std::string_view text);  // must be within the range of a single

struct TsvDateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    bool operator==(const TsvDateTime&) const = default;
};
// "yyyy-MM-dd HH:mm:ss" (or "yyyy-MM-dd" for midnight), years 100 to 9999
// as Access allows them, a real calendar day. Throws TsvError.
TsvDateTime parseDateTime(std::string_view text);
std::string formatDateTime(const TsvDateTime& dt);

bool parseBool(std::string_view text);  // "1" or "0"

// "{01234567-89AB-CDEF-0123-456789ABCDEF}", either case, braces optional;
// returns the braced upper-case form.
std::string normalizeGuid(std::string_view text);

}  // namespace mdbtool
