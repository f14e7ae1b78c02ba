#include "SocketWait.h"

#include <cerrno>
#include <poll.h>

namespace pg {

int waitSocket(int socket, bool forRead, int timeoutMs) {
    for (;;) {
        pollfd p{socket, short(forRead ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

} // namespace pg
