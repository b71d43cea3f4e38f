// The real-TSA corpus at the codec: every token that real TSAs made decodes (bare tokens encode
// back as received) and verifies under its signer certificate and no other, its tsa name and
// signing-certificate attributes read as OpenSSL takes them out (names against OpenSSL's printer,
// ESS hashes and issuer-serials against the token's own certificates), quirks of real TSAs are
// read, and every request encodes back as received. The fields of each message against its
// manifest are checked through CStamp (tests/tsp/stamp_interop_test.cpp).
#include <gtest/gtest.h>
#include <openssl/ess.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codec/asnkit/general_name.h"
#include "codec/asnkit/signed_attributes.h"
#include "codec/stampmsg/request.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "platform/errors/atl_exception.h"
#include "tests/codec/asnkit_test_util.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace fs = std::filesystem;
namespace TSP = Velmora::PKI::TSP;
using Velmora::CBlob;
using namespace Velmora::Testing;
using asnkit_test::B;
using asnkit_test::V;
using namespace Velmora::ASN1;

namespace {

// Tokens whose signer certificate is neither in the token nor shipped beside it.
const char* const kNoSignerCertificate[] = {
    "github-ietf-cms/comodo-sha256-signer.tsr",
    "github-ietf-cms/globalsign-standard-g2-sha1sig.tsr",
    "github-ietf-cms/symantec-g2-nocerts.tsr",
    "rustcrypto-formats/openssl-tsa-ecdsa-p384.tsr",
    "sigstore-go/github-tsa-ecdsa-p384.tsr",
};
// A token whose signature bytes were altered on purpose.
constexpr const char* kBadSignature =
    "trailofbits-rfc3161-client/NEG-sigstage-badsig-sha256-hello.tsr";

bool IsTokenFile(const fs::path& path) {
  const std::string name = path.filename().string();
  return (path.extension() == ".tsr" || path.extension() == ".tst") && name.rfind("REJ-", 0) != 0;
}

std::string Relative(const fs::path& path) {
  return fs::relative(path, InteropDir()).generic_string();
}

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(InteropDir())) {
    if (entry.is_regular_file() &&
        entry.path().string().find("authenticode-legacy") == std::string::npos) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The token of a corpus file: a granted response's token, or a bare token.
TSP::CToken LoadToken(const fs::path& path) {
  const CBlob bytes = ToBlob(ReadFileBytes(path));
  if (path.extension() == ".tsr") {
    TSP::CResponse response;
    response.decode(bytes);
    EXPECT_LE(response.get_status().get_pkiStatus(), 1u) << path;
    const TSP::CToken* token = response.get_timeStampToken();
    if (token == nullptr) {
      ADD_FAILURE() << path << ": granted response without a token";
      return {};
    }
    return *token;
  }
  TSP::CToken token;
  token.decode(bytes);
  EXPECT_EQ(token.encode(), bytes) << path << ": a bare token encodes back as received";
  return token;
}

// Every certificate a verifier of this folder could be handed: the tokens' own and the files
// shipped beside them.
std::vector<CBlob> CandidateCertificates(const fs::path& folder) {
  std::vector<CBlob> candidates;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const fs::path& path = entry.path();
    if (path.extension() == ".pem") {
      for (CBlob& certificate : PemCertificates(path)) {
        candidates.push_back(std::move(certificate));
      }
    } else if (path.extension() == ".der") {
      candidates.push_back(ToBlob(ReadFileBytes(path)));
    } else if (IsTokenFile(path)) {
      const TSP::CToken token = LoadToken(path);
      if (const Velmora::CBlobList* certificates = token.get_certificates()) {
        for (const CBlob& certificate : *certificates) {
          candidates.push_back(certificate);
        }
      }
    }
  }
  // The FreeTSA certificate that the .NET fixture needs is shipped in another folder.
  if (folder.filename() == "dotnet-runtime") {
    for (CBlob& certificate :
         PemCertificates(InteropDir() / "miyako-4d-plugin-timestamp-client/freetsa-tsa-cert.pem")) {
      candidates.push_back(std::move(certificate));
    }
  }
  return candidates;
}

// The data whose hash a token's imprint is, where the corpus has it.
std::optional<fs::path> DataFileOf(const fs::path& token) {
  fs::path own = token;
  own.replace_extension(".data");
  if (fs::exists(own)) {
    return own;
  }
  const std::string name = token.filename().string();
  const std::string folder = token.parent_path().filename().string();
  if (folder == "trailofbits-rfc3161-client" && name.find("-hello") != std::string::npos) {
    return token.parent_path() / "hello.data";
  }
  if (folder == "github-ietf-cms") {
    return token.parent_path() / "hello-newline.data";
  }
  if (folder == "digitorus-timestamp" && name.rfind("globalsign-adobe-g2", 0) == 0) {
    return token.parent_path() / "data-txt.data";
  }
  if (folder == "rustcrypto-formats") {
    return token.parent_path() / "abc.data";
  }
  return std::nullopt;
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
X509* CertificateWithHash(PKCS7* token, const EVP_MD* md, const Velmora::CBlob& hash) {
  STACK_OF(X509)* certs = token->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    X509* cert = sk_X509_value(certs, i);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, md, out, &length) == 1 && Velmora::CBlob(out, length) == hash) {
      return cert;
    }
  }
  return nullptr;
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
    const V der = asnkit_test::ToDer(tsa, i2d_GENERAL_NAME);
    CGeneralName name;
    name.decode(B(der));
    EXPECT_EQ(name.encode(), B(der)) << file;
    if (tsa->type == GEN_DIRNAME) {
      EXPECT_EQ(asnkit_test::Narrow(name.toString().str()),
                asnkit_test::OpenSslNameText(tsa->d.directoryName))
          << file;
    }
  }
  TS_TST_INFO_free(info);

  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(token), 0);
  ASSERT_NE(si, nullptr) << file;
  struct Found {
    Velmora::CBlob hash;
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
      EXPECT_TRUE(*f.issuerSerial == asnkit_test::IssuerSerialOf(cert)) << file;
    }
  }
}

}  // namespace

TEST(StampCorpus, QuirksOfRealTsasAreRead) {
  // exceet: BER indefinite lengths kept as received, a qcStatements extension, an OCSP response
  // in crls, an explicit zero seconds in its accuracy.
  const CBlob exceetBytes = InteropFile("bc-java/exceet-tsa04-sha512.tst");
  TSP::CToken exceet;
  exceet.decode(exceetBytes);
  EXPECT_EQ(exceet.encode(), exceetBytes);
  ASSERT_NE(exceet.get_extensions(), nullptr);
  EXPECT_NE(exceet.get_extensions()->find("1.3.6.1.5.5.7.1.3"), nullptr);
  ASSERT_NE(exceet.get_signedData().get_crls(), nullptr);
  EXPECT_EQ(exceet.get_signedData().get_crls()->size(), 1u);
  EXPECT_TRUE(exceet.get_accuracy()->has_seconds());

  // SafeStamper: a statusString on a granted response and an empty unsignedAttrs set.
  TSP::CResponse safestamper;
  safestamper.decode(InteropFile("miyako-4d-plugin-timestamp-client/safestamper-2020.tsr"));
  EXPECT_EQ(safestamper.get_status().get_pkiStatus(), 0u);
  ASSERT_NE(safestamper.get_status().get_statusString(), nullptr);
  EXPECT_EQ(safestamper.get_status().get_statusString()->joined(), L"Operation Okay");
  const auto* unsignedAttrs =
      safestamper.get_timeStampToken()->get_signerInfo().get_unsignedAttributes();
  ASSERT_NE(unsignedAttrs, nullptr);
  EXPECT_TRUE(unsignedAttrs->empty());

  // The virtual TSA names itself with an empty directoryName.
  TSP::CResponse virtualTsa;
  virtualTsa.decode(InteropFile("sigstore-go/virtualtsa-empty-tsaname.tsr"));
  const auto* tsa = virtualTsa.get_timeStampToken()->get_tsa();
  ASSERT_NE(tsa, nullptr);
  EXPECT_EQ(tsa->get_type(), Velmora::ASN1::CGeneralName::Type::DirectoryName);

  // The sigstore mock leaves the NULL out of the imprint's algorithm identifier.
  TSP::CResponse mock;
  mock.decode(InteropFile("trailofbits-rfc3161-client/sigstoremock-negserial-noparams.tsr"));
  EXPECT_TRUE(mock.get_timeStampToken()->get_hashAlgorithm().get_parameters().empty());

  // The token inside a response is given back exactly as it lies in the response.
  const CBlob responseBytes = InteropFile("github-ietf-cms/digicert-sha2-responder.tsr");
  TSP::CResponse digicert;
  digicert.decode(responseBytes);
  const CBlob& tokenBytes = digicert.get_timeStampToken()->encode();
  ASSERT_GT(responseBytes.cbData(), tokenBytes.cbData());
  EXPECT_TRUE(std::equal(tokenBytes.bytes().begin(), tokenBytes.bytes().end(),
                         responseBytes.bytes().end() - tokenBytes.cbData()));
  EXPECT_EQ(digicert.encode(), responseBytes);
}

TEST(StampCorpus, EveryTokenDecodesAndVerifiesUnderItsSignerCertificateOnly) {
  std::size_t tokens = 0;
  std::size_t verified = 0;
  std::size_t imprintsChecked = 0;
  Counts counts;
  for (const fs::path& path : CorpusFiles()) {
    if (!IsTokenFile(path)) {
      continue;
    }
    const std::string name = Relative(path);
    SCOPED_TRACE(name);
    ++tokens;
    TSP::CToken token;
    ASSERT_NO_THROW(token = LoadToken(path));
    EXPECT_STREQ(token.get_signedData().get_eContentType(), "1.2.840.113549.1.9.16.1.4");
    if (const Velmora::CBlobList* certificates = token.get_certificates()) {
      for (const CBlob& certificate : *certificates) {
        EXPECT_TRUE(ParseCertificate(certificate)) << "each certificate is a whole DER X.509";
      }
    }

    const Velmora::CBlob& tokenDer = token.encode();
    const unsigned char* p = tokenDer.pbData();
    if (const Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(tokenDer.cbData()))); pkcs7) {
      CheckToken(pkcs7.get(), name, counts);  // where OpenSSL reads it at all
    }

    if (const auto data = DataFileOf(path)) {
      EXPECT_EQ(DigestOf(token.get_hashAlgorithm().get_algorithm(), ToBlob(ReadFileBytes(*data))),
                token.get_hashedMessage());
      ++imprintsChecked;
    }

    // The signer's certificate is found by the name the signer gives; the signature must then
    // verify under it and under no certificate with another key.
    const std::vector<CBlob> candidates = CandidateCertificates(path.parent_path());
    std::vector<CBlob> named;
    for (const CBlob& candidate : candidates) {
      if (NamesCertificate(token.get_signerInfo(), candidate)) {
        named.push_back(candidate);
      }
    }
    const bool signerFound = !named.empty();
    for (const CBlob& candidate : candidates) {
      const bool signerKey = std::any_of(
          named.begin(), named.end(), [&](const CBlob& c) { return SamePublicKey(c, candidate); });
      EXPECT_EQ(token.verify(candidate), signerKey && name != kBadSignature);
    }
    for (const CBlob& signer : named) {
      verified += token.verify(signer) ? 1 : 0;
    }
    const bool expectFound =
        std::find_if(std::begin(kNoSignerCertificate), std::end(kNoSignerCertificate),
                     [&](const char* n) { return name == n; }) == std::end(kNoSignerCertificate);
    EXPECT_EQ(signerFound, expectFound);
  }
  EXPECT_EQ(tokens, 43u);
  EXPECT_GE(verified, 43u - 5u - 1u);
  EXPECT_GE(imprintsChecked, 30u);
  EXPECT_GE(counts.tokens, 30);
  EXPECT_GE(counts.tsaNames, 15);
  EXPECT_GE(counts.signingCerts, counts.tokens);
  EXPECT_GE(counts.matchedCerts, 20);
}

TEST(StampCorpus, InjectedCertificatesAreListedButNeverSign) {
  // A spoofed "TSA" certificate and a duplicate added to the bag: the token still decodes and
  // lists all three, but only the certificate the signer names verifies it.
  TSP::CResponse response;
  response.decode(
      InteropFile("trailofbits-rfc3161-client/NEG-localtsa-injected-certs-sha512-hello.tsr"));
  const TSP::CToken& token = *response.get_timeStampToken();
  ASSERT_NE(token.get_certificates(), nullptr);
  ASSERT_EQ(token.get_certificates()->size(), 3u);
  const CBlob& spoofed = token.get_certificates()->front();
  EXPECT_FALSE(NamesCertificate(token.get_signerInfo(), spoofed));
  EXPECT_FALSE(token.verify(spoofed));
  const std::vector<CBlob> chain =
      PemCertificates(InteropDir() / "trailofbits-rfc3161-client/localtsa-ts-chain.pem");
  EXPECT_TRUE(
      std::any_of(chain.begin(), chain.end(), [&](const CBlob& c) { return token.verify(c); }));
}

// Every request of the corpus is read against libcrypto in stampmsg_openssl_test.cpp.
TEST(StampCorpus, ARequestAndItsAnswerCarryTheSameImprintAndNonce) {
  TSP::CRequest local;
  local.decode(InteropFile("trailofbits-rfc3161-client/localtsa-request-sha512.tsq"));
  TSP::CResponse answer;
  answer.decode(InteropFile("trailofbits-rfc3161-client/localtsa-sha512-hello.tsr"));
  const TSP::CToken& token = *answer.get_timeStampToken();
  EXPECT_EQ(token.get_hashedMessage(), local.get_hashedMessage());
  ASSERT_NE(local.get_nonce(), nullptr);
  EXPECT_EQ(*token.get_nonce(), *local.get_nonce());
  EXPECT_EQ(DecimalOf(*local.get_nonce()), "3937359519792308179");
}
