#pragma once

namespace pg {

// Waits until a socket can be read (or written): 1 when it can, 0 on the timeout (-1: none),
// -1 on a failure other than an interruption. One file per system (SocketWait*.cpp).
int waitSocket(int socket, bool forRead, int timeoutMs);

} // namespace pg
