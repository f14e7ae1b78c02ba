#include "Output.h"
#include "dbf/Os.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>

namespace exporting {

namespace {
constexpr size_t kBufferBytes = 1 << 20;
}

OutputFile::OutputFile(const QString& target) : target_(target) {
    const QFileInfo info(target);
    if (target.isEmpty()) throw ExportError(QStringLiteral("Не указан файл для экспорта."));
    if (info.isDir()) fail(EISDIR);
    const QString dir = info.absolutePath();
    // O_EXCL: a name another export is using at the same moment is never shared.
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temp_ = QDir(dir)
                    .filePath(QStringLiteral(".morv-export-%1-%2.tmp")
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')))
                    .toStdString();
        fd_ = dbf::os::open(temp_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd_ < 0 && (errno != EEXIST || attempt > 10)) {
            const int err = errno;
            temp_.clear();
            fail(err);
        }
    }
    buffer_.reserve(kBufferBytes);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) dbf::os::close(fd_);
    if (!committed_ && !temp_.empty()) dbf::os::remove(temp_);
}

std::string OutputFile::tempPath() {
    if (fd_ >= 0) {
        dbf::os::close(fd_);
        fd_ = -1;
    }
    return temp_;
}

void OutputFile::flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = dbf::os::pwrite(fd_, buffer_.data() + done, buffer_.size() - done, written_);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        if (n == 0) fail(ENOSPC);
        done += size_t(n);
        written_ += n;
    }
    buffer_.clear();
}

void OutputFile::write(const char* data, size_t n) {
    if (!failure_.isEmpty()) throw ExportError(failure_);
    if (fd_ < 0) fail(EBADF);
    buffer_.append(data, n);
    if (buffer_.size() >= kBufferBytes) flush();
}

void OutputFile::commit() {
    if (!failure_.isEmpty()) throw ExportError(failure_);
    if (fd_ < 0) {
        // Written by a library under the temporary name: open it again to sync it.
        fd_ = dbf::os::open(temp_, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) fail(errno);
    } else {
        flush();
    }
    if (dbf::os::sync(fd_) != 0) fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (dbf::os::close(fd) != 0) fail(errno);
    // In one step, over a file of that name too (which a plain rename refuses on Windows).
    if (dbf::os::rename(temp_, target_.toStdString()) != 0) fail(errno);
    committed_ = true;
    // The new name itself is on disk only once its folder is synced.
    dbf::os::syncDir(QFileInfo(target_).absolutePath().toStdString());
}

void OutputFile::fail(int err) const {
    fail(QString::fromStdString(dbf::os::reason(err)));
}

void OutputFile::fail(const QString& reason) const {
    if (!failure_.isEmpty()) throw ExportError(failure_);
    failure_ =
        QStringLiteral("Не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(target_), reason);
    throw ExportError(failure_);
}

} // namespace exporting
