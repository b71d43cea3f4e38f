// What one piece of revocation data (a CRL or an OCSP response) says about one certificate, and
// the time helpers its judges share.
#pragma once

#include <openssl/asn1.h>

#include <cstdint>

#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

struct RevocationAnswer {
  enum class Status { NoAnswer, Good, Revoked };
  Status status = Status::NoAnswer;
  // Why the data gave no answer: CRYPT_E_ASN1_ERROR (does not decode), TRUST_E_CERT_SIGNATURE
  // (signer or signature not good), CRYPT_E_NO_MATCH (about another issuer or certificate),
  // CERT_E_EXPIRED (not fresh), CRYPT_E_NOT_IN_REVOCATION_DATABASE (the responder does not know
  // the certificate), CRYPT_E_REVOCATION_OFFLINE (an OCSP status other than successful) ...
  HRESULT error = 0;
  LONG reason = REVOCATION_REASON_NONE;
  std::uint64_t revocationDate = 0;  // FILETIME values
  std::uint64_t thisUpdate = 0;
  std::uint64_t nextUpdate = 0;  // 0: none given
  DWORD kind = REVOCATION_KIND_NONE;

  static RevocationAnswer Failed(HRESULT why, DWORD kind) {
    RevocationAnswer answer;
    answer.error = why;
    answer.kind = kind;
    return answer;
  }
};

// An ASN1_TIME as a FILETIME value; 0 for null or a time that does not convert.
std::uint64_t FileTimeOf(const ASN1_TIME* time) noexcept;

// How long a piece of data without nextUpdate is believed after its thisUpdate: one hour.
inline constexpr std::uint64_t kNoNextUpdateLifetime = 3600ull * 10000000ull;

// How far a responder's or a CA's clock may run ahead of ours: data whose thisUpdate is later than
// our `now` by less than this is taken, as OpenSSL's OCSP client takes it by default. Without it an
// answer fetched during a check, dated by a server in a second our clock had not reached when the
// check began, would be refused as not yet valid.
inline constexpr std::uint64_t kClockSkewAllowance = 5ull * 60 * 10000000ull;

// The times revocation data is judged at (FILETIME values): `now`, which its thisUpdate must not
// be after (but for the clock skew allowed), and the time of checking, which its nextUpdate must
// not be before and at which a delegated responder must be valid: now, or the stamp's time plus a
// grace period, as the administrator chooses (REVOCATION_DATA_BLOBS::pCheckTime).
struct CheckTime {
  std::uint64_t now;
  std::uint64_t check;
};

// Whether data dated `thisUpdate` was issued after `at.now`, beyond the clock skew allowed: such
// data never counts.
inline bool IssuedAhead(std::uint64_t thisUpdate, const CheckTime& at) noexcept {
  return thisUpdate > at.now + kClockSkewAllowance;
}

// Whether data issued at thisUpdate with nextUpdate (0: none) may be used at `at`.
inline bool Fresh(std::uint64_t thisUpdate, std::uint64_t nextUpdate,
                  const CheckTime& at) noexcept {
  const std::uint64_t until = nextUpdate != 0 ? nextUpdate : thisUpdate + kNoNextUpdateLifetime;
  return thisUpdate != 0 && !IssuedAhead(thisUpdate, at) && at.check <= until;
}

}  // namespace Velmora::Platform::Capi
