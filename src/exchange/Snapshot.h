#pragma once
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace exchange {

// The files of some tables of a folder as they were before a step that only appends to them
// (tables, memo files, indexes): putting back their length, their first and last bytes and
// their index files whole returns them byte for byte.
class Snapshot {
public:
    // The table at path, with its memo and index files when it has them.
    void keep(const QString& tablePath);
    // Back as kept; false when the disk refused part of it.
    bool restore() const;

private:
    struct File {
        std::string path;
        uint64_t size = 0;
        bool whole = false;
        std::vector<unsigned char> head, tail; // head is the whole file when whole
    };
    void keepFile(const std::string& path, bool whole);
    std::vector<File> files_;
};

} // namespace exchange
