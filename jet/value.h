// A field value as the engine's callers give and get it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

struct DateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    int microsecond = 0;
    bool operator==(const DateTime&) const = default;
};

class Value {
public:
    enum class Kind { Null, Bool, Int, Double, Decimal, Date, Text, Bytes, Guid };

    Value() = default;
    static Value null() { return {}; }
    static Value boolean(bool b) { Value v; v.kind_ = Kind::Bool; v.i_ = b; return v; }
    static Value integer(int64_t i) { Value v; v.kind_ = Kind::Int; v.i_ = i; return v; }
    static Value real(double d) { Value v; v.kind_ = Kind::Double; v.d_ = d; return v; }
    // Exact decimal number as text ("-12.50"); also what currency and
    // decimal columns give back.
    static Value decimal(std::string s) { Value v; v.kind_ = Kind::Decimal; v.s_ = std::move(s); return v; }
    static Value date(const DateTime& dt) { Value v; v.kind_ = Kind::Date; v.dt_ = dt; return v; }
    static Value text(std::string utf8) { Value v; v.kind_ = Kind::Text; v.s_ = std::move(utf8); return v; }
    static Value bytes(std::string b) { Value v; v.kind_ = Kind::Bytes; v.s_ = std::move(b); return v; }
    static Value bytes(const std::vector<uint8_t>& b) { return bytes(std::string(b.begin(), b.end())); }
    // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
    static Value guid(std::string s) { Value v; v.kind_ = Kind::Guid; v.s_ = std::move(s); return v; }

    // Refilling a value in place keeps its text buffer: rows prepared again
    // and again for one table need no new allocation per value.
    void setNull() { kind_ = Kind::Null; i_ = 0; d_ = 0; dt_ = DateTime{}; s_.clear(); }
    void setInteger(int64_t i) { setNull(); kind_ = Kind::Int; i_ = i; }
    void setBoolean(bool b) { setNull(); kind_ = Kind::Bool; i_ = b; }
    void setReal(double d) { setNull(); kind_ = Kind::Double; d_ = d; }
    void setDate(const DateTime& dt) { setNull(); kind_ = Kind::Date; dt_ = dt; }
    void setText(std::string_view utf8) { setNull(); kind_ = Kind::Text; s_.assign(utf8); }
    void setDecimal(std::string_view s) { setNull(); kind_ = Kind::Decimal; s_.assign(s); }

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool asBool() const { return i_ != 0; }
    int64_t asInt() const { return i_; }
    double asDouble() const { return d_; }
    const DateTime& asDate() const { return dt_; }
    // Text (UTF-8), bytes, decimal or GUID text.
    const std::string& str() const { return s_; }

    bool operator==(const Value&) const = default;

private:
    Kind kind_ = Kind::Null;
    int64_t i_ = 0;
    double d_ = 0;
    DateTime dt_;
    std::string s_;
};

// Days since 1899-12-30 as Access stores dates (before that day the time
// of day counts away from zero).
double toJetDate(const DateTime& dt);
DateTime fromJetDate(double d);
// "yyyy-MM-dd HH:mm:ss"
std::string formatDateTime(const DateTime& dt);

} // namespace jet
