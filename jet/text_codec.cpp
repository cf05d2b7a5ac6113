#include "jet/text_codec.h"

#include "jet/code_page.h"
#include "jet/error.h"

#include <cctype>
#include <cwctype>

namespace jet {

namespace {

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

std::u16string utf8ToUtf16(std::string_view s)
{
    std::u16string out;
    size_t i = 0;
    // ASCII runs convert byte for byte.
    while (i < s.size() && uint8_t(s[i]) < 0x80)
        ++i;
    out.resize(i);
    for (size_t k = 0; k < i; ++k)
        out[k] = char16_t(uint8_t(s[k]));
    if (i == s.size())
        return out;
    out.reserve(s.size());
    while (i < s.size()) {
        uint8_t b = uint8_t(s[i]);
        char32_t c;
        size_t len;
        if (b < 0x80) { c = b; len = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; len = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; len = 3; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; len = 4; }
        else throw Error("The text is not valid UTF-8");
        if (i + len > s.size())
            throw Error("The text is not valid UTF-8");
        for (size_t k = 1; k < len; ++k) {
            uint8_t cb = uint8_t(s[i + k]);
            if ((cb & 0xC0) != 0x80)
                throw Error("The text is not valid UTF-8");
            c = (c << 6) | (cb & 0x3F);
        }
        if ((len == 2 && c < 0x80) || (len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF))
            throw Error("The text is not valid UTF-8");
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += len;
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate in the file
        }
        appendUtf8(out, c);
    }
    return out;
}

std::optional<std::string> utf8ToCp1252(std::string_view s)
{
    std::u16string u = utf8ToUtf16(s);
    std::string out;
    out.reserve(u.size());
    for (char16_t c : u) {
        const int b = cp1252::encode(c);
        if (b < 0)
            return std::nullopt;
        out += char(b);
    }
    return out;
}

std::string cp1252ToUtf8(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        appendUtf8(out, cp1252::decode(uint8_t(ch)));
    }
    return out;
}

std::vector<uint8_t> encodeJet4Text(std::u16string_view s, bool allowCompression)
{
    std::vector<uint8_t> out;
    // Readers expand compressed text in 1024-character blocks at most; longer
    // values stay plain.
    bool compress = allowCompression && !s.empty() && s.size() <= 1024;
    if (compress)
        for (char16_t c : s)
            if (c == 0 || c > 0xFF) {
                compress = false;
                break;
            }
    if (compress) {
        out.reserve(2 + s.size());
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (char16_t c : s)
            out.push_back(uint8_t(c));
        return out;
    }
    out.reserve(s.size() * 2);
    for (char16_t c : s) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

std::u16string decodeJet4Text(const uint8_t* data, size_t n)
{
    std::u16string out;
    if (n >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bool compressed = true;
        size_t i = 2;
        while (i < n) {
            if (data[i] == 0) {
                compressed = !compressed;
                ++i;
                continue;
            }
            if (compressed) {
                out += char16_t(data[i]);
                ++i;
            } else {
                if (i + 1 >= n)
                    break;
                out += char16_t(data[i] | (data[i + 1] << 8));
                i += 2;
            }
        }
        return out;
    }
    out.reserve(n / 2);
    for (size_t i = 0; i + 1 < n; i += 2)
        out += char16_t(data[i] | (data[i + 1] << 8));
    return out;
}

std::u16string foldCase(std::u16string_view s)
{
    std::u16string out(s);
    for (auto& c : out) {
        if (c < 0x80)
            c = char16_t(std::toupper(int(c)));
        else if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
            c = char16_t(c - 0x20); // Latin-1 letters
        else
            c = char16_t(std::towupper(wint_t(c)));
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b)
{
    bool ascii = true;
    for (unsigned char x : a)
        ascii &= x < 0x80;
    for (unsigned char y : b)
        ascii &= y < 0x80;
    if (ascii) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = a[i], y = b[i];
            if (x != y && std::toupper(x) != std::toupper(y))
                return false;
        }
        return true;
    }
    return foldCase(utf8ToUtf16(a)) == foldCase(utf8ToUtf16(b));
}

} // namespace jet
