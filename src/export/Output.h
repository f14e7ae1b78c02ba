#pragma once
#include "Errors.h"

#include <QString>
#include <string>

namespace exporting {

// Anything that stops an export; the message is for the user and names the file.
class ExportError : public db::DatabaseError {
public:
    using db::DatabaseError::DatabaseError;
};

// The file an export writes: a temporary file beside the target, renamed over it only when
// everything was written and synced, so a full disk or a crash never leaves half a file under
// the name the user chose. The temporary name is plain ASCII, whatever the target's name.
class OutputFile {
public:
    explicit OutputFile(const QString& target);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const QString& target() const { return target_; }
    // For a library that writes the file by name itself: our handle is closed first.
    std::string tempPath();
    void write(const char* data, size_t n);
    void write(const std::string& s) { write(s.data(), s.size()); }
    // Flushes, syncs and puts the file in place.
    void commit();
    // Throws the message for a failure with errno err.
    [[noreturn]] void fail(int err) const;
    [[noreturn]] void fail(const QString& reason) const;

private:
    void flush();

    QString target_;
    std::string temp_;
    int fd_ = -1;
    off_t written_ = 0;
    std::string buffer_;
    bool committed_ = false;
    // The first failure: a library that does not stop at a failed write still never commits.
    mutable QString failure_;
};

} // namespace exporting
