// What verify adds to a failed check's line.
#include "tools/horodex/verify_details.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "horodex/TSPRequest.h"
#include "platform/base/free_with.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/revocation_report.h"
#include "tools/horodex/status_name.h"

namespace Horodex {

using Velmora::CBlob;
namespace P = Velmora::Platform;

namespace {

std::string Named(const std::string& oid) {
  const std::string name = OidName(oid);
  return name.empty() ? oid : name + " (" + oid + ")";
}

}  // namespace

std::string WeakAlgorithmDetail(const CBlob& stampBytes, bool chain, P::PCCERT_CHAIN_CONTEXT built,
                                P::PCCERT_CONTEXT tsa) {
  namespace TSP = Velmora::PKI::TSP;
  try {
    if (chain) {
      for (P::DWORD i = 0; built && built->cChain > 0 && i < built->rgpChain[0]->cElement; ++i) {
        const P::CERT_CHAIN_ELEMENT& element = *built->rgpChain[0]->rgpElement[i];
        if ((element.TrustStatus.dwErrorStatus & P::CERT_TRUST_HAS_WEAK_SIGNATURE) != 0) {
          return "weak algorithm: " +
                 Named(element.pCertContext->pCertInfo->SignatureAlgorithm.pszObjId) + " signs " +
                 SubjectOf(element.pCertContext);
        }
      }
      const unsigned char* der = tsa != nullptr ? tsa->pbCertEncoded : nullptr;
      const std::unique_ptr<X509, P::FreeWith<X509_free>> certificate(
          der != nullptr ? d2i_X509(nullptr, &der, static_cast<long>(tsa->cbCertEncoded))
                         : nullptr);
      const EVP_PKEY* key = certificate ? X509_get0_pubkey(certificate.get()) : nullptr;
      return key != nullptr ? "weak key: the TSA's signs with " +
                                  std::to_string(EVP_PKEY_get_bits(key)) + " bits"
                            : std::string();
    }
    TSP::CToken token;
    try {
      TSP::CResponse response;
      response.decode(stampBytes);
      token = *response.get_timeStampToken();
    } catch (const P::CAtlException&) {
      token.decode(stampBytes);
    }
    const auto& signer = token.get_signerInfo();
    return "weak algorithm among: digest " + Named(signer.get_digestAlgorithm().get_algorithm()) +
           ", signature " + Named(signer.get_signatureAlgorithm().get_algorithm()) + ", imprint " +
           Named(token.get_hashAlgorithm().get_algorithm());
  } catch (const P::CAtlException&) {
    return std::string();
  }
}

std::string RefusalDetail(unsigned int status, const CBlob& response) {
  std::string detail =
      "the response has status " + std::to_string(status) + " (" + StatusName(status) + ")";
  try {
    Velmora::PKI::TSP::CResponse decoded;
    decoded.decode(response);
    if (decoded.get_timeStampToken() != nullptr) {
      return detail + " and carries a token all the same, which is not used";
    }
  } catch (const P::CAtlException&) {
    // Only the remark is lost: the response stays refused whatever this reading finds.
  }
  return detail + " and no token";
}

bool IsRequest(const CBlob& bytes) {
  try {
    Velmora::PKI::TSP::Client::CRequest request;
    request.Import(bytes.pbData(), static_cast<unsigned long>(bytes.cbData()));
    return true;
  } catch (const P::CAtlException&) {
    return false;
  }
}

}  // namespace Horodex
