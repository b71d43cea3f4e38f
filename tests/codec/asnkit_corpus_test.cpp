// The asnkit values inside the real-TSA corpus, taken out by OpenSSL and read by us: tsa names
// (text against OpenSSL's printer) and signing-certificate attributes (hash and issuer-serial
// against the token's own certificates). The responses' status is checked against the manifest
// through CStamp (tests/tsp/stamp_interop_test.cpp).
#include <openssl/bio.h>
#include <openssl/ess.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "codec/asnkit/general_name.h"
#include "codec/asnkit/signed_attributes.h"
#include "tests/codec/asnkit_test_util.h"
#include "tests/common/tsp_fixtures.h"

using namespace asnkit_test;
using namespace Velmora::ASN1;
namespace fs = std::filesystem;

namespace {

V ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return V(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

V AttributeValue(PKCS7_SIGNER_INFO* si, int nid) {
  ASN1_TYPE* value = PKCS7_get_signed_attribute(si, nid);
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
    return {};
  }
  const ASN1_STRING* seq = value->value.sequence;
  return V(seq->data, seq->data + seq->length);
}

// The token's certificate whose hash under `md` is `hash`, or null.
X509* CertificateWithHash(PKCS7* token, const EVP_MD* md, const CBlob& hash) {
  STACK_OF(X509)* certs = token->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    X509* cert = sk_X509_value(certs, i);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, md, out, &length) == 1 && CBlob(out, length) == hash) {
      return cert;
    }
  }
  return nullptr;
}

// The issuer-serial of `cert` as the signer-identifier check builds it.
CIssuerSerial IssuerSerialOf(const X509* cert) {
  CGeneralName issuer;
  issuer.put_directoryName(B(ToDer(X509_get_issuer_name(cert), i2d_X509_NAME)));
  CGeneralNames names;
  names.push_back(issuer);
  CBigInteger serial;
  serial.decode(B(ToDer(X509_get0_serialNumber(cert), i2d_ASN1_INTEGER)));
  return CIssuerSerial(names, serial);
}

struct Counts {
  int tokens = 0, tsaNames = 0, signingCerts = 0, matchedCerts = 0;
};

void CheckToken(PKCS7* token, const std::string& file, Counts& counts) {
  ++counts.tokens;
  TS_TST_INFO* info = PKCS7_to_TS_TST_INFO(token);
  ASSERT_NE(info, nullptr) << file;
  if (const GENERAL_NAME* tsa = TS_TST_INFO_get_tsa(info)) {
    ++counts.tsaNames;
    const V der = ToDer(tsa, i2d_GENERAL_NAME);
    CGeneralName name;
    name.decode(B(der));
    EXPECT_EQ(name.encode(), B(der)) << file;
    if (tsa->type == GEN_DIRNAME) {
      EXPECT_EQ(Narrow(name.toString().str()), OpenSslNameText(tsa->d.directoryName)) << file;
    }
  }
  TS_TST_INFO_free(info);

  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(token), 0);
  ASSERT_NE(si, nullptr) << file;
  struct Found {
    CBlob hash;
    const EVP_MD* md;
    const CIssuerSerial* issuerSerial;
  };
  std::vector<Found> found;
  CAttrSigningCertificate v1;
  CAttrSigningCertificateV2 v2;
  if (const V der = AttributeValue(si, NID_id_smime_aa_signingCertificate); !der.empty()) {
    v1.decode(B(der));
    EXPECT_EQ(v1.encode(), B(der)) << file;
    const CESSCertID& id = v1.get_certs().front();
    found.push_back({id.get_certHash(), EVP_sha1(), id.get_issuerSerial()});
  }
  if (const V der = AttributeValue(si, NID_id_smime_aa_signingCertificateV2); !der.empty()) {
    v2.decode(B(der));
    EXPECT_EQ(v2.encode(), B(der)) << file;
    const CESSCertIDv2& id = v2.get_certs().front();
    const EVP_MD* md = EVP_get_digestbyname(id.get_hashAlgorithm().get_algorithm());
    ASSERT_NE(md, nullptr) << file;
    found.push_back({id.get_certHash(), md, id.get_issuerSerial()});
  }
  for (const Found& f : found) {
    ++counts.signingCerts;
    X509* cert = CertificateWithHash(token, f.md, f.hash);
    if (cert == nullptr) {
      continue;  // the token does not carry its signer's certificate
    }
    ++counts.matchedCerts;
    if (f.issuerSerial != nullptr) {
      EXPECT_TRUE(*f.issuerSerial == IssuerSerialOf(cert)) << file;
    }
  }
}

}  // namespace

TEST(AsnkitCorpus, ValuesInsideRealTokensAndResponses) {
  const fs::path root = Velmora::Testing::InteropDir();
  Counts counts;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::path& path = entry.path();
    const std::string ext = path.extension().string();
    if ((ext != ".tsr" && ext != ".tst") ||
        path.string().find("authenticode-legacy") != std::string::npos) {
      continue;
    }
    const V bytes = ReadFile(path);
    const std::string file = path.filename().string();
    const unsigned char* p = bytes.data();
    if (ext == ".tsr") {
      TS_RESP* response = d2i_TS_RESP(nullptr, &p, static_cast<long>(bytes.size()));
      if (response == nullptr) {
        continue;  // OpenSSL cannot read it; the stampmsg corpus test covers those
      }
      if (PKCS7* token = TS_RESP_get_token(response)) {
        CheckToken(token, file, counts);
      }
      TS_RESP_free(response);
    } else {
      PKCS7* token = d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size()));
      if (token == nullptr) {
        continue;
      }
      CheckToken(token, file, counts);
      PKCS7_free(token);
    }
  }
  // The corpus holds tokens of more than twenty TSAs; most carry a tsa name and their signer.
  EXPECT_GE(counts.tokens, 30);
  EXPECT_GE(counts.tsaNames, 15);
  EXPECT_GE(counts.signingCerts, counts.tokens);
  EXPECT_GE(counts.matchedCerts, 20);
  std::printf("tokens %d, tsa names %d, signing-certificate entries %d (%d matched)\n",
              counts.tokens, counts.tsaNames, counts.signingCerts, counts.matchedCerts);
}
