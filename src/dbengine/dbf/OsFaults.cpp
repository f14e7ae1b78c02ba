#include "OsFaults.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace dbf::os {

namespace {

struct Fault {
    int err = 0;
    int countdown = 0; // calls left before the failing one
    bool halfWritten = false;
};

std::atomic<bool> armed{false};
std::mutex faultMutex;
std::array<Fault, size_t(Call::Count)> faults;
std::atomic<uint64_t> readBytes{0};

} // namespace

int injected(Call call) {
    if (!armed.load(std::memory_order_relaxed)) return 0;
    std::lock_guard<std::mutex> lock(faultMutex);
    Fault& f = faults[size_t(call)];
    if (f.err == 0) return 0;
    if (--f.countdown > 0) return 0;
    const int err = f.err;
    f.err = 0;
    return err;
}

void failNext(Call call, int err, int nth) {
    std::lock_guard<std::mutex> lock(faultMutex);
    faults[size_t(call)] = {err, nth, false};
    armed = true;
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(faultMutex);
    faults = {};
    armed = false;
}

void countRead(ssize_t n) {
    if (n > 0) readBytes.fetch_add(uint64_t(n), std::memory_order_relaxed);
}

uint64_t bytesRead() {
    return readBytes.load(std::memory_order_relaxed);
}

} // namespace dbf::os
