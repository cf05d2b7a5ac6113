// Little- and big-endian field access on page buffers.
#pragma once

#include <cstdint>
#include <cstring>

namespace jet {

inline uint8_t get8(const uint8_t* p) { return p[0]; }
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) { return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32); }

inline void put8(uint8_t* p, uint8_t v) { p[0] = v; }
inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put24(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); }
inline void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void put64(uint8_t* p, uint64_t v) { put32(p, uint32_t(v)); put32(p + 4, uint32_t(v >> 32)); }

inline double getDouble(const uint8_t* p) { uint64_t u = get64(p); double d; std::memcpy(&d, &u, 8); return d; }
inline void putDouble(uint8_t* p, double d) { uint64_t u; std::memcpy(&u, &d, 8); put64(p, u); }
inline float getFloat(const uint8_t* p) { uint32_t u = get32(p); float f; std::memcpy(&f, &u, 4); return f; }
inline void putFloat(uint8_t* p, float f) { uint32_t u; std::memcpy(&u, &f, 4); put32(p, u); }

// A row pointer as stored in maps and long-value references: row in the low
// byte, page in the upper three.
inline uint32_t makeRowPointer(uint32_t page, uint8_t row) { return (page << 8) | row; }

} // namespace jet
