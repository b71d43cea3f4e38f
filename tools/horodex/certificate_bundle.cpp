// The caller's --certs bundles and --crl files opened as stores for the chain engine.
#include "tools/horodex/certificate_bundle.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "codec/corekit/blob.h"
#include "platform/capi/cert_bundle_file.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"

namespace Horodex {

namespace {

using Velmora::CBlob;
namespace P = Velmora::Platform;

constexpr std::size_t kMaxBundleSize = 64u << 20;

}  // namespace

std::vector<CBlob> ReadPemOrDer(const std::string& path, const char* pemType) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> raw((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    throw std::runtime_error(CannotRead(path));
  }
  if (raw.size() > kMaxBundleSize) {
    throw std::runtime_error(path + " is larger than a certificate bundle can be");
  }
  std::vector<CBlob> objects;
  for (const P::Capi::BundleObject& object : P::Capi::ReadBundleObjects(raw)) {
    if (object.pemType.empty() || object.pemType == pemType) {
      objects.emplace_back(object.der);
    }
  }
  return objects;
}

StorePtr OpenBundle(const std::string& path) {
  const std::vector<CBlob> certificates = ReadPemOrDer(path, "CERTIFICATE");
  StorePtr store(P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!store) {
    throw std::runtime_error("cannot open a certificate store");
  }
  for (const CBlob& der : certificates) {
    const P::PCCERT_CONTEXT context =
        P::CertCreateCertificateContext(P::X509_ASN_ENCODING | P::PKCS_7_ASN_ENCODING, der.pbData(),
                                        static_cast<P::DWORD>(der.cbData()));
    if (context == nullptr) {
      throw std::runtime_error(path + " holds a certificate that does not decode");
    }
    P::CertAddCertificateContextToStore(store.get(), context, P::CERT_STORE_ADD_ALWAYS, nullptr);
    P::CertFreeCertificateContext(context);
  }
  if (certificates.empty()) {
    throw std::runtime_error(path + " holds no certificate");
  }
  return store;
}

std::optional<CallerStores> OpenCallerStores(const std::vector<std::string>& bundles,
                                             const std::vector<std::string>& crlFiles,
                                             const std::string& who, std::ostream& err) {
  CallerStores stores;
  try {
    for (const std::string& path : bundles) {
      stores.bundles.push_back(OpenBundle(path));
      stores.handles.push_back(stores.bundles.back().get());
    }
    if (!crlFiles.empty()) {
      stores.crls = OpenCrlFiles(crlFiles);
      stores.handles.push_back(stores.crls.get());
    }
  } catch (const std::exception& e) {
    err << who << ": " << e.what() << "\n";
    return std::nullopt;
  } catch (const P::CAtlException& e) {
    err << who << ": " << ErrorText(e.hr()) << "\n";
    return std::nullopt;
  }
  return stores;
}

}  // namespace Horodex
