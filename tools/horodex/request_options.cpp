// The options of every command that sends a request to a TSA, checked and put on the request.
#include "tools/horodex/request_options.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <utility>

#include "platform/base/free_with.h"
#include "platform/capi/wincrypt.h"
#include "platform/text/convert.h"
#include "tools/horodex/command_options.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/trusted_roots.h"

namespace Horodex {

namespace {

using Velmora::PKI::TSP::Client::CertContextPtr;
using Velmora::PKI::TSP::Client::CRequest;
namespace P = Velmora::Platform;

// The authentication type named on the command line; false for a name it does not know.
bool AuthType(const std::string& name, CRequest::enumAuthTypes& type) {
  static constexpr std::pair<const char*, CRequest::enumAuthTypes> kTypes[] = {
      {"", CRequest::Anonym},       {"none", CRequest::Anonym}, {"basic", CRequest::Basic},
      {"digest", CRequest::Digest}, {"ntlm", CRequest::NTLM},   {"negotiate", CRequest::Negotiate},
  };
  for (const auto& [text, value] : kTypes) {
    if (name == text) {
      type = value;
      return true;
    }
  }
  return false;
}

// A certificate context of a PEM or DER file, bound to the private key file `keyPath` (its key
// provider information names the file); null when the file holds no certificate.
CertContextPtr LoadClientCertificate(const std::string& certPath, const std::string& keyPath) {
  using BioPtr = std::unique_ptr<BIO, P::FreeWith<BIO_free>>;
  using X509Ptr = std::unique_ptr<X509, P::FreeWith<X509_free>>;
  BioPtr in(BIO_new_file(certPath.c_str(), "rb"));
  if (!in) {
    return nullptr;
  }
  X509Ptr certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
  if (!certificate) {
    BIO_reset(in.get());
    certificate.reset(d2i_X509_bio(in.get(), nullptr));
  }
  if (!certificate) {
    return nullptr;
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate.get(), &der);
  if (length <= 0) {
    return nullptr;
  }
  CertContextPtr context(
      P::CertCreateCertificateContext(P::X509_ASN_ENCODING, der, static_cast<P::DWORD>(length)));
  OPENSSL_free(der);
  if (!context) {
    return nullptr;
  }
  std::wstring key = P::NarrowToWide(keyPath);
  P::CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = key.data();
  if (!P::CertSetCertificateContextProperty(context.get(), P::CERT_KEY_PROV_INFO_PROP_ID, 0,
                                            &info)) {
    return nullptr;
  }
  return context;
}

}  // namespace

void AddRequestOptions(OptionReader& reader, RequestOptions& o) {
  reader.values({{"--timeout", &o.timeout},
                 {"--user", &o.user},
                 {"--password", &o.password},
                 {"--auth", &o.auth},
                 {"--proxy", &o.proxy},
                 {"--proxy-user", &o.proxyUser},
                 {"--proxy-password", &o.proxyPassword},
                 {"--proxy-auth", &o.proxyAuth},
                 {"--client-cert", &o.clientCert},
                 {"--client-key", &o.clientKey},
                 {"--tls-ca", &o.tlsCa},
                 {"--policy", &o.policy}});
  reader.values({{"--tsa", &o.tsas}, {"--ca", &o.caFiles}, {"--crl", &o.crlFiles}});
  reader.flags({{"--no-nonce", &o.noNonce}, {"--offline", &o.offline}});
  reader.flag("--cert-req", [&o] { o.certReq = true; });
  reader.flag("--no-cert-req", [&o] { o.certReq = false; });
  reader.flag("--no-verify", o.verify, false);
}

int FinishRequestOptions(RequestOptions& o, const UserSettings& settings, const std::string& who,
                         std::ostream& err) {
  for (const std::string& tsa : o.tsas) {
    if (!UsableTsaUrl(tsa)) {
      err << who << ": '" << tsa << "' is not an http:// or https:// URL of a TSA\n";
      return kExitUsage;
    }
  }
  if (!o.timeout.empty() && !TimeoutMs(o.timeout)) {
    err << who << ": --timeout takes a number of seconds from 0.001 to " << kMaxTimeoutSeconds
        << "\n";
    return kExitUsage;
  }
  if (o.clientCert.empty() != o.clientKey.empty()) {
    err << who << ": --client-cert and --client-key go together\n";
    return kExitUsage;
  }
  CRequest::enumAuthTypes type = CRequest::Anonym;
  if (!AuthType(o.auth, type) || !AuthType(o.proxyAuth, type)) {
    err << who << ": unknown authentication type (none, basic, digest, ntlm or negotiate)\n";
    return kExitUsage;
  }
  if (o.tsas.empty()) {
    o.tsas = settings.tsas;
  }
  if (o.caFiles.empty()) {
    o.caFiles = settings.caFiles;
  }
  // The TSA's certificate in the token is what lets anyone verify the stamp later, here and in
  // other tools: asked for unless --no-cert-req or the settings say no.
  o.certReq = o.certReq.value_or(settings.certReq.value_or(true));
  o.timeoutMs = o.timeout.empty() ? settings.timeoutMs : TimeoutMs(o.timeout);
  return kExitOk;
}

std::vector<std::string> RequestInputFiles(const RequestOptions& o) {
  std::vector<std::string> files{o.tlsCa, o.clientCert, o.clientKey};
  files.insert(files.end(), o.caFiles.begin(), o.caFiles.end());
  files.insert(files.end(), o.crlFiles.begin(), o.crlFiles.end());
  return files;
}

int ApplyRequestOptions(CRequest& request, const RequestOptions& o, CertContextPtr& clientCert,
                        const std::string& who, std::ostream& err) {
  if (!TrustRootFiles(o.caFiles, who, err)) {
    return kExitFile;
  }
  if (!o.policy.empty()) {
    request.put_PolicyID(o.policy.c_str());
  }
  if (o.noNonce) {
    request.put_UseNonce(false);
  }
  if (o.certReq) {
    request.put_CertReq(*o.certReq);
  }
  // What is not given keeps the policy's default (authentication types, proxy).
  CRequest::enumAuthTypes type = CRequest::Anonym;
  if (!o.auth.empty() && AuthType(o.auth, type)) {
    request.put_TSAAuthType(type);
  }
  if (!o.user.empty()) {
    request.put_TSAUserName(P::NarrowToWide(o.user).c_str());
    request.put_TSAPassword(P::NarrowToWide(o.password).c_str());
  }
  if (!o.proxy.empty()) {
    request.put_ProxyAddress(P::NarrowToWide(o.proxy).c_str());
  }
  if (!o.proxyAuth.empty() && AuthType(o.proxyAuth, type)) {
    request.put_ProxyAuthType(type);
  }
  if (!o.proxyUser.empty()) {
    request.put_ProxyUserName(P::NarrowToWide(o.proxyUser).c_str());
    request.put_ProxyPassword(P::NarrowToWide(o.proxyPassword).c_str());
  }
  if (!o.tlsCa.empty()) {
    if (const std::string problem = ReadProblem(o.tlsCa); !problem.empty()) {
      err << who << ": --tls-ca " << CannotRead(o.tlsCa) << "\n";
      return kExitFile;
    }
    request.put_TLSRootFile(P::NarrowToWide(o.tlsCa).c_str());
  }
  if (!o.clientCert.empty()) {
    for (const std::string& file : {o.clientCert, o.clientKey}) {
      if (const std::string problem = ReadProblem(file); !problem.empty()) {
        err << who << ": " << CannotRead(file) << "\n";
        return kExitFile;
      }
    }
    clientCert = LoadClientCertificate(o.clientCert, o.clientKey);
    if (!clientCert) {
      err << who << ": --client-cert " << o.clientCert << " holds no certificate\n";
      return kExitFile;
    }
    request.put_ClientCertificate(clientCert.get());
  }
  if (o.timeoutMs) {
    request.put_Timeout(*o.timeoutMs);
  }
  return kExitOk;
}

}  // namespace Horodex
