// The misbehaving peers of horodex-testtsa --hostile and what an exchange with each must end in:
// the WinHTTP error number, or a reply of a given length. Shared by the exchange test and the soak.
#pragma once

#include <cstddef>

namespace Velmora::Testing {

struct HostileMode {
  const char* mode;
  bool tls;
  unsigned code;            // 0: a reply
  std::size_t replyLength;  // of that reply
  bool largeBody;           // posts a body larger than the socket buffers, so a send can stall
  bool digest = false;      // answers the server's Digest challenge with credentials
};

inline constexpr HostileMode kHostileModes[] = {
    {"tls-stall", true, 12002, 0, false},   // the connect time-out covers the handshake
    {"wrong-host", true, 12175, 0, false},  // every TLS server certificate fault: secure failure
    {"expired", true, 12175, 0, false},
    {"self-signed", true, 12175, 0, false},
    {"tls10", true, 12175, 0, false},  // TLS below 1.2 is never spoken
    {"endless-headers", false, 12182, 0, false},
    {"long-header", false, 12182, 0, false},
    {"length-over", false, 12030, 0, false},  // a body cut short is never a shorter reply
    {"length-under", false, 0, 100, false},   // the bytes beyond the length are not the next reply
    {"bad-chunk", false, 12152, 0, false},
    {"status-only", false, 12030, 0, false},
    {"gzip-bomb", false, 12152, 0, false},  // a coding we never asked for is refused, not inflated
    {"continue-100", false, 0, 0, false},   // interim replies are passed over
    {"deaf", false, 12002, 0, true},        // a body it never reads: the send time-out
    // What libcurl 7.88 would append to a header it freed after the handle's first transfer.
    {"digest-folded", false, 12152, 0, false, true},
};

}  // namespace Velmora::Testing
