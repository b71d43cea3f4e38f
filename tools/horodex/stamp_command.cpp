// horodex stamp: options, the request, the exchanges with the TSAs in turn (Send), verification,
// and the report.
#include "tools/horodex/stamp_command.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>

#include "TSP/horodex/CapiHandles.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/text/atl_exception.h"
#include "platform/text/convert.h"
#include "platform/text/free_with.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "tools/horodex/command_options.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/revocation_report.h"
#include "tools/horodex/show_command.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace {

using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CertContextPtr;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;
namespace P = Velmora::Platform;
namespace S = Velmora::Support;

constexpr const char* kUsage =
    "usage: horodex stamp FILE --tsa URL [--tsa URL]... [--timeout SECONDS]\n"
    "                     [--user U --password P] [--auth TYPE]\n"
    "                     [--proxy URL [--proxy-user U --proxy-password P] [--proxy-auth TYPE]]\n"
    "                     [--client-cert CERT --client-key KEY] [--tls-ca PEMFILE]\n"
    "                     [--hash ALG] [--policy OID]\n"
    "                     [--no-nonce] [--cert-req | --no-cert-req] [--no-verify]\n"
    "                     [--ca CERTFILE]... [--offline] [--crl FILE]... [--json]\n"
    "                     -o OUT.tsr\n"
    "       TYPE: none, basic, digest, ntlm or negotiate\n";

struct Options {
  std::string file, user, password, auth, proxy, proxyUser, proxyPassword, proxyAuth;
  std::string clientCert, clientKey, tlsCa, hash, policy, output, timeout;
  std::vector<std::string> tsas, caFiles, crlFiles;
  std::optional<bool> certReq;
  bool noNonce = false, verify = true, json = false, offline = false;
};

// False with a message when the command line is not one this command takes.
bool Parse(const std::vector<std::string>& args, Options& o, std::ostream& err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string* into = nullptr;
    if (arg == "--tsa") {
      o.tsas.emplace_back();
      into = &o.tsas.back();
    } else if (arg == "--timeout") {
      into = &o.timeout;
    } else if (arg == "--user") {
      into = &o.user;
    } else if (arg == "--password") {
      into = &o.password;
    } else if (arg == "--auth") {
      into = &o.auth;
    } else if (arg == "--proxy") {
      into = &o.proxy;
    } else if (arg == "--proxy-user") {
      into = &o.proxyUser;
    } else if (arg == "--proxy-password") {
      into = &o.proxyPassword;
    } else if (arg == "--proxy-auth") {
      into = &o.proxyAuth;
    } else if (arg == "--client-cert") {
      into = &o.clientCert;
    } else if (arg == "--client-key") {
      into = &o.clientKey;
    } else if (arg == "--tls-ca") {
      into = &o.tlsCa;
    } else if (arg == "--hash") {
      into = &o.hash;
    } else if (arg == "--policy") {
      into = &o.policy;
    } else if (arg == "-o") {
      into = &o.output;
    } else if (arg == "--ca") {
      o.caFiles.emplace_back();
      into = &o.caFiles.back();
    } else if (arg == "--no-nonce") {
      o.noNonce = true;
    } else if (arg == "--cert-req" || arg == "--no-cert-req") {
      o.certReq = arg == "--cert-req";
    } else if (arg == "--no-verify") {
      o.verify = false;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--offline") {
      o.offline = true;
    } else if (arg == "--crl") {
      o.crlFiles.emplace_back();
      into = &o.crlFiles.back();
    } else if (arg.size() > 1 && arg[0] == '-') {
      err << "horodex stamp: unknown option '" << arg << "'\n" << kUsage;
      return false;
    } else if (o.file.empty()) {
      o.file = arg;
    } else {
      err << "horodex stamp: unexpected argument '" << arg << "'\n" << kUsage;
      return false;
    }
    if (into != nullptr) {
      if (i + 1 >= args.size()) {
        err << "horodex stamp: " << arg << " needs a value\n" << kUsage;
        return false;
      }
      *into = args[++i];
    }
  }
  for (const std::string& tsa : o.tsas) {
    if (!UsableTsaUrl(tsa)) {
      err << "horodex stamp: '" << tsa << "' is not an http:// or https:// URL of a TSA\n";
      return false;
    }
  }
  if (!o.timeout.empty() && !TimeoutMs(o.timeout)) {
    err << "horodex stamp: --timeout takes a number of seconds from 0.001 to " << kMaxTimeoutSeconds
        << "\n";
    return false;
  }
  if (o.file.empty() || o.output.empty() || o.clientCert.empty() != o.clientKey.empty()) {
    err << kUsage;
    return false;
  }
  return true;
}

// The user's settings under the command line: what the line does not give comes from the file.
void TakeDefaults(Options& o, const UserSettings& settings, std::optional<unsigned long>& timeout) {
  if (o.tsas.empty()) {
    o.tsas = settings.tsas;
  }
  if (o.caFiles.empty()) {
    o.caFiles = settings.caFiles;
  }
  if (o.hash.empty()) {
    o.hash = settings.hash;
  }
  if (!o.certReq) {
    o.certReq = settings.certReq;
  }
  timeout = o.timeout.empty() ? settings.timeoutMs : TimeoutMs(o.timeout);
}

// The authentication type named on the command line; false for a name it does not know.
bool AuthType(const std::string& name, CRequest::enumAuthTypes& type) {
  if (name.empty() || name == "none") {
    type = CRequest::Anonym;
  } else if (name == "basic") {
    type = CRequest::Basic;
  } else if (name == "digest") {
    type = CRequest::Digest;
  } else if (name == "ntlm") {
    type = CRequest::NTLM;
  } else if (name == "negotiate") {
    type = CRequest::Negotiate;
  } else {
    return false;
  }
  return true;
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

// The exit code of a failure of Send(false): the policy checks, the exchange, or the reply.
int SendFailureExit(P::HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  switch (hr) {
    case S::HORODEX_E_AUTH_TYPE_PROHIBITED:
    case S::HORODEX_E_PROXY_AUTH_TYPE_PROHIBITED:
    case S::HORODEX_E_TSA_PROHIBITED:
    case S::HORODEX_E_NONCE_PROHIBITED:
    case S::HORODEX_E_HASH_ALG_PROHIBITED:
    case S::HORODEX_E_POLICY_ID_PROHIBITED:
      return kExitPolicy;
    case S::HORODEX_E_HTTP_ERROR:
      return kExitTransport;
    default:
      break;
  }
  if (code >= 0x80072EE0u && code <= 0x800732C7u) {  // WinHTTP's errors, 12000 to 12999
    return kExitTransport;
  }
  return kExitBadReply;
}

CBlob StampBytes(const CStamp& stamp, void (CStamp::*get)(unsigned char*, unsigned long*) const) {
  unsigned long length = 0;
  (stamp.*get)(nullptr, &length);
  CBlob bytes(length);
  (stamp.*get)(bytes.pbData(), &length);
  return bytes;
}

void Report(const FieldList& fields, bool json, std::ostream& out) {
  if (json) {
    fields.writeJson(out);
  } else {
    fields.writeText(out);
  }
}

// The failure as fields: what went wrong, its code and text.
FieldList FailureFields(const std::string& stage, P::HRESULT hr) {
  FieldList fields;
  fields.text("result", "Result", "failed");
  fields.text("stage", "Stage", stage);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  fields.text("code", "Code", code);
  fields.text("message", "Message", P::WideToUtf8(S::GetErrorMessage(hr)));
  return fields;
}

// The revocation lines of the stamp's chain, one field.
void AddRevocation(FieldList& fields, const std::vector<RevocationLine>& lines) {
  if (lines.empty()) {
    return;
  }
  std::string text;
  for (const RevocationLine& line : lines) {
    text += (text.empty() ? "" : "\n") + RevocationText(line);
  }
  fields.structured("revocation", "Revocation", text, RevocationJson(lines));
}

// failInfo bits of a refusal that another TSA may not share: the next one is tried.
constexpr unsigned kPassingFailures = 1u << 14 | 1u << 25;  // timeNotAvailable, systemFailure

// What came of one exchange: a stamp to verify, or a failure reported with its exit code.
struct Attempt {
  CStamp* stamp = nullptr;
  int exit = kExitOk;
  FieldList failure;
  std::string why;       // the failure in a few words
  bool tryNext = false;  // a failure the next TSA may not share
};

Attempt Exchange(CRequest& request) {
  Attempt attempt;
  try {
    attempt.stamp = &request.Send(false);
  } catch (const P::CAtlException& e) {
    attempt.exit = SendFailureExit(e);
    const char* what = attempt.exit == kExitPolicy      ? "policy"
                       : attempt.exit == kExitTransport ? "transport"
                                                        : "reply";
    attempt.failure = FailureFields(what, e);
    if (request.get_HTTPStatus() != 0) {
      attempt.failure.number("httpStatus", "HTTP status", request.get_HTTPStatus());
    }
    attempt.why = ErrorText(e);
    attempt.tryNext = attempt.exit == kExitTransport;
    return attempt;
  }
  if (attempt.stamp->get_Status() > 1) {
    attempt.exit = kExitTsaRefused;
    attempt.failure = FailureFields("refused", S::HORODEX_E_TSA_UNSUCCESSFUL);
    attempt.failure.number("status", "Status", attempt.stamp->get_Status());
    attempt.failure.number("failInfo", "Failure info", attempt.stamp->get_FailInfo());
    attempt.failure.text("statusText", "Status text",
                         P::WideToUtf8(attempt.stamp->get_StatusString()));
    attempt.why = "refused, failInfo " + std::to_string(attempt.stamp->get_FailInfo());
    attempt.tryNext = (attempt.stamp->get_FailInfo() & kPassingFailures) != 0;
    attempt.stamp = nullptr;
  }
  return attempt;
}

}  // namespace

int RunStamp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!Parse(args, o, err)) {
    return kExitUsage;
  }
  const std::optional<UserSettings> settings = LoadUserSettings("stamp", err);
  if (!settings) {
    return kExitFile;
  }
  std::optional<unsigned long> timeout;
  TakeDefaults(o, *settings, timeout);
  CRequest::enumAuthTypes auth = CRequest::Anonym;
  CRequest::enumAuthTypes proxyAuth = CRequest::Anonym;
  if (!AuthType(o.auth, auth) || !AuthType(o.proxyAuth, proxyAuth)) {
    err << "horodex stamp: unknown authentication type\n" << kUsage;
    return kExitUsage;
  }
  for (const std::string& ca : o.caFiles) {
    const P::HRESULT hr = P::CertAddTrustedRootsFromFile(ca.c_str());
    if (P::FAILED(hr)) {
      err << "horodex stamp: cannot take the roots of " << ca << " (" << ErrorText(hr) << ")\n";
      return kExitFile;
    }
  }
  try {
    CRequest request;
    // Neither the command line nor the settings name a TSA: the DefaultTSPURL policy's, if any.
    const std::string policyTsa = P::WideToUtf8(request.get_TSAAddress());
    if (o.tsas.empty() && !policyTsa.empty()) {
      o.tsas.push_back(policyTsa);
    }
    if (o.tsas.empty()) {
      err << "horodex stamp: no TSA: give --tsa URL, or tsa = URL in " << UserSettingsPath() << "\n"
          << kUsage;
      return kExitUsage;
    }
    if (!o.hash.empty()) {
      const std::string oid = HashOid(o.hash);
      if (oid.empty()) {
        err << "horodex stamp: unknown hash algorithm '" << o.hash << "'\n";
        return kExitUsage;
      }
      request.put_DataHashAlg(oid.c_str());
      WarnWeakHash(oid, "stamp", err);
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
    if (!o.auth.empty()) {
      request.put_TSAAuthType(auth);
    }
    if (!o.user.empty()) {
      request.put_TSAUserName(P::NarrowToWide(o.user).c_str());
      request.put_TSAPassword(P::NarrowToWide(o.password).c_str());
    }
    if (!o.proxy.empty()) {
      request.put_ProxyAddress(P::NarrowToWide(o.proxy).c_str());
    }
    if (!o.proxyAuth.empty()) {
      request.put_ProxyAuthType(proxyAuth);
    }
    if (!o.proxyUser.empty()) {
      request.put_ProxyUserName(P::NarrowToWide(o.proxyUser).c_str());
      request.put_ProxyPassword(P::NarrowToWide(o.proxyPassword).c_str());
    }
    if (!o.tlsCa.empty()) {
      if (!std::ifstream(o.tlsCa)) {
        err << "horodex stamp: cannot read " << o.tlsCa << "\n";
        return kExitFile;
      }
      request.put_TLSRootFile(P::NarrowToWide(o.tlsCa).c_str());
    }
    CertContextPtr clientCert;
    if (!o.clientCert.empty()) {
      clientCert = LoadClientCertificate(o.clientCert, o.clientKey);
      if (!clientCert) {
        err << "horodex stamp: no certificate in " << o.clientCert << "\n";
        return kExitFile;
      }
      request.put_ClientCertificate(clientCert.get());
    }
    if (!HashFile(request, o.file, "stamp", err)) {
      return kExitFile;
    }

    // The exchanges and the request's own checks of the reply, one TSA after the other while
    // the failure is one the next may not share; verification comes after, so that each kind of
    // failure has its exit code, and a stamp that does not verify is reported, not passed over.
    // The time-out bounds each exchange, so that a TSA that hangs leaves time for the next.
    if (timeout) {
      request.put_Timeout(*timeout);
    }
    Attempt attempt;
    std::string answered, tried;
    for (std::size_t n = 0; n < o.tsas.size(); ++n) {
      request.put_TSAAddress(P::NarrowToWide(o.tsas[n]).c_str());
      attempt = Exchange(request);
      tried = o.tsas[n];
      if (attempt.stamp != nullptr) {
        answered = o.tsas[n];
        break;
      }
      if (!attempt.tryNext) {
        break;
      }
      if (n + 1 < o.tsas.size()) {
        err << "horodex stamp: " << o.tsas[n] << ": " << attempt.why << "; trying " << o.tsas[n + 1]
            << "\n";
      }
    }
    if (attempt.stamp == nullptr) {
      attempt.failure.text("tsaUrl", "TSA URL", tried);
      Report(attempt.failure, o.json, out);
      return attempt.exit;
    }
    CStamp* stamp = attempt.stamp;
    std::vector<RevocationLine> revocation;
    if (o.verify) {
      // Revocation of the new stamp's chain as horodex verify checks it: --offline, --crl.
      P::CertSetRevocationNetworkForThread(o.offline ? P::FALSE : P::TRUE);
      CrlStorePtr crls;
      try {
        crls = o.crlFiles.empty() ? nullptr : OpenCrlFiles(o.crlFiles);
      } catch (const std::exception& e) {
        err << "horodex stamp: " << e.what() << "\n";
        return kExitFile;
      }
      void* stores[] = {crls.get()};
      P::HRESULT hr = stamp->Verify(nullptr, nullptr);
      const char* what = "signature";
      if (P::SUCCEEDED(hr)) {
        hr = stamp->VerifyCertificate(nullptr, stores, crls ? 1 : 0);
        what = "certificate";
        revocation = LastChainRevocation(stamp->get_TSACertificate(stores, crls ? 1 : 0));
      }
      if (P::FAILED(hr)) {
        FieldList fields = FailureFields(what, hr);
        if (hr == P::CRYPT_E_NOT_FOUND && !o.certReq.value_or(false)) {
          fields.text("hint", "Hint",
                      "the TSA certificate is not in the token; ask for it with --cert-req");
        }
        fields.text("tsaUrl", "Answered by", answered);
        AddRevocation(fields, revocation);
        Report(fields, o.json, out);
        return kExitNotVerified;
      }
    }

    const CBlob response = request.get_Response();
    std::ofstream file(o.output, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(response.pbData()),
               static_cast<std::streamsize>(response.cbData()));
    file.close();
    if (!file) {
      err << "horodex stamp: cannot write " << o.output << "\n";
      return kExitFile;
    }
    const CBlob tsaName = StampBytes(*stamp, &CStamp::get_TSABlob);
    FieldList fields;
    fields.text("result", "Result", o.verify ? "verified" : "not verified (--no-verify)");
    fields.text("time", "Time", TimeText(stamp->get_Time()));
    fields.text("serialNumber", "Serial number",
                StampBytes(*stamp, &CStamp::get_SerialNumber).writeToHexString(0).str());
    fields.text("tsa", "TSA", tsaName.empty() ? "absent" : P::WideToUtf8(stamp->get_TSA()));
    fields.text("policy", "Policy", stamp->get_PolicyID());
    fields.text("tsaUrl", "Answered by", answered);
    fields.text("output", "Written to", o.output);
    AddRevocation(fields, revocation);
    Report(fields, o.json, out);
    return kExitOk;
  } catch (const P::CAtlException& e) {
    err << "horodex stamp: cannot make the request (" << ErrorText(e) << ")\n";
    return kExitBadMessage;
  }
}

}  // namespace Horodex
