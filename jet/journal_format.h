// The rollback journal: its layout, shared by the writer that fills it
// (pager.cpp) and the recovery that reads it back, and the reading itself.
//
//   header, 64 bytes: "FWJRNL02", page size, original page count, the
//     transaction's number, device, inode, original length in bytes, hash of
//     page 0, 4 bytes unused, checksum of the bytes before it
//   records from byte 64, each ending in a checksum seeded with the
//     transaction's number (an earlier transaction's records further on in
//     the file never match):
//     original  1, page number, the page's bytes as the last commit left them
//     spilled   3, page number, the page's bytes in the open transaction
//               (rewritten in place when the page spills again; recovery
//               skips them: the file never holds them before the commit)
//     written   2, count, count x (page number, hash of the bytes written),
//               the last record, written by commit just before the header
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace jet {

// A journal as read back: its header and where its records are.
struct JournalImage {
    uint32_t pageSize = 0;
    uint32_t originalCount = 0;
    uint32_t nonce = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t originalSize = 0;
    uint64_t page0Hash = 0;
    struct Original {
        uint32_t page;
        uint64_t offset; // of the page's bytes in the journal
        uint64_t hash;
    };
    std::vector<Original> originals;                            // the first of each page
    std::unordered_map<uint32_t, std::vector<uint64_t>> written; // page -> hashes written
};


constexpr char kJournalMagic[8] = {'F', 'W', 'J', 'R', 'N', 'L', '0', '2'};
constexpr size_t kJournalHeader = 64;
constexpr uint32_t kRecordOriginal = 1;
constexpr uint32_t kRecordWritten = 2;
constexpr uint32_t kRecordSpilled = 3;

// A record's or header's checksum, seeded with the transaction's number.
uint32_t checksum(const uint8_t* data, size_t n, uint32_t seed);
// Names a page's contents (not against an adversary).
uint64_t pageHash(const uint8_t* data, size_t n);

enum class JournalState {
    Empty,   // cleared, or cut before its first flush: the file was never touched
    Foreign, // not a journal this engine wrote: never applied
    Hot,     // a transaction to undo, if it belongs to the file
};

// Reads the journal open as jfd into j.
JournalState readJournal(int jfd, JournalImage& j);

} // namespace jet
