// The test CA's own revocation service, on the test TSA's port: a CRL (GET /ca.crl) that revokes
// nothing, and OCSP answers (POST /ocsp) that call the TSA's certificate good, both signed by the
// CA. The TSA certificate names both, so a stamp of the test TSA verifies with a clean
// revocation check instead of "unknown".
#pragma once

#include <string>

#include "pki.h"

namespace TestTsa {

class CaRevocation {
 public:
  // `pki` must outlive this object.
  explicit CaRevocation(const Pki& pki);

  // The DER CRL, made at each call (a server left running never serves a stale one): thisUpdate
  // an hour ago, nextUpdate in a week, no entries.
  std::string Crl() const;
  // The DER OCSPResponse to a DER OCSPRequest: good for the TSA certificate, "unauthorized" for
  // anything else and "malformedRequest" for what does not decode.
  std::string OcspAnswer(const std::string& request) const;

 private:
  const Pki& m_pki;
};

}  // namespace TestTsa
