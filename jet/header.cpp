#include "jet/header.h"

#include "jet/bytes.h"
#include "jet/error.h"

#include <cmath>
#include <cstring>

namespace jet {

namespace {
const uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr uint32_t kObfuscatedStart = 0x18;
} // namespace

void rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t n)
{
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = uint8_t(j + s[i] + key[size_t(i) % keyLength]);
        std::swap(s[i], s[j]);
    }
    uint8_t a = 0, b = 0;
    for (size_t k = 0; k < n; ++k) {
        a = uint8_t(a + 1);
        b = uint8_t(b + s[a]);
        std::swap(s[a], s[b]);
        data[k] ^= s[uint8_t(s[a] + s[b])];
    }
}

std::vector<uint8_t> buildHeaderPage(const Format& f, double creationDate)
{
    std::vector<uint8_t> p(f.pageSize, 0);
    static const uint8_t magic[] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a', 'r', 'd',
                                    ' ', 'J', 'e', 't', ' ', 'D', 'B', 0x00};
    std::memcpy(p.data(), magic, sizeof magic);
    put32(p.data() + 0x14, f.jet4() ? 1 : 0);
    // The engine writes these words at the start of the hidden region.
    put16(p.data() + 0x18, 0);
    const uint8_t lead[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                            0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::memcpy(p.data() + 0x18, lead, sizeof lead);
    put16(p.data() + 0x3C, 1252);
    if (f.jet4()) {
        // No password: the password bytes hold only the mask made from the
        // creation date.
        uint32_t mask = uint32_t(int64_t(creationDate));
        for (uint32_t k = 0; k < f.passwordLength; k += 4)
            put32(p.data() + 0x42 + k, mask);
        put16(p.data() + 0x6A, 0x261C);
        put16(p.data() + 0x6E, 0x0409);
        putDouble(p.data() + 0x72, creationDate);
        put32(p.data() + 0x98, 0x0654);
        std::memcpy(p.data() + 0x9C, "4.0", 3);
    } else {
        put16(p.data() + 0x38, 0x0001);
        put16(p.data() + 0x3A, 0x0409);
        put16(p.data() + 0x56, 0x251E);
    }
    rc4(kHeaderKey, 4, p.data() + kObfuscatedStart, f.headerObfuscatedLength);
    // The last 512 bytes carry a fixed pattern in every file the engine makes.
    uint8_t* tail = p.data() + f.pageSize - 512;
    tail[0] = 1;
    for (uint32_t k = 1; k < 512; k += 2)
        tail[k] = 1;
    if (!f.jet4())
        tail[2] = 0x14;
    return p;
}

void checkHeaderPage(const Format& f, const uint8_t* page)
{
    std::vector<uint8_t> h(page + kObfuscatedStart, page + kObfuscatedStart + f.headerObfuscatedLength);
    rc4(kHeaderKey, 4, h.data(), h.size());
    if (get32(h.data() + (0x3E - kObfuscatedStart)) != 0)
        throw Error(ErrorKind::Unsupported, "The database is encrypted, which is not supported");
    const uint8_t* pw = h.data() + (0x42 - kObfuscatedStart);
    std::vector<uint8_t> clear(pw, pw + f.passwordLength);
    if (f.jet4()) {
        double created = getDouble(h.data() + (0x72 - kObfuscatedStart));
        // A damaged date beyond the integer range must not be converted.
        const bool usable = std::isfinite(created) && std::fabs(created) < 9.0e18;
        uint32_t mask = usable ? uint32_t(int64_t(created)) : 0;
        for (uint32_t k = 0; k < f.passwordLength; ++k)
            clear[k] ^= uint8_t(mask >> (8 * (k % 4)));
    }
    for (uint8_t b : clear)
        if (b)
            throw Error(ErrorKind::Unsupported, "The database is protected by a password, which is not supported");
}

} // namespace jet
