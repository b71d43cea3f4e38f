// Interoperability with OpenSSL both ways: what `openssl ts` and `openssl cms` make (at test time,
// by tests/data/openssl/make_tsa.sh) reads here field for field as libcrypto reads it, its
// signatures verify, and OpenSSL reads and answers the requests that this codec writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/cms/signed_data.h"
#include "codec/der/der_reader.h"
#include "codec/stampmsg/request.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/token_forge.h"
#include "tests/common/tsp_fixtures.h"

namespace TSP = Velmora::PKI::TSP;
namespace ASN1 = Velmora::ASN1;
namespace Der = Velmora::ASN1::Der;
using Velmora::CBlob;
using namespace Velmora::Testing;

namespace {

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha512 = "2.16.840.1.101.3.4.2.3";
constexpr const char* kShake256 = "2.16.840.1.101.3.4.2.12";

TsRespPtr OsslResponse(const CBlob& der) {
  const unsigned char* p = der.pbData();
  return TsRespPtr(d2i_TS_RESP(nullptr, &p, static_cast<long>(der.cbData())));
}

// Our token against libcrypto's reading of the same TSTInfo.
void ExpectSameTstInfo(const TSP::CToken& ours, const TS_TST_INFO* theirs) {
  EXPECT_EQ(ours.get_version(), static_cast<std::uint32_t>(TS_TST_INFO_get_version(theirs)));
  EXPECT_EQ(ours.get_policy(),
            OidText(TS_TST_INFO_get_policy_id(const_cast<TS_TST_INFO*>(theirs))));
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(const_cast<TS_TST_INFO*>(theirs));
  const ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
  EXPECT_EQ(ours.get_hashAlgorithm().get_algorithm(), OidText(algorithm));
  EXPECT_EQ(ours.get_hashedMessage().bytes(), Bytes(TS_MSG_IMPRINT_get_msg(imprint)));
  EXPECT_EQ(DecimalOf(ours.get_serialNumber()), DecimalOf(TS_TST_INFO_get_serial(theirs)));
  const std::vector<unsigned char> time = Bytes(TS_TST_INFO_get_time(theirs));
  EXPECT_EQ(ours.get_genTime(), GeneralizedTimeInstant(std::string(time.begin(), time.end())));
  TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(const_cast<TS_TST_INFO*>(theirs));
  ASSERT_EQ(ours.get_accuracy() != nullptr, accuracy != nullptr);
  if (accuracy != nullptr) {
    auto count = [](const ASN1_INTEGER* v) { return v != nullptr ? ASN1_INTEGER_get(v) : 0L; };
    EXPECT_EQ(static_cast<long>(ours.get_accuracy()->get_seconds()),
              count(TS_ACCURACY_get_seconds(accuracy)));
    EXPECT_EQ(static_cast<long>(ours.get_accuracy()->get_millis()),
              count(TS_ACCURACY_get_millis(accuracy)));
    EXPECT_EQ(static_cast<long>(ours.get_accuracy()->get_micros()),
              count(TS_ACCURACY_get_micros(accuracy)));
  }
  EXPECT_EQ(ours.get_ordering(), TS_TST_INFO_get_ordering(theirs) != 0);
  const ASN1_INTEGER* nonce = TS_TST_INFO_get_nonce(theirs);
  ASSERT_EQ(ours.get_nonce() != nullptr, nonce != nullptr);
  if (nonce != nullptr) {
    EXPECT_EQ(DecimalOf(*ours.get_nonce()), DecimalOf(nonce));
  }
  GENERAL_NAME* tsa = TS_TST_INFO_get_tsa(const_cast<TS_TST_INFO*>(theirs));
  ASSERT_EQ(ours.get_tsa() != nullptr, tsa != nullptr);
  if (tsa != nullptr) {
    EXPECT_EQ(ours.get_tsa()->encode(), DerOf(tsa, i2d_GENERAL_NAME));
  }
  EXPECT_EQ(ours.get_extensions() != nullptr,
            TS_TST_INFO_get_exts(const_cast<TS_TST_INFO*>(theirs)) != nullptr);
}

// Our reading of the CMS parts against libcrypto's PKCS7.
void ExpectSameSignedData(const TSP::CToken& ours, PKCS7* theirs) {
  STACK_OF(X509)* certificates = theirs->d.sign->cert;
  const Velmora::CBlobList* ourCertificates = ours.get_certificates();
  if (certificates == nullptr) {
    EXPECT_EQ(ourCertificates, nullptr);
  } else {
    ASSERT_NE(ourCertificates, nullptr);
    ASSERT_EQ(ourCertificates->size(), static_cast<std::size_t>(sk_X509_num(certificates)));
    int i = 0;
    for (const CBlob& certificate : *ourCertificates) {
      EXPECT_EQ(certificate, DerOf(sk_X509_value(certificates, i++), i2d_X509));
    }
  }
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(theirs);
  ASSERT_EQ(sk_PKCS7_SIGNER_INFO_num(signers), 1);
  const PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  const ASN1::CSignerInfo& ourSigner = ours.get_signerInfo();
  EXPECT_EQ(ourSigner.get_signature().bytes(), Bytes(signer->enc_digest));
  EXPECT_EQ(ourSigner.get_signatureAlgorithm().get_algorithm(),
            OidText(signer->digest_enc_alg->algorithm));
  EXPECT_EQ(ourSigner.get_digestAlgorithm().get_algorithm(),
            OidText(signer->digest_alg->algorithm));
  EXPECT_EQ(ourSigner.encode(), DerOf(signer, i2d_PKCS7_SIGNER_INFO));
}

std::string Env() {
  const auto dir = OpenSslTsaDir();
  return "TSA_SERIAL=" + ShellQuote((dir / "serial").string()) +
         " TSA_CHAIN=" + ShellQuote((dir / "chain.pem").string()) + " ";
}

std::string Config() {
  return ShellQuote(std::string(HORODEX_SOURCE_DIR) + "/tests/data/openssl/tsa.cnf");
}

CBlob CertificateOf(const std::string& key) {
  return OpenSslTsaFile(key + ".der");
}

const char* const kKeys[] = {"rsa", "pss", "ec", "ed25519", "ed448"};

// Flips the bits of one byte inside the first occurrence of `inside` in `blob`.
CBlob Flipped(const CBlob& blob, const CBlob& inside, std::size_t offsetInside) {
  const auto& bytes = blob.bytes();
  const auto at =
      std::search(bytes.begin(), bytes.end(), inside.bytes().begin(), inside.bytes().end());
  EXPECT_NE(at, bytes.end());
  std::vector<unsigned char> copy = bytes;
  copy[static_cast<std::size_t>(at - bytes.begin()) + offsetInside] ^= 0xFF;
  return CBlob(std::move(copy));
}

// A TimeStampToken signed with an EdDSA key, which OpenSSL 3.0 cannot make as CMS. The digest
// algorithm is that of RFC 8419: SHA-512 for Ed25519, SHAKE256 (512 bits) for Ed448.
CBlob EdDsaToken(const std::string& key, const char* digestOid) {
  Forge::TokenSpec spec;
  spec.tstInfo = OpenSslTsaFile("tstinfo.der").bytes();
  spec.signer = key;
  spec.digestOid = digestOid;
  spec.certificates = {CertificateOf(key)};
  return Forge::ForgeToken(spec);
}

}  // namespace

TEST(StampOpenSsl, GrantedResponsesReadAsLibcryptoReadsThem) {
  for (const char* file : {"rsa-full.tsr", "rsa-bare.tsr", "ec-full.tsr"}) {
    SCOPED_TRACE(file);
    const CBlob bytes = OpenSslTsaFile(file);
    TSP::CResponse ours;
    ASSERT_NO_THROW(ours.decode(bytes));
    const TsRespPtr theirs = OsslResponse(bytes);
    ASSERT_TRUE(theirs);
    EXPECT_EQ(ours.get_status().get_pkiStatus(),
              static_cast<unsigned long>(ASN1_INTEGER_get(
                  TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(theirs.get())))));
    const TSP::CToken* token = ours.get_timeStampToken();
    ASSERT_NE(token, nullptr);
    ExpectSameTstInfo(*token, TS_RESP_get_tst_info(theirs.get()));
    ExpectSameSignedData(*token, TS_RESP_get_token(theirs.get()));
    EXPECT_EQ(token->encode(), DerOf(TS_RESP_get_token(theirs.get()), i2d_PKCS7));
    EXPECT_EQ(ours.encode(), bytes);
  }
  // The fullest response names the TSA and carries the accuracy and ordering it was set up with.
  TSP::CResponse full;
  full.decode(OpenSslTsaFile("rsa-full.tsr"));
  const TSP::CToken& token = *full.get_timeStampToken();
  EXPECT_STREQ(token.get_policy(), "1.2.3.4.5");  // the request's policy, not the default
  ASSERT_NE(token.get_accuracy(), nullptr);
  EXPECT_EQ(token.get_accuracy()->get_millis(), 500u);
  EXPECT_TRUE(token.get_ordering());
  ASSERT_NE(token.get_tsa(), nullptr);
  EXPECT_EQ(
      std::wstring(token.get_tsa()->toString().c_str()).find(L"TSA rsa") != std::wstring::npos,
      true);
  ASSERT_NE(token.get_certificates(), nullptr);
  EXPECT_EQ(token.get_certificates()->size(), 2u);  // the TSA's and the CA's
  EXPECT_EQ(token.get_certificates()->front(), CertificateOf("rsa"));
}

TEST(StampOpenSsl, RejectionsCarryStatusTextAndFailureBit) {
  struct Case {
    const char* file;
    const wchar_t* text;
    unsigned bit;
  };
  for (const Case& c : {Case{"rejected-alg.tsr", L"Message digest algorithm is not supported.", 0},
                        Case{"rejected-policy.tsr", L"Requested policy is not supported.", 15}}) {
    SCOPED_TRACE(c.file);
    TSP::CResponse response;
    ASSERT_NO_THROW(response.decode(OpenSslTsaFile(c.file)));
    EXPECT_EQ(response.get_status().get_pkiStatus(), 2u);
    ASSERT_NE(response.get_status().get_statusString(), nullptr);
    EXPECT_EQ(response.get_status().get_statusString()->joined(), c.text);
    EXPECT_TRUE(response.get_status().get_failureInfo().get_bit(c.bit));
    EXPECT_EQ(response.get_timeStampToken(), nullptr);
  }
}

TEST(StampOpenSsl, TokensOfEveryKeyKindVerifyUnderTheirCertificateOnly) {
  struct Case {
    const char* name;
    CBlob token;
    const char* key;
  };
  std::vector<Case> cases = {
      {"rsa-full.tst", OpenSslTsaFile("rsa-full.tst"), "rsa"},
      {"ec-bare.tst", OpenSslTsaFile("ec-bare.tst"), "ec"},
      {"pss-cms.tst", OpenSslTsaFile("pss-cms.tst"), "pss"},
      {"ec-ber.tst", OpenSslTsaFile("ec-ber.tst"), "ec"},
      {"rsa-keyid.tst", OpenSslTsaFile("rsa-keyid.tst"), "rsa"},
      {"rsa-noattr.tst", OpenSslTsaFile("rsa-noattr.tst"), "rsa"},
      {"ed25519", EdDsaToken("ed25519", kSha512), "ed25519"},
      {"ed448", EdDsaToken("ed448", kShake256), "ed448"},
  };
  TSP::CResponse ecResponse;
  ecResponse.decode(OpenSslTsaFile("ec-full.tsr"));
  cases.push_back({"ec-full.tsr", ecResponse.get_timeStampToken()->encode(), "ec"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSP::CToken token;
    ASSERT_NO_THROW(token.decode(c.token));
    EXPECT_EQ(token.encode(), c.token);
    EXPECT_TRUE(NamesCertificate(token.get_signerInfo(), CertificateOf(c.key)));
    for (const char* key : kKeys) {
      EXPECT_EQ(token.verify(CertificateOf(key)), std::string(key) == c.key) << "under " << key;
    }
    EXPECT_FALSE(token.verify(OpenSslTsaFile("ca.pem")));  // PEM is not a DER certificate
    const CBlob certificate = CertificateOf(c.key);
    CBlob trailing = certificate;
    trailing += CBlob(std::vector<unsigned char>{0x00});
    EXPECT_FALSE(token.verify(trailing));
    EXPECT_FALSE(token.verify(CBlob()));

    // One flipped byte of the imprint inside the eContent (still a TSTInfo), of the signature
    // value (its last, never a length) or of the messageDigest attribute fails verification.
    TSP::CToken changedContent;
    ASSERT_NO_THROW(changedContent.decode(Flipped(c.token, token.get_hashedMessage(), 7)));
    EXPECT_NE(changedContent.get_hashedMessage(), token.get_hashedMessage());
    const CBlob& signature = token.get_signerInfo().get_signature();
    std::vector<CBlob> changed = {Flipped(c.token, signature, signature.cbData() - 1)};
    if (const auto* attributes = token.get_signerInfo().get_signedAttributes()) {
      const CBlob* digest = attributes->findSingleValue("1.2.840.113549.1.9.4");
      ASSERT_NE(digest, nullptr);
      changed.push_back(Flipped(c.token, *digest, digest->cbData() - 1));
    }
    EXPECT_FALSE(changedContent.verify(certificate));
    for (const CBlob& bytes : changed) {
      TSP::CToken other;
      ASSERT_NO_THROW(other.decode(bytes));
      EXPECT_FALSE(other.verify(certificate));
    }
  }
}

TEST(StampOpenSsl, CmsFormsKeepTheTstInfoAsSigned) {
  const CBlob tstInfo = OpenSslTsaFile("tstinfo.der");
  TSP::CToken reference;
  reference.decode(OpenSslTsaFile("rsa-full.tst"));
  EXPECT_EQ(reference.get_tstInfo(), tstInfo);
  for (const char* file : {"pss-cms.tst", "ec-ber.tst", "rsa-keyid.tst", "rsa-noattr.tst"}) {
    SCOPED_TRACE(file);
    TSP::CToken token;
    token.decode(OpenSslTsaFile(file));
    EXPECT_EQ(token.get_tstInfo(), tstInfo);  // joined from BER segments in ec-ber.tst
    EXPECT_EQ(token.get_serialNumber(), reference.get_serialNumber());
    EXPECT_EQ(token.get_genTime(), reference.get_genTime());
  }
  TSP::CToken keyId;
  keyId.decode(OpenSslTsaFile("rsa-keyid.tst"));
  EXPECT_EQ(keyId.get_signerInfo().get_sidKind(),
            ASN1::CSignerInfo::SignerIdKind::SubjectKeyIdentifier);
  EXPECT_EQ(keyId.get_signerInfo().get_issuer(), nullptr);
  EXPECT_EQ(keyId.get_certificates(), nullptr);  // -nocerts
  TSP::CToken noAttributes;
  noAttributes.decode(OpenSslTsaFile("rsa-noattr.tst"));
  EXPECT_EQ(noAttributes.get_signerInfo().get_signedAttributes(), nullptr);
  TSP::CToken ber;
  ber.decode(OpenSslTsaFile("ec-ber.tst"));
  EXPECT_TRUE(Der::ReadSingle(ber.encode().span()).indefinite);
}

// The requests of `openssl ts -query` and those of the real-TSA corpus.
TEST(StampOpenSsl, RequestsReadAsLibcryptoReadsThemAndEncodeBackAsReceived) {
  std::vector<std::pair<std::string, CBlob>> requests;
  for (const char* file : {"q-full.tsq", "q-nononce.tsq", "q-sha512.tsq"}) {
    requests.emplace_back(file, OpenSslTsaFile(file));
  }
  for (const auto& entry : std::filesystem::recursive_directory_iterator(InteropDir())) {
    if (entry.path().extension() == ".tsq") {
      requests.emplace_back(entry.path().filename().string(), ToBlob(ReadFileBytes(entry.path())));
    }
  }
  EXPECT_EQ(requests.size(), 3u + 13u);
  for (const auto& [file, bytes] : requests) {
    SCOPED_TRACE(file);
    TSP::CRequest ours;
    ASSERT_NO_THROW(ours.decode(bytes));
    const unsigned char* p = bytes.pbData();
    const TsReqPtr theirs(d2i_TS_REQ(nullptr, &p, static_cast<long>(bytes.cbData())));
    ASSERT_TRUE(theirs);
    EXPECT_EQ(ours.get_version(), static_cast<std::uint32_t>(TS_REQ_get_version(theirs.get())));
    TS_MSG_IMPRINT* imprint = TS_REQ_get_msg_imprint(theirs.get());
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    EXPECT_EQ(ours.get_hashAlgorithm().get_algorithm(), OidText(algorithm));
    EXPECT_EQ(ours.get_hashedMessage().bytes(), Bytes(TS_MSG_IMPRINT_get_msg(imprint)));
    const ASN1_OBJECT* policy = TS_REQ_get_policy_id(theirs.get());
    ASSERT_EQ(ours.get_reqPolicy() != nullptr, policy != nullptr);
    if (policy != nullptr) {
      EXPECT_EQ(ours.get_reqPolicy(), OidText(policy));
    }
    const ASN1_INTEGER* nonce = TS_REQ_get_nonce(theirs.get());
    ASSERT_EQ(ours.get_nonce() != nullptr, nonce != nullptr);
    if (nonce != nullptr) {
      EXPECT_EQ(DecimalOf(*ours.get_nonce()), DecimalOf(nonce));
    }
    EXPECT_EQ(ours.get_certReq(), TS_REQ_get_cert_req(theirs.get()) != 0);
    EXPECT_EQ(ours.get_extensions() != nullptr, TS_REQ_get_exts(theirs.get()) != nullptr);
    EXPECT_EQ(ours.encode(), bytes);
  }
}

TEST(StampOpenSsl, OpenSslReadsAndAnswersOurRequests) {
  TempDir scratch;
  const CBlob data = OpenSslTsaFile("data.txt");
  // A nonce whose magnitude has its top bit set: it must go out as a positive INTEGER.
  const ASN1::CBigInteger random(
      CBlob(std::vector<unsigned char>{0x00, 0x00, 0x9A, 0x41, 0x02, 0x03, 0x04, 0x05}));
  const ASN1::CBigInteger nonce = random.abs();

  TSP::CRequest full(ASN1::CAlgorithmIdentifierEx(kSha256), DigestOf(kSha256, data), true);
  full.put_nonce(&nonce);
  full.put_reqPolicy("1.2.3.4.5");
  const CBlob fullDer = full.encode();
  WriteFileBytes(scratch / "full.tsq", fullDer.bytes());

  const CommandResult text =
      RunCommand("openssl ts -query -text -in " + ShellQuote((scratch / "full.tsq").string()));
  ASSERT_EQ(text.exitCode, 0) << text.output;
  EXPECT_NE(text.output.find("Hash Algorithm: sha256"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("Policy OID: 1.2.3.4.5"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("Nonce: 0x9A4102030405"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("Certificate required: yes"), std::string::npos) << text.output;
  // libcrypto writes the same DER back: ours is canonical.
  const unsigned char* p = fullDer.pbData();
  const TsReqPtr parsed(d2i_TS_REQ(nullptr, &p, static_cast<long>(fullDer.cbData())));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(DerOf(parsed.get(), i2d_TS_REQ), fullDer);

  // OpenSSL's TSA answers it, and its verifier accepts the answer for our request.
  const std::string reply = Env() + "openssl ts -reply -config " + Config() +
                            " -section full -queryfile " +
                            ShellQuote((scratch / "full.tsq").string()) + " -signer " +
                            ShellQuote((OpenSslTsaDir() / "rsa.pem").string()) + " -inkey " +
                            ShellQuote((OpenSslTsaDir() / "rsa.key").string()) + " -out " +
                            ShellQuote((scratch / "full.tsr").string());
  const CommandResult replied = RunCommand(reply);
  ASSERT_EQ(replied.exitCode, 0) << replied.output;
  const CommandResult verified =
      RunCommand("openssl ts -verify -queryfile " + ShellQuote((scratch / "full.tsq").string()) +
                 " -in " + ShellQuote((scratch / "full.tsr").string()) + " -CAfile " +
                 ShellQuote((OpenSslTsaDir() / "ca.pem").string()));
  EXPECT_NE(verified.output.find("Verification: OK"), std::string::npos) << verified.output;
  TSP::CResponse answer;
  answer.decode(ToBlob(ReadFileBytes(scratch / "full.tsr")));
  ASSERT_NE(answer.get_timeStampToken(), nullptr);
  ASSERT_NE(answer.get_timeStampToken()->get_nonce(), nullptr);
  EXPECT_EQ(*answer.get_timeStampToken()->get_nonce(), *full.get_nonce());
  EXPECT_TRUE(answer.get_timeStampToken()->verify(CertificateOf("rsa")));

  // The fewest fields: no nonce, no policy, certReq FALSE left out.
  TSP::CRequest bare(ASN1::CAlgorithmIdentifierEx(kSha512), DigestOf(kSha512, data), false);
  WriteFileBytes(scratch / "bare.tsq", bare.encode().bytes());
  const CommandResult bareText =
      RunCommand("openssl ts -query -text -in " + ShellQuote((scratch / "bare.tsq").string()));
  ASSERT_EQ(bareText.exitCode, 0) << bareText.output;
  EXPECT_NE(bareText.output.find("Hash Algorithm: sha512"), std::string::npos);
  EXPECT_NE(bareText.output.find("Policy OID: unspecified"), std::string::npos);
  EXPECT_NE(bareText.output.find("Nonce: unspecified"), std::string::npos);
  EXPECT_NE(bareText.output.find("Certificate required: no"), std::string::npos);
  const CommandResult parsedBare = RunCommand("openssl asn1parse -inform DER -in " +
                                              ShellQuote((scratch / "bare.tsq").string()));
  EXPECT_EQ(parsedBare.output.find("BOOLEAN"), std::string::npos) << parsedBare.output;
}

TEST(StampOpenSsl, RequestFieldsFollowTheirSetters) {
  const CBlob hash = DigestOf(kSha256, CBlob(std::vector<unsigned char>{'x'}));
  TSP::CRequest request(ASN1::CAlgorithmIdentifierEx(kSha256), hash, false);
  EXPECT_EQ(request.get_nonce(), nullptr);
  EXPECT_EQ(request.get_reqPolicy(), nullptr);

  // A nonce with needless leading bytes is kept and sent in its shortest form.
  const ASN1::CBigInteger padded(CBlob(std::vector<unsigned char>{0x00, 0x00, 0x12, 0x34}));
  request.put_nonce(&padded);
  ASSERT_NE(request.get_nonce(), nullptr);
  EXPECT_EQ(request.get_nonce()->bytes(), (std::vector<unsigned char>{0x12, 0x34}));
  // An empty integer stands for "no nonce", as null does.
  const ASN1::CBigInteger empty;
  request.put_nonce(&empty);
  EXPECT_EQ(request.get_nonce(), nullptr);
  request.put_nonce(&padded);
  request.put_nonce(nullptr);
  EXPECT_EQ(request.get_nonce(), nullptr);

  request.put_reqPolicy("1.2.3");
  try {
    request.put_reqPolicy("1.2.x");
    ADD_FAILURE() << "text that is not an OID was taken";
  } catch (const Velmora::Platform::CAtlException& e) {
    EXPECT_EQ(e.hr(), Velmora::Platform::CRYPT_E_OID_FORMAT);
  }
  EXPECT_STREQ(request.get_reqPolicy(), "1.2.3");
  request.put_reqPolicy(nullptr);
  EXPECT_EQ(request.get_reqPolicy(), nullptr);

  // A decoded request encodes as received until a setter changes it.
  TSP::CRequest decoded;
  decoded.decode(OpenSslTsaFile("q-full.tsq"));
  EXPECT_EQ(decoded.encode(), OpenSslTsaFile("q-full.tsq"));
  decoded.put_nonce(&padded);
  TSP::CRequest reread;
  reread.decode(decoded.encode());
  EXPECT_EQ(reread.get_nonce()->bytes(), (std::vector<unsigned char>{0x12, 0x34}));
  EXPECT_STREQ(reread.get_reqPolicy(), "1.2.3.4.5");
  EXPECT_TRUE(reread.get_certReq());
}
