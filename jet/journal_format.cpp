// Reading a journal back: its header, and the records up to the first one
// that is torn or belongs to an earlier transaction.
#include "jet/journal_format.h"

#include "jet/bytes.h"
#include "jet/file_io.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace jet {

uint32_t checksum(const uint8_t* data, size_t n, uint32_t seed)
{
    uint32_t h = 2166136261u ^ seed;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

// 8 bytes a step.
uint64_t pageHash(const uint8_t* data, size_t n)
{
    uint64_t h = 14695981039346656037ull;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        h = (h ^ w) * 1099511628211ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i)
        h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

JournalState readJournal(int jfd, JournalImage& j)
{
    uint8_t head[kJournalHeader] = {};
    long long n = readUpTo(jfd, head, kJournalHeader, 0);
    if (n <= 0 || std::all_of(head, head + n, [](uint8_t b) { return b == 0; }))
        return JournalState::Empty;
    if (size_t(n) < 8 || std::memcmp(head, kJournalMagic, 8) != 0)
        return JournalState::Foreign;
    if (size_t(n) < kJournalHeader)
        return JournalState::Empty;
    j.nonce = get32(head + 16);
    if (get32(head + 60) != checksum(head, 60, j.nonce))
        return JournalState::Empty;
    j.pageSize = get32(head + 8);
    j.originalCount = get32(head + 12);
    j.device = get64(head + 20);
    j.inode = get64(head + 28);
    j.originalSize = get64(head + 36);
    j.page0Hash = get64(head + 44);
    if (j.pageSize != 2048 && j.pageSize != 4096)
        return JournalState::Foreign;

    uint64_t off = kJournalHeader;
    std::vector<uint8_t> rec(8 + j.pageSize + 4);
    std::unordered_set<uint32_t> seen;
    while (readAll(jfd, rec.data(), 8, off)) {
        uint32_t kind = get32(rec.data());
        uint32_t arg = get32(rec.data() + 4);
        size_t size = kind == kRecordOriginal || kind == kRecordSpilled ? 8 + j.pageSize + 4
                      : kind == kRecordWritten && arg <= (1u << 20) ? 8 + 12 * size_t(arg) + 4
                                                                   : 0;
        if (size == 0)
            break;
        rec.resize(std::max(rec.size(), size));
        if (!readAll(jfd, rec.data(), size, off) ||
            get32(rec.data() + size - 4) != checksum(rec.data(), size - 4, j.nonce))
            break;
        if (kind == kRecordOriginal) {
            if (seen.insert(arg).second)
                j.originals.push_back({arg, off + 8, pageHash(rec.data() + 8, j.pageSize)});
        } else if (kind == kRecordWritten) {
            for (uint32_t i = 0; i < arg; ++i)
                j.written[get32(rec.data() + 8 + 12 * i)].push_back(get64(rec.data() + 12 + 12 * i));
        }
        off += size;
    }
    return JournalState::Hot;
}

} // namespace jet
