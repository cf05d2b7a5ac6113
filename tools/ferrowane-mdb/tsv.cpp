#include "tsv.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <cmath>
#include <cstring>
#include <string>

namespace mdbtool {

namespace {

std::string quoted(std::string_view s)
{
    constexpr size_t kShown = 40;
    std::string out = "\"";
    out += s.substr(0, kShown);
    if (s.size() > kShown)
        out += "...";
    out += "\"";
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool allDigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Fixed-width unsigned field of a date ("2024", "07").
int digitsField(std::string_view s, size_t pos, size_t width, std::string_view whole)
{
    std::string_view part = s.substr(pos, width);
    if (part.size() != width || !allDigits(part))
        throw TsvError("not a date and time (yyyy-MM-dd HH:mm:ss): " + quoted(whole));
    int v = 0;
    for (char c : part)
        v = v * 10 + (c - '0');
    return v;
}

}  // namespace

// ---- lines --------------------------------------------------------------------

std::string escapeText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

std::string formatLine(const std::vector<TsvField>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += '\t';
        line += fields[i] ? escapeText(*fields[i]) : std::string("\\N");
    }
    return line;
}

std::vector<TsvField> parseLine(std::string_view line)
{
    std::vector<TsvField> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        std::string_view raw = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        const size_t number = fields.size() + 1;
        if (raw == "\\N") {
            fields.emplace_back(std::nullopt);
        } else {
            std::string value;
            value.reserve(raw.size());
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] != '\\') {
                    value += raw[i];
                    continue;
                }
                if (i + 1 == raw.size())
                    throw TsvError("field " + std::to_string(number) + " ends in a lone backslash (write \\\\ for one)");
                char e = raw[++i];
                switch (e) {
                case 't': value += '\t'; break;
                case 'n': value += '\n'; break;
                case 'r': value += '\r'; break;
                case '\\': value += '\\'; break;
                case 'N':
                    throw TsvError("field " + std::to_string(number) +
                                   ": \\N (NULL) must stand alone in its field (write \\\\N for the text)");
                default:
                    throw TsvError("field " + std::to_string(number) + ": unknown escape \\" + std::string(1, e) +
                                   " (only \\t \\n \\r \\\\ and \\N)");
                }
            }
            fields.emplace_back(std::move(value));
        }
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    return fields;
}

bool TsvReader::next(std::vector<TsvField>& fields)
{
    if (!std::getline(in_, buffer_)) {
        if (in_.bad())
            throw TsvError("cannot read the input after line " + std::to_string(line_));
        return false;
    }
    ++line_;
    if (!buffer_.empty() && buffer_.back() == '\r')
        buffer_.pop_back();
    try {
        fields = parseLine(buffer_);
    } catch (const TsvError& e) {
        throw TsvError("line " + std::to_string(line_) + ": " + e.what());
    }
    return true;
}

// ---- values ---------------------------------------------------------------------

std::string toHex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.resize(bytes.size() * 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 15];
    }
    return out;
}

std::string fromHex(std::string_view hex)
{
    if (hex.size() % 2)
        throw TsvError("hexadecimal bytes need an even number of digits: " + quoted(hex));
    std::string out;
    out.resize(hex.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        int hi = hexValue(hex[2 * i]), lo = hexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            throw TsvError("not hexadecimal bytes: " + quoted(hex));
        out[i] = static_cast<char>(hi * 16 + lo);
    }
    return out;
}

int64_t parseInteger(std::string_view text, int64_t min, int64_t max)
{
    std::string_view digits = text;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
        digits.remove_prefix(1);
    if (!allDigits(digits))
        throw TsvError("not a whole number: " + quoted(text));
    int64_t v = 0;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), v);
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && (v < min || v > max)))
        throw TsvError(quoted(text) + " is out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")");
    if (ec != std::errc() || ptr != text.data() + text.size())
        throw TsvError("not a whole number: " + quoted(text));
    return v;
}

std::string normalizeDecimal(std::string_view text)
{
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    size_t point = s.find('.');
    std::string_view whole = s.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : s.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || (!whole.empty() && !allDigits(whole)) ||
        (!fraction.empty() && !allDigits(fraction)))
        throw TsvError("not a decimal number: " + quoted(text));
    while (!whole.empty() && whole[0] == '0')
        whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    std::string out;
    if (negative && !(whole.empty() && fraction.empty()))
        out += '-';
    out += whole.empty() ? std::string_view("0") : whole;
    if (!fraction.empty()) {
        out += '.';
        out += fraction;
    }
    return out;
}

std::string decimalWithScale(std::string_view text, int scale)
{
    std::string n = normalizeDecimal(text);
    size_t point = n.find('.');
    int have = point == std::string::npos ? 0 : static_cast<int>(n.size() - point - 1);
    if (have > scale)
        throw TsvError(quoted(text) + " has more than " + std::to_string(scale) + " decimal places");
    if (scale > 0 && point == std::string::npos)
        n += '.';
    n.append(static_cast<size_t>(scale - have), '0');
    return n;
}

namespace {

template <typename T>
std::string formatFloating(T value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Infinity" : "Infinity";
    // The shortest digits that read back to the same number, written out
    // without an exponent: 1e300 becomes a 1 and 300 zeros, not the
    // binary value's exact 301 digits.
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    if (ec != std::errc())
        throw TsvError("cannot format a number");
    std::string sci(buf, ptr);
    bool negative = sci[0] == '-';
    if (negative)
        sci.erase(0, 1);
    size_t e = sci.find('e');
    int exponent = std::stoi(sci.substr(e + 1));
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.')
            digits += c;
    // value = 0.digits * 10^(exponent + 1)
    int point = exponent + 1;
    std::string out;
    if (point <= 0) {
        out = "0." + std::string(size_t(-point), '0') + digits;
    } else if (size_t(point) >= digits.size()) {
        out = digits + std::string(size_t(point) - digits.size(), '0');
    } else {
        out = digits.substr(0, size_t(point)) + "." + digits.substr(size_t(point));
    }
    return negative ? "-" + out : out;
}

template <typename T>
T parseFloating(std::string_view text, const char* what)
{
    if (text == "NaN")
        return std::numeric_limits<T>::quiet_NaN();
    if (text == "Infinity")
        return std::numeric_limits<T>::infinity();
    if (text == "-Infinity")
        return -std::numeric_limits<T>::infinity();
    std::string_view s = text;
    if (!s.empty() && s[0] == '+')
        s.remove_prefix(1);
    // from_chars would also take "inf" and "nan"; only digits get through here.
    bool digit = false;
    for (char c : s) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (!std::strchr("+-.eE", c))
            throw TsvError(std::string("not a number: ") + quoted(text));
    }
    if (!digit)
        throw TsvError(std::string("not a number: ") + quoted(text));
    T v{};
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        throw TsvError(quoted(text) + " is out of the range of a " + what);
    if (ec != std::errc() || ptr != s.data() + s.size())
        throw TsvError(std::string("not a number: ") + quoted(text));
    return v;
}

}  // namespace

std::string formatDouble(double value)
{
    return formatFloating(value);
}

std::string formatSingle(float value)
{
    return formatFloating(value);
}

double parseDouble(std::string_view text)
{
    return parseFloating<double>(text, "double");
}

float parseSingle(std::string_view text)
{
    return parseFloating<float>(text, "single");
}

TsvDateTime parseDateTime(std::string_view text)
{
    // yyyy-MM-dd[ HH:mm:ss]
    if ((text.size() != 10 && text.size() != 19) || text[4] != '-' || text[7] != '-' ||
        (text.size() == 19 && (text[10] != ' ' || text[13] != ':' || text[16] != ':')))
        throw TsvError("not a date and time (yyyy-MM-dd HH:mm:ss): " + quoted(text));
    TsvDateTime dt;
    dt.year = digitsField(text, 0, 4, text);
    dt.month = digitsField(text, 5, 2, text);
    dt.day = digitsField(text, 8, 2, text);
    if (text.size() == 19) {
        dt.hour = digitsField(text, 11, 2, text);
        dt.minute = digitsField(text, 14, 2, text);
        dt.second = digitsField(text, 17, 2, text);
    } else {
        dt.hour = dt.minute = dt.second = 0;
    }
    if (dt.year < 100)
        throw TsvError("dates before the year 100 cannot be stored: " + quoted(text));
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (dt.year % 4 == 0 && dt.year % 100 != 0) || dt.year % 400 == 0;
    if (dt.month < 1 || dt.month > 12 || dt.day < 1 ||
        dt.day > days[dt.month - 1] + (dt.month == 2 && leap ? 1 : 0) || dt.hour > 23 || dt.minute > 59 ||
        dt.second > 59)
        throw TsvError("no such date and time: " + quoted(text));
    return dt;
}

std::string formatDateTime(const TsvDateTime& dt)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dt.year, dt.month, dt.day, dt.hour, dt.minute,
                  dt.second);
    return buf;
}

bool parseBool(std::string_view text)
{
    if (text == "1")
        return true;
    if (text == "0")
        return false;
    throw TsvError("a yes/no value is 1 or 0, not " + quoted(text));
}

std::string normalizeGuid(std::string_view text)
{
    std::string_view s = text;
    if (s.size() == 38 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, 36);
    bool ok = s.size() == 36;
    std::string out = "{";
    for (size_t i = 0; ok && i < s.size(); ++i) {
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen) {
            ok = s[i] == '-';
            out += '-';
        } else {
            int v = hexValue(s[i]);
            ok = v >= 0;
            out += "0123456789ABCDEF"[v < 0 ? 0 : v];
        }
    }
    if (!ok)
        throw TsvError("not a GUID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}): " + quoted(text));
    return out + "}";
}

}  // namespace mdbtool
