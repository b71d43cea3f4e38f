// Exit codes of horodex, one per kind of outcome so that scripts can tell them apart.
#pragma once

namespace Horodex {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;       // bad command line
inline constexpr int kExitFile = 2;        // a file cannot be read or written
inline constexpr int kExitBadMessage = 3;  // the bytes are not a request, response or token
inline constexpr int kExitNoStamp = 5;     // the server gave no Authenticode stamp

}  // namespace Horodex
