// Exit codes of horodex, one per kind of outcome so that scripts can tell them apart.
#pragma once

namespace Horodex {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;       // bad command line
inline constexpr int kExitFile = 2;        // a file cannot be read or written
inline constexpr int kExitBadMessage = 3;  // the bytes are not a request, response or token
inline constexpr int kExitNoStamp = 5;     // the server gave no Authenticode stamp
// horodex verify: the first check that failed.
inline constexpr int kExitStampMismatch = 20;     // the stamp is not for the data or request
inline constexpr int kExitNoTsaCertificate = 21;  // the TSA certificate is nowhere to be found
inline constexpr int kExitBadSignature = 22;      // content type, signature or extensions refused
inline constexpr int kExitChainRefused = 23;      // the TSA certificate's chain is not accepted

}  // namespace Horodex
