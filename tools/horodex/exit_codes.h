// Exit codes of horodex, one per kind of outcome so that scripts can tell them apart.
#pragma once

namespace Horodex {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;       // bad command line
inline constexpr int kExitFile = 2;        // a file cannot be read or written
inline constexpr int kExitBadMessage = 3;  // the bytes are not a request, response or token
inline constexpr int kExitNoStamp = 5;     // the server gave no Authenticode stamp
// horodex stamp: how the way to a verified stamp failed.
inline constexpr int kExitPolicy = 10;      // an administrator policy forbids the request
inline constexpr int kExitTransport = 11;   // the TSA was not reached, or answered an HTTP error
inline constexpr int kExitTsaRefused = 12;  // the TSA refused (status rejection or worse)
inline constexpr int kExitBadReply = 13;  // the reply does not answer the request, or is malformed
inline constexpr int kExitNotVerified = 14;  // the signature or TSA certificate is not valid
// horodex verify: the first check that failed.
inline constexpr int kExitStampMismatch = 20;     // the stamp is not for the data or request
inline constexpr int kExitNoTsaCertificate = 21;  // the TSA certificate is nowhere to be found
inline constexpr int kExitBadSignature = 22;      // content type, signature or extensions refused
inline constexpr int kExitChainRefused = 23;      // the TSA certificate's chain is not accepted
// A fault inside the tool or library, not of its input (sysexits' EX_SOFTWARE).
inline constexpr int kExitInternal = 70;

}  // namespace Horodex
