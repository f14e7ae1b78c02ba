#include "SocketWait.h"

#include <winsock2.h>

namespace pg {

int waitSocket(int socket, bool forRead, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = SOCKET(socket);
    p.events = forRead ? POLLRDNORM : POLLWRNORM;
    const int ready = WSAPoll(&p, 1, timeoutMs);
    return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

} // namespace pg
