#pragma once
// A tag's entries in index order for a table of any size. Not for others than the index files.
#include "Mdx.h"

#include <string>
#include <utility>
#include <vector>

namespace dbf::mdx {

// Runs sorted in memory and, past the first, spilled to a scratch file (unlinked at once, so a
// crash leaves nothing), then merged: memory holds one run and a buffer a run, whatever the
// table's size. A unique tag keeps the first entry of each key.
class SortedEntries {
public:
    SortedEntries(const MdxFile& m, const MdxFile::Tag& t, uint32_t count, const MdxFile::RecordAt& record,
                  const std::string& scratch);
    ~SortedEntries();
    SortedEntries(const SortedEntries&) = delete;
    SortedEntries& operator=(const SortedEntries&) = delete;

    bool next(std::string& key, uint32_t& rec);

    static constexpr size_t kRunEntries = size_t(1) << 17;

private:
    struct Run {
        uint64_t pos = 0, end = 0; // the run's bytes in the scratch file not yet buffered
        std::string buf;
        size_t off = 0;
        std::string key;
        uint32_t rec = 0;
    };
    void sortRun();
    void spillRun();
    bool advance(Run& r);
    bool less(const Run& a, const Run& b) const;
    bool nextRaw(std::string& key, uint32_t& rec);

    const MdxFile& m_;
    const MdxFile::Tag& t_;
    std::string scratch_;
    int fd_ = -1;
    uint64_t written_ = 0;
    std::vector<std::pair<std::string, uint32_t>> mem_;
    size_t at_ = 0;
    std::vector<Run> runs_;
    std::vector<size_t> heap_;
    bool any_ = false;
    std::string last_;
};

} // namespace dbf::mdx
