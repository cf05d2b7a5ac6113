#include "jet/index_check.h"

#include <algorithm>
#include <cstring>

namespace jet {
namespace {

class ReaderPages : public IndexPageStore {
public:
    ReaderPages(const PageReader& r, Version f) : read_(r), format_(f) {}
    Version version() const override { return format_; }
    void readPage(std::uint32_t page, std::span<std::uint8_t> out) override
    {
        const std::uint8_t* p = read_(page);
        if (!p)
            throw IndexError("index page " + std::to_string(page) + " is past the end of the file");
        std::memcpy(out.data(), p, indexPageSize(format_));
    }
    void writePage(std::uint32_t, std::span<const std::uint8_t>) override { throw IndexError("read only"); }
    std::uint32_t allocatePage() override { throw IndexError("read only"); }
    void freePage(std::uint32_t) override { throw IndexError("read only"); }

private:
    const PageReader& read_;
    Version format_;
};

std::string rowText(const IndexEntry& e)
{
    return "page " + std::to_string(e.dataPage) + " row " + std::to_string(e.dataRow);
}

}  // namespace

std::vector<std::string> checkIndex(const PageReader& pages, IndexCheckInput in)
{
    std::vector<std::string> problems;
    const std::string who = "index " + in.name + ": ";
    ReaderPages store(pages, in.format);
    IndexTree tree(store, in.tdefPage, in.rootPage, in.name);
    IndexScan scan;
    try {
        scan = tree.verify();
    } catch (const std::exception& e) {
        problems.push_back(who + e.what());
        return problems;
    }
    if (in.mapPages)
        for (std::uint32_t p : scan.pages)
            if (!in.mapPages->count(p))
                problems.push_back(who + "page " + std::to_string(p) + " of its tree is not in its usage map");

    auto less = [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; };
    std::sort(in.expected.begin(), in.expected.end(), less);
    // Walk both sorted lists; entries are unique by row pointer.
    std::size_t i = 0, j = 0, reported = 0;
    auto report = [&](std::string s) {
        if (reported++ < 10)
            problems.push_back(who + s);
    };
    const auto& have = scan.entries;
    const auto& want = in.expected;
    while (i < have.size() || j < want.size()) {
        if (j == want.size() || (i < have.size() && less(have[i], want[j]))) {
            report("holds an entry for " + rowText(have[i]) + " that no row of the table gives");
            ++i;
        } else if (i == have.size() || less(want[j], have[i])) {
            report("has no entry for the row at " + rowText(want[j]) + " (or its key is wrong)");
            ++j;
        } else {
            ++i;
            ++j;
        }
    }
    if (reported > 10)
        problems.push_back(who + std::to_string(reported - 10) + " more differences");
    return problems;
}

}  // namespace jet
