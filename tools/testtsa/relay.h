// The byte pipe of the test proxy: a connection to a loopback peer, and the copying of bytes
// between two sockets.
#pragma once

#include <string>

namespace TestTsa {

// A TCP connection to "host:port" where the host is 127.0.0.1, localhost or [::1]; -1 for any
// other host or when nothing answers.
int ConnectLoopback(const std::string& authority);

// Sends `pending` to `upstream`, then copies bytes both ways until either side ends; closes
// `upstream`.
void Splice(int client, int upstream, const std::string& pending);

}  // namespace TestTsa
