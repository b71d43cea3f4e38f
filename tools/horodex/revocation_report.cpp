// What horodex says of revocation: CRL files as a store, and a chain's revocation lines.
#include "tools/horodex/revocation_report.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/base/free_with.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/last_error.h"
#include "platform/text/convert.h"
#include "support/error_messages.h"
#include "tools/horodex/certificate_bundle.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/time_text.h"

namespace Horodex {
namespace {

namespace P = Velmora::Platform;
template <auto Free>
using Owned = P::FreeWith<Free>;

std::string Code(long hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string Message(long hr) {
  return P::WideToNarrow(Velmora::Support::GetErrorMessage(static_cast<P::HRESULT>(hr)));
}

// "2026-12-08 01:02:03Z"; empty for a zero FILETIME.
std::string TimeText(const P::FILETIME& time) {
  const std::uint64_t value = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  if (value == 0) {
    return {};
  }
  const std::time_t seconds =
      static_cast<std::time_t>(value / P::kFileTimeTicksPerSecond) - P::kFileTimeEpochOffsetSeconds;
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &parts);
  return text;
}

std::string SourceName(P::DWORD source) {
  switch (source) {
    case P::REVOCATION_SOURCE_CALL:
      return "token";
    case P::REVOCATION_SOURCE_CHAIN_STORE:
      return "--crl";
    case P::REVOCATION_SOURCE_STORE:
      return "store folder";
    case P::REVOCATION_SOURCE_CACHE:
      return "cache";
    case P::REVOCATION_SOURCE_NETWORK:
      return "network";
    default:
      return {};
  }
}

std::string ReasonName(P::LONG reason) {
  static const char* const kNames[] = {
      "unspecified",   "keyCompromise",        "cACompromise",    "affiliationChanged",
      "superseded",    "cessationOfOperation", "certificateHold", "",
      "removeFromCRL", "privilegeWithdrawn",   "aACompromise"};
  return reason >= 0 && reason <= 10 ? kNames[reason] : "";
}

}  // namespace

// Only the subject name is decoded: a whole certificate would make OpenSSL decode its public
// key too, which costs more than the rest of a report.
std::string SubjectOf(P::PCCERT_CONTEXT certificate) {
  const P::CERT_NAME_BLOB& subject = certificate->pCertInfo->Subject;
  const unsigned char* cursor = subject.pbData;
  const std::unique_ptr<X509_NAME, Owned<X509_NAME_free>> name(
      d2i_X509_NAME(nullptr, &cursor, static_cast<long>(subject.cbData)));
  if (!name) {
    return {};
  }
  const std::unique_ptr<BIO, Owned<BIO_free>> bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name.get(), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::vector<RevocationLine> ChainRevocation(const P::CERT_CHAIN_CONTEXT* chain) {
  std::vector<RevocationLine> lines;
  if (chain == nullptr || chain->cChain == 0) {
    return lines;
  }
  const P::CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  for (P::DWORD i = 0; i < simple.cElement; ++i) {
    const P::CERT_REVOCATION_INFO* info = simple.rgpElement[i]->pRevocationInfo;
    if (info == nullptr) {
      continue;
    }
    RevocationLine line;
    line.subject = SubjectOf(simple.rgpElement[i]->pCertContext);
    line.code = static_cast<long>(info->dwRevocationResult);
    line.status = info->dwRevocationResult == 0 ? "good"
                  : static_cast<P::HRESULT>(info->dwRevocationResult) == P::CRYPT_E_REVOKED
                      ? "revoked"
                      : "unknown";
    line.source = SourceName(info->dwSource);
    line.kind = info->dwKind == P::REVOCATION_KIND_CRL    ? "CRL"
                : info->dwKind == P::REVOCATION_KIND_OCSP ? "OCSP"
                                                          : "";
    line.thisUpdate = TimeText(info->ThisUpdate);
    line.nextUpdate = TimeText(info->NextUpdate);
    if (line.status == "revoked") {
      line.revocationDate = TimeText(info->RevocationDate);
      line.reason = ReasonName(info->lReason);
    }
    line.firstError = static_cast<long>(info->dwFirstSourceError);
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string RevocationText(const RevocationLine& line) {
  std::string text = line.subject + ": " + line.status;
  if (line.code != 0) {
    text += " " + Code(line.code) + " " + Message(line.code);
  }
  std::string details = line.source;
  const auto add = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) {
      details += (details.empty() ? "" : ", ") + label + value;
    }
  };
  add("", line.kind);
  add("revoked ", line.revocationDate);
  add("", line.reason);
  add("this update ", line.thisUpdate);
  add("next update ", line.nextUpdate);
  if (line.firstError != 0) {
    add("first failure ", Code(line.firstError) + " " + Message(line.firstError));
  }
  return details.empty() ? text : text + " (" + details + ")";
}

std::string RevocationJson(const std::vector<RevocationLine>& lines) {
  std::vector<std::string> objects;
  for (const RevocationLine& line : lines) {
    FieldList fields;
    fields.text("subject", "", line.subject);
    fields.text("status", "", line.status);
    fields.text("code", "", Code(line.code));
    // Every member is there; what the answer does not give is null.
    fields.optionalText("source", "", line.source);
    fields.optionalText("kind", "", line.kind);
    fields.optionalText("revocationDate", "",
                        line.revocationDate.empty() ? "" : JsonTime(line.revocationDate));
    fields.optionalText("reason", "", line.reason);
    fields.optionalText("thisUpdate", "", line.thisUpdate.empty() ? "" : JsonTime(line.thisUpdate));
    fields.optionalText("nextUpdate", "", line.nextUpdate.empty() ? "" : JsonTime(line.nextUpdate));
    fields.optionalText("firstError", "", line.firstError != 0 ? Code(line.firstError) : "");
    objects.push_back(fields.json());
  }
  return JsonArray(objects);
}

void CrlStoreCloser::operator()(void* store) const noexcept {
  P::CertCloseStore(store, 0);
}

CrlStorePtr OpenCrlFiles(const std::vector<std::string>& paths) {
  CrlStorePtr store(P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!store) {
    throw std::runtime_error("cannot open a store for CRLs");
  }
  for (const std::string& path : paths) {
    const std::vector<Velmora::CBlob> crls = ReadPemOrDer(path, "X509 CRL");
    if (crls.empty()) {
      throw std::runtime_error(path + " holds no CRL");
    }
    for (const Velmora::CBlob& der : crls) {
      if (!P::CertAddEncodedCRLToStore(store.get(), P::X509_ASN_ENCODING, der.pbData(),
                                       static_cast<P::DWORD>(der.cbData()),
                                       P::CERT_STORE_ADD_ALWAYS, nullptr)) {
        const long hr = static_cast<long>(P::GetLastError());
        throw std::runtime_error(path + ": " + Code(hr) + " " + Message(hr));
      }
    }
  }
  return store;
}

}  // namespace Horodex
