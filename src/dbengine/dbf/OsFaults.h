#pragma once
#include "Os.h"

#include <cerrno>

// The test seams of the file layer, shared by both systems' Os files.
namespace dbf::os {

// 0, or the errno the current call must fail with.
int injected(Call call);

inline int failWith(int err) {
    errno = err;
    return -1;
}

void countRead(ssize_t n);

} // namespace dbf::os
