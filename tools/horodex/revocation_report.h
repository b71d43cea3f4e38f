// What horodex says of revocation: the CRL files of --crl as a store for the verification, and
// the revocation details of the chain a stamp's verification built, one line per certificate
// below the root (source, status, thisUpdate and nextUpdate), as text and as JSON.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/free_with.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"

namespace Horodex {

struct RevocationLine {
  std::string subject;
  std::string status;  // "good", "revoked" or "unknown"
  long code = 0;  // S_OK, CRYPT_E_REVOKED, CRYPT_E_REVOCATION_OFFLINE, CRYPT_E_NO_REVOCATION_CHECK
  std::string source;  // "token", "--crl", "store folder", "cache", "network"; empty when unknown
  std::string kind;    // "CRL" or "OCSP"
  std::string thisUpdate, nextUpdate, revocationDate;  // "2026-12-08 01:02:03Z"; empty: none
  std::string reason;                                  // of a revoked certificate
  long firstError = 0;  // the first failure met on the way (a source that answered badly)
};

// "CN=TSA, O=Example": the certificate's subject as one line.
std::string SubjectOf(Velmora::Platform::PCCERT_CONTEXT certificate);

// The lines of a chain a stamp's verification built; none when there is no chain or it was not
// checked for revocation.
std::vector<RevocationLine> ChainRevocation(const Velmora::Platform::CERT_CHAIN_CONTEXT* chain);

// Owns a chain handed out by a verification.
using ChainPtr =
    std::unique_ptr<const Velmora::Platform::CERT_CHAIN_CONTEXT,
                    Velmora::Platform::FreeWith<Velmora::Platform::CertFreeCertificateChain>>;

// "CN=TSA: good (token, OCSP, this update ..., next update ...)".
std::string RevocationText(const RevocationLine& line);
// One JSON array of objects, a member per field that has a value.
std::string RevocationJson(const std::vector<RevocationLine>& lines);

struct CrlStoreCloser {
  void operator()(void* store) const noexcept;
};
using CrlStorePtr = std::unique_ptr<void, CrlStoreCloser>;
// A memory store holding the CRLs of the files (PEM, any number each, or one DER CRL). Throws
// std::runtime_error naming a file that cannot be read or holds no CRL the engine can use.
CrlStorePtr OpenCrlFiles(const std::vector<std::string>& paths);

}  // namespace Horodex
