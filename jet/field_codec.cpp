#include "jet/field_codec.h"

#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/text_codec.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <limits>

namespace jet {

namespace {

[[noreturn]] void cannotHold(const ColumnDef& c, const std::string& why)
{
    throw Error("The value for column '" + c.name + "' " + why);
}

std::string trim(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t'))
        ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t'))
        --b;
    return s.substr(a, b - a);
}

// Parses a plain decimal number into sign, digits and scale. Accepts an
// exponent as well ("1.5e3").
bool parseDecimal(const std::string& text, bool& negative, std::string& digits, int& scale)
{
    std::string s = trim(text);
    size_t i = 0;
    negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    digits.clear();
    scale = 0;
    bool dot = false, any = false;
    for (; i < s.size(); ++i) {
        char ch = s[i];
        if (ch >= '0' && ch <= '9') {
            digits += ch;
            any = true;
            if (dot)
                ++scale;
        } else if (ch == '.' && !dot) {
            dot = true;
        } else {
            break;
        }
    }
    if (!any)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        int exp = 0;
        auto r = std::from_chars(s.data() + i + 1 + (s[i + 1] == '+'), s.data() + s.size(), exp);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size() || exp > 400 || exp < -400)
            return false;
        scale -= exp;
        i = s.size();
    }
    if (i != s.size())
        return false;
    if (scale < 0) {
        digits.append(size_t(-scale), '0');
        scale = 0;
    }
    size_t nz = digits.find_first_not_of('0');
    digits = nz == std::string::npos ? "0" : digits.substr(nz);
    return true;
}

// Rescales a decimal to `targetScale` digits, rounding half away from zero.
// Returns false when the magnitude exceeds 128 bits.
bool toScaled(const std::string& digits, int scale, int targetScale, uint128& out)
{
    std::string d = digits;
    bool roundUp = false;
    if (scale > targetScale) {
        size_t drop = size_t(scale - targetScale);
        if (drop >= d.size()) {
            roundUp = drop == d.size() && d[0] >= '5';
            d = "0";
        } else {
            roundUp = d[d.size() - drop] >= '5';
            d.resize(d.size() - drop);
        }
    } else {
        d.append(size_t(targetScale - scale), '0');
    }
    uint128 v = 0;
    const uint128 max = ~(uint128)0;
    for (char ch : d) {
        if (v > (max - 9) / 10)
            return false;
        v = v * 10 + unsigned(ch - '0');
    }
    if (roundUp) {
        if (v == max)
            return false;
        ++v;
    }
    out = v;
    return true;
}

// The common plain form "-123.45" with at most `scale` fraction digits and
// at most 38 digits, read without copies; false for anything else (the
// general parser takes it then).
bool plainScaled(const std::string& s, int scale, bool& negative, uint128& out)
{
    size_t i = 0;
    const size_t n = s.size();
    negative = n > 0 && s[0] == '-';
    if (negative)
        ++i;
    uint128 v = 0;
    int digits = 0;
    int fraction = 0;
    bool dot = false;
    for (; i < n; ++i) {
        const char ch = s[i];
        if (ch >= '0' && ch <= '9') {
            if (v == 0 && ch == '0' && !dot) {
                digits = std::max(digits, 1);
                continue;  // leading zeros
            }
            if (++digits > 38)
                return false;
            v = v * 10 + unsigned(ch - '0');
            if (dot)
                ++fraction;
        } else if (ch == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (digits == 0 && fraction == 0)
        return false;
    if (fraction > scale)
        return false;
    for (int k = fraction; k < scale; ++k) {
        if (v > (~(uint128)0) / 10)
            return false;
        v *= 10;
    }
    out = v;
    return true;
}

// A number from any numeric-like value, for the integer and float columns.
bool numberOf(const Value& v, double& out)
{
    switch (v.kind()) {
    case Value::Kind::Bool: out = v.asBool() ? -1 : 0; return true; // Access's True is -1
    case Value::Kind::Int: out = double(v.asInt()); return true;
    case Value::Kind::Double: out = v.asDouble(); return std::isfinite(out);
    case Value::Kind::Decimal:
    case Value::Kind::Text: {
        std::string s = trim(v.str());
        if (s.empty())
            return false;
        bool neg;
        std::string digits;
        int scale;
        if (!parseDecimal(s, neg, digits, scale))
            return false;
        out = std::strtod(s.c_str(), nullptr);
        return std::isfinite(out);
    }
    default: return false;
    }
}

// Whole number with banker's rounding, as Access converts to its integer types.
bool integerOf(const Value& v, int64_t& out)
{
    if (v.kind() == Value::Kind::Int) {
        out = v.asInt();
        return true;
    }
    if (v.kind() == Value::Kind::Bool) {
        out = v.asBool() ? -1 : 0;
        return true;
    }
    if (v.kind() == Value::Kind::Decimal || v.kind() == Value::Kind::Text) {
        bool neg;
        std::string digits;
        int scale;
        if (!parseDecimal(v.str(), neg, digits, scale))
            return false;
        uint128 whole = 0;
        if (!toScaled(digits, scale, 0, whole))
            return false;
        // Exact halves go to the even neighbour.
        if (scale > 0) {
            std::string frac = digits.size() > size_t(scale) ? digits.substr(digits.size() - size_t(scale))
                                                             : std::string(size_t(scale) - digits.size(), '0') + digits;
            bool half = frac[0] == '5' && frac.find_first_not_of('0', 1) == std::string::npos;
            if (half && (whole & 1))
                --whole;
        }
        if (whole > (uint128)std::numeric_limits<int64_t>::max())
            return false;
        out = neg ? -int64_t(whole) : int64_t(whole);
        return true;
    }
    double d;
    if (!numberOf(v, d))
        return false;
    d = std::nearbyint(d);
    if (d < -9.2e18 || d > 9.2e18)
        return false;
    out = int64_t(d);
    return true;
}

int daysFromCivil(int y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int(doe) - 719468;
}

void civilFromDays(int z, int& y, int& m, int& d)
{
    z += 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y += m <= 2;
}

bool parseDateText(const std::string& text, DateTime& dt)
{
    std::string s = trim(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    char tail[32] = {};
    int n = std::sscanf(s.c_str(), "%d-%d-%d%*[ T]%d:%d:%d%31s", &y, &mo, &d, &h, &mi, &se, tail);
    if (n == 3 || n >= 6) {
        if (n == 3 && s.size() > 10)
            return false;
        dt = DateTime{y, mo, d, h, mi, se, 0};
        if (n == 7 && tail[0] == '.') {
            std::string frac = std::string(tail + 1).substr(0, 6);
            while (frac.size() < 6)
                frac += '0';
            dt.microsecond = std::atoi(frac.c_str());
        }
        return true;
    }
    n = std::sscanf(s.c_str(), "%d:%d:%d", &h, &mi, &se);
    if (n == 3) {
        dt = DateTime{1899, 12, 30, h, mi, se, 0};
        return true;
    }
    return false;
}

bool validDate(const DateTime& dt)
{
    if (dt.year < 100 || dt.year > 9999 || dt.month < 1 || dt.month > 12 || dt.day < 1 || dt.hour < 0 ||
        dt.hour > 23 || dt.minute < 0 || dt.minute > 59 || dt.second < 0 || dt.second > 59)
        return false;
    static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (dt.year % 4 == 0 && dt.year % 100 != 0) || dt.year % 400 == 0;
    return dt.day <= mdays[dt.month - 1] + (dt.month == 2 && leap);
}

bool parseGuid(const std::string& text, uint8_t out[16])
{
    std::string hex;
    std::string s = trim(text);
    if (s.size() == 38 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, 36);
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return false;
    for (char ch : s)
        if (ch != '-')
            hex += ch;
    uint8_t raw[16];
    for (int i = 0; i < 16; ++i) {
        unsigned b;
        if (std::sscanf(hex.c_str() + i * 2, "%2x", &b) != 1 || !std::isxdigit((unsigned char)hex[size_t(i) * 2]) ||
            !std::isxdigit((unsigned char)hex[size_t(i) * 2 + 1]))
            return false;
        raw[i] = uint8_t(b);
    }
    // The first three groups are stored little-endian.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i)
        out[i] = raw[order[i]];
    return true;
}

// Text of a value for a text column. Bytes that are not UTF-8 (a binary
// source column) are taken as Latin-1, one character per byte.
std::string textOf(const Value& v);

std::u16string textUtf16(const ColumnDef& c, const Value& v)
{
    std::string s = textOf(v);
    try {
        return utf8ToUtf16(s);
    } catch (const Error&) {
        if (v.kind() != Value::Kind::Bytes)
            cannotHold(c, "is not valid UTF-8 text");
        std::u16string u;
        for (unsigned char ch : s)
            u += char16_t(ch);
        return u;
    }
}

std::optional<std::string> textCp1252(const ColumnDef& c, const Value& v)
{
    std::u16string u = textUtf16(c, v);
    return utf8ToCp1252(utf16ToUtf8(u));
}

std::string textOf(const Value& v)
{
    switch (v.kind()) {
    case Value::Kind::Bool: return v.asBool() ? "True" : "False";
    case Value::Kind::Int: return std::to_string(v.asInt());
    case Value::Kind::Double: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", v.asDouble());
        return buf;
    }
    case Value::Kind::Date: return formatDateTime(v.asDate());
    default: return v.str();
    }
}

} // namespace

double toJetDate(const DateTime& dt)
{
    int days = daysFromCivil(dt.year, unsigned(dt.month), unsigned(dt.day)) - daysFromCivil(1899, 12, 30);
    double frac = (dt.hour * 3600.0 + dt.minute * 60.0 + dt.second + dt.microsecond / 1e6) / 86400.0;
    return days >= 0 ? days + frac : days - frac;
}

DateTime fromJetDate(double d)
{
    double whole = std::trunc(d);
    double frac = std::fabs(d - whole);
    int64_t ms = std::llround(frac * 86400000.0);
    int days = int(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        days += d < 0 ? -1 : 1;
    }
    DateTime dt;
    civilFromDays(days + daysFromCivil(1899, 12, 30), dt.year, dt.month, dt.day);
    int64_t secs = ms / 1000;
    dt.hour = int(secs / 3600);
    dt.minute = int(secs / 60 % 60);
    dt.second = int(secs % 60);
    dt.microsecond = int(ms % 1000) * 1000;
    return dt;
}

std::string formatDateTime(const DateTime& dt)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dt.year, dt.month, dt.day, dt.hour, dt.minute,
                  dt.second);
    return buf;
}

std::string formatScaled(bool negative, uint128 magnitude, int scale)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude);
    while (digits.size() <= size_t(scale))
        digits.insert(digits.begin(), '0');
    if (scale > 0)
        digits.insert(digits.end() - scale, '.');
    bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (negative && !zero ? "-" : "") + digits;
}

namespace {

// Plain ASCII text needs no conversion at all.
bool encodeAsciiText(const Format& f, const ColumnDef& c, const std::string& s, Field& out)
{
    for (unsigned char ch : s)
        if (ch >= 0x80 || ch == 0)
            return false;
    if (f.jet4()) {
        if (s.size() * 2 > c.length)
            cannotHold(c, "is longer than the column's size of " + std::to_string(c.length / 2) + " characters");
        if ((c.extFlags & kColExtCompressed) && !s.empty() && s.size() <= 1024) {
            out.bytes.resize(2 + s.size());
            out.bytes[0] = 0xFF;
            out.bytes[1] = 0xFE;
            std::memcpy(out.bytes.data() + 2, s.data(), s.size());
        } else {
            out.bytes.resize(s.size() * 2);
            for (size_t i = 0; i < s.size(); ++i) {
                out.bytes[2 * i] = uint8_t(s[i]);
                out.bytes[2 * i + 1] = 0;
            }
        }
    } else {
        if (s.size() > c.length)
            cannotHold(c, "is longer than the column's size of " + std::to_string(c.length) + " characters");
        out.bytes.assign(s.begin(), s.end());
    }
    if (c.isFixed())
        out.bytes.resize(c.length, f.jet4() ? 0 : ' ');
    return true;
}

} // namespace

Field encodeField(const Format& f, const ColumnDef& c, const Value& v)
{
    Field out;
    encodeFieldInto(f, c, v, out);
    return out;
}

namespace {

[[noreturn]] void cannotStore(const ColumnDef& c)
{
    cannotHold(c, "cannot be stored in a " + std::string(columnTypeName(c.type)) + " column");
}

void encodeBoolean(const ColumnDef& c, const Value& v, Field& out)
{
    if (v.kind() == Value::Kind::Text) {
        std::string s = trim(v.str());
        for (auto& ch : s)
            ch = char(std::tolower((unsigned char)ch));
        if (s == "true" || s == "yes" || s == "on") { out.bit = true; return; }
        if (s == "false" || s == "no" || s == "off") { out.bit = false; return; }
    }
    double d;
    if (!numberOf(v, d))
        cannotStore(c);
    out.bit = d != 0;
}

// Byte, Integer and Long: little-endian, range-checked.
void encodeInteger(const ColumnDef& c, const Value& v, Field& out)
{
    int64_t i;
    if (!integerOf(v, i))
        cannotStore(c);
    int64_t lo = c.type == ColumnType::Byte ? 0 : c.type == ColumnType::Integer ? -32768 : INT32_MIN;
    int64_t hi = c.type == ColumnType::Byte ? 255 : c.type == ColumnType::Integer ? 32767 : INT32_MAX;
    if (i < lo || i > hi)
        cannotHold(c, "(" + std::to_string(i) + ") is out of range for a " + columnTypeName(c.type) + " column");
    size_t n = c.type == ColumnType::Byte ? 1 : c.type == ColumnType::Integer ? 2 : 4;
    out.bytes.resize(n);
    for (size_t k = 0; k < n; ++k)
        out.bytes[k] = uint8_t(uint64_t(i) >> (8 * k));
}

// Shortest text that reads back as the same double.
std::string shortestDoubleText(double d)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    std::string text = buf;
    for (int prec = 1; prec <= 17; ++prec) {
        std::snprintf(buf, sizeof buf, "%.*g", prec, d);
        if (std::strtod(buf, nullptr) == d) {
            text = buf;
            break;
        }
    }
    return text;
}

// A whole number (or a boolean, -1 for true) times 10^scale.
uint128 scaledInteger(const ColumnDef& c, const Value& v, int scale, bool& neg)
{
    int64_t i = v.kind() == Value::Kind::Bool ? (v.asBool() ? -1 : 0) : v.asInt();
    neg = i < 0;
    uint128 m = neg ? (uint128)(uint64_t(-(i + 1))) + 1 : (uint128)uint64_t(i);
    for (int k = 0; k < scale; ++k) {
        // Past 128 bits it has more digits than any precision.
        if (m > (~(uint128)0) / 10)
            cannotHold(c, "has more digits than the column's precision of " + std::to_string(c.precision));
        m *= 10;
    }
    return m;
}

// The magnitude of a Currency or Decimal value as a whole number of
// 10^-scale units; `neg` receives its sign.
uint128 scaledMagnitude(const ColumnDef& c, const Value& v, int scale, bool& neg)
{
    neg = false;
    if (v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool)
        return scaledInteger(c, v, scale, neg);
    uint128 mag = 0;
    std::string text;
    if (v.kind() == Value::Kind::Double) {
        if (!std::isfinite(v.asDouble()))
            cannotStore(c);
        text = shortestDoubleText(v.asDouble());
    } else if (v.kind() == Value::Kind::Decimal || v.kind() == Value::Kind::Text) {
        if (plainScaled(v.str(), scale, neg, mag))
            return mag;
        text = v.str();
    } else {
        cannotStore(c);
    }
    std::string digits;
    int vs = 0;
    if (!parseDecimal(text, neg, digits, vs) || !toScaled(digits, vs, scale, mag))
        cannotStore(c);
    return mag;
}

// Currency: a signed 64-bit count of ten-thousandths.
void encodeCurrency(const ColumnDef& c, const Value& v, Field& out)
{
    bool neg = false;
    const uint128 mag = scaledMagnitude(c, v, 4, neg);
    uint128 limit = neg ? ((uint128)1 << 63) : (((uint128)1 << 63) - 1);
    if (mag > limit)
        cannotHold(c, "is out of range for a Currency column");
    int64_t raw = neg ? int64_t(0 - uint64_t(mag)) : int64_t(uint64_t(mag));
    out.bytes.resize(8);
    put64(out.bytes.data(), uint64_t(raw));
}

// Decimal: a sign byte, then the magnitude as four big-endian 32-bit words,
// at most `precision` digits.
void encodeDecimal(const ColumnDef& c, const Value& v, Field& out)
{
    bool neg = false;
    const uint128 mag = scaledMagnitude(c, v, c.scale, neg);
    uint128 limit = 1;
    for (int k = 0; k < c.precision; ++k)
        limit *= 10;
    if (mag >= limit)
        cannotHold(c, "has more digits than the column's precision of " + std::to_string(c.precision));
    out.bytes.assign(17, 0);
    out.bytes[0] = neg && mag ? 0x80 : 0x00;
    for (int w = 0; w < 4; ++w)
        put32(out.bytes.data() + 1 + w * 4, uint32_t(mag >> (32 * (3 - w))));
}

void encodeFloating(const ColumnDef& c, const Value& v, Field& out)
{
    double d;
    if (!numberOf(v, d))
        cannotStore(c);
    if (c.type == ColumnType::Single) {
        // Values that round to the largest single are fine.
        if (std::isinf(float(d)))
            cannotHold(c, "is out of range for a Single column");
        out.bytes.resize(4);
        putFloat(out.bytes.data(), float(d));
    } else {
        out.bytes.resize(8);
        putDouble(out.bytes.data(), d);
    }
}

// A date, or a date's text; a double is taken as a Jet date as it stands.
void encodeDateTime(const ColumnDef& c, const Value& v, Field& out)
{
    DateTime dt;
    if (v.kind() == Value::Kind::Date)
        dt = v.asDate();
    else if (v.kind() == Value::Kind::Text || v.kind() == Value::Kind::Decimal) {
        if (!parseDateText(v.str(), dt))
            cannotStore(c);
    } else if (v.kind() == Value::Kind::Double) {
        out.bytes.resize(8);
        putDouble(out.bytes.data(), v.asDouble());
        return;
    } else {
        cannotStore(c);
    }
    if (!validDate(dt))
        cannotHold(c, "(" + formatDateTime(dt) + ") is not a date Access can store");
    out.bytes.resize(8);
    putDouble(out.bytes.data(), toJetDate(dt));
}

// Sixteen raw bytes as they stand, or a GUID's text.
void encodeGuid(const ColumnDef& c, const Value& v, Field& out)
{
    out.bytes.resize(16);
    if (v.kind() == Value::Kind::Bytes && v.str().size() == 16) {
        std::copy(v.str().begin(), v.str().end(), out.bytes.begin());
        return;
    }
    if ((v.kind() != Value::Kind::Guid && v.kind() != Value::Kind::Text) || !parseGuid(v.str(), out.bytes.data()))
        cannotStore(c);
}

void encodeBinary(const ColumnDef& c, const Value& v, Field& out)
{
    std::string b = v.kind() == Value::Kind::Bytes ? v.str() : textOf(v);
    if (b.size() > c.length)
        cannotHold(c, "is longer than the column's size of " + std::to_string(c.length) + " bytes");
    out.bytes.assign(b.begin(), b.end());
    if (c.isFixed())
        out.bytes.resize(c.length, 0);
}

// Jet 4 keeps UTF-16 (compressed where the column asks), Jet 3 code page
// 1252; a fixed column is padded to its size.
void encodeText(const Format& f, const ColumnDef& c, const Value& v, Field& out)
{
    if (v.kind() == Value::Kind::Text && encodeAsciiText(f, c, v.str(), out))
        return;
    if (f.jet4()) {
        std::u16string u = textUtf16(c, v);
        if (u.size() * 2 > c.length)
            cannotHold(c, "is longer than the column's size of " + std::to_string(c.length / 2) + " characters");
        out.bytes = encodeJet4Text(u, (c.extFlags & kColExtCompressed) != 0);
    } else {
        auto cp = textCp1252(c, v);
        if (!cp)
            cannotHold(c, "holds a character that an Access 97 database (code page 1252) cannot store");
        if (cp->size() > c.length)
            cannotHold(c, "is longer than the column's size of " + std::to_string(c.length) + " characters");
        out.bytes.assign(cp->begin(), cp->end());
    }
    if (c.isFixed())
        out.bytes.resize(c.length, f.jet4() ? 0 : ' ');
}

} // namespace

Field& encodeFieldInto(const Format& f, const ColumnDef& c, const Value& v, Field& out)
{
    out.bit = false;
    out.bytes.clear();
    out.null = v.isNull();
    if (v.isNull())
        return out;
    switch (c.type) {
    case ColumnType::Boolean: encodeBoolean(c, v, out); return out;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: encodeInteger(c, v, out); return out;
    case ColumnType::Currency: encodeCurrency(c, v, out); return out;
    case ColumnType::Numeric: encodeDecimal(c, v, out); return out;
    case ColumnType::Single:
    case ColumnType::Double: encodeFloating(c, v, out); return out;
    case ColumnType::DateTime: encodeDateTime(c, v, out); return out;
    case ColumnType::Guid: encodeGuid(c, v, out); return out;
    case ColumnType::Binary: encodeBinary(c, v, out); return out;
    case ColumnType::Text: encodeText(f, c, v, out); return out;
    case ColumnType::Memo:
    case ColumnType::Ole:
        break;
    }
    throw Error(ErrorKind::Unsupported, "Column '" + c.name + "' has a type the engine cannot write");
}

std::vector<uint8_t> encodeLongValuePayload(const Format& f, const ColumnDef& c, const Value& v)
{
    if (c.type == ColumnType::Ole) {
        // No intermediate copy: the value may be many megabytes.
        if (v.kind() == Value::Kind::Bytes)
            return std::vector<uint8_t>(v.str().begin(), v.str().end());
        std::string b = textOf(v);
        return std::vector<uint8_t>(b.begin(), b.end());
    }
    if (f.jet4())
        return encodeJet4Text(textUtf16(c, v), (c.extFlags & kColExtCompressed) != 0);
    auto cp = textCp1252(c, v);
    if (!cp)
        cannotHold(c, "holds a character that an Access 97 database (code page 1252) cannot store");
    return std::vector<uint8_t>(cp->begin(), cp->end());
}

Value decodeLongValuePayload(const Format& f, const ColumnDef& c, const uint8_t* p, size_t n)
{
    if (c.type == ColumnType::Ole)
        return Value::bytes(std::string(reinterpret_cast<const char*>(p), n));
    if (f.jet4())
        return Value::text(utf16ToUtf8(decodeJet4Text(p, n)));
    return Value::text(cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n)));
}

Value decodeField(const Format& f, const ColumnDef& c, const uint8_t* p, size_t n)
{
    auto need = [&](size_t k) {
        if (n < k)
            throw Error(ErrorKind::Corrupt, "A row of column '" + c.name + "' is damaged");
    };
    switch (c.type) {
    case ColumnType::Boolean: return Value::boolean(true);
    case ColumnType::Byte: need(1); return Value::integer(p[0]);
    case ColumnType::Integer: need(2); return Value::integer(int16_t(get16(p)));
    case ColumnType::Long: need(4); return Value::integer(int32_t(get32(p)));
    case ColumnType::Currency: {
        need(8);
        int64_t raw = int64_t(get64(p));
        bool neg = raw < 0;
        uint128 mag = neg ? (uint128)(0 - uint64_t(raw)) : (uint128)uint64_t(raw);
        return Value::decimal(formatScaled(neg, mag, 4));
    }
    case ColumnType::Single: need(4); return Value::real(getFloat(p));
    case ColumnType::Double: need(8); return Value::real(getDouble(p));
    case ColumnType::DateTime: {
        need(8);
        double d = getDouble(p);
        // Beyond years 100..9999 no calendar date exists: give the number.
        if (!std::isfinite(d) || d < -657435.0 || d > 2958466.0)
            return Value::real(d);
        return Value::date(fromJetDate(d));
    }
    case ColumnType::Guid: {
        need(16);
        char buf[40];
        std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", get32(p), get16(p + 4),
                      get16(p + 6), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
        return Value::guid(buf);
    }
    case ColumnType::Numeric: {
        need(17);
        uint128 mag = 0;
        for (int w = 0; w < 4; ++w)
            mag = (mag << 32) | get32(p + 1 + w * 4);
        return Value::decimal(formatScaled((p[0] & 0x80) != 0, mag, c.scale));
    }
    case ColumnType::Binary: return Value::bytes(std::string(reinterpret_cast<const char*>(p), n));
    case ColumnType::Text:
        if (f.jet4())
            return Value::text(utf16ToUtf8(decodeJet4Text(p, n)));
        return Value::text(cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n)));
    case ColumnType::Memo:
    case ColumnType::Ole: break;
    }
    return Value::bytes(std::string(reinterpret_cast<const char*>(p), n));
}

} // namespace jet
