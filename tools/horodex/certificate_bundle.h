// The certificates a user gives beside a stamp or a signature (--certs): a PEM bundle, or one
// DER certificate, as an in-memory store for the chain engine to take untrusted certificates from.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "platform/base/free_with.h"
#include "platform/capi/wincrypt.h"
#include "tools/horodex/revocation_report.h"

namespace Horodex {

inline void CloseCertificateStore(void* store) {
  Velmora::Platform::CertCloseStore(store, 0);
}
using StorePtr = std::unique_ptr<void, Velmora::Platform::FreeWith<CloseCertificateStore>>;

// The DER objects of a file: the contents of its PEM blocks of `pemType` ("CERTIFICATE",
// "X509 CRL"), else the whole file as one DER object. Throws std::runtime_error naming the file
// when it cannot be read or is larger than 64 MiB.
std::vector<Velmora::CBlob> ReadPemOrDer(const std::string& path, const char* pemType);

// A memory store holding every certificate of a PEM bundle, or the one certificate of a DER file.
// Throws std::runtime_error naming the file when it cannot be read, is larger than 64 MiB, or
// holds no certificate that decodes.
StorePtr OpenBundle(const std::string& path);

// The caller's untrusted material for a verification: the stores of the --certs bundles and of
// the --crl files, and their handles in that order for the library's `stores` argument.
struct CallerStores {
  std::vector<StorePtr> bundles;
  CrlStorePtr crls;
  std::vector<void*> handles;
};
// Nothing when a file cannot be read, after a message that starts with `who` on `err`.
std::optional<CallerStores> OpenCallerStores(const std::vector<std::string>& bundles,
                                             const std::vector<std::string>& crlFiles,
                                             const std::string& who, std::ostream& err);

}  // namespace Horodex
