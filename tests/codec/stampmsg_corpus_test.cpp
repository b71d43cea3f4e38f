// The real-TSA corpus: every response, token and request that real TSAs and clients made decodes
// with the fields that the corpus manifest states, and every token whose signer certificate is
// at hand verifies under it (and under no other certificate).
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codec/stampmsg/request.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "platform/text/atl_exception.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace fs = std::filesystem;
namespace TSP = Velmora::PKI::TSP;
using Velmora::CBlob;
using namespace Velmora::Testing;

namespace {

constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha384 = "2.16.840.1.101.3.4.2.2";
constexpr const char* kSha512 = "2.16.840.1.101.3.4.2.3";
constexpr const char* kMd5 = "1.2.840.113549.2.5";

struct Accuracy {
  unsigned long seconds, millis, micros;
};

struct TokenFacts {
  const char* file;
  const char* policy;
  const char* serial;
  const char* genTime;  // as the TSTInfo writes it
  const char* hashOid;
  const char* imprintPrefix;  // leading hex of hashedMessage
  const char* nonce;          // decimal, or null when absent
  std::optional<Accuracy> accuracy;
  bool ordering;
  std::size_t certificates;  // X.509 certificates; 0 means none
  std::size_t otherCertificates;
  bool tsa;
};

// Facts from MANIFEST.md for a spread of TSAs and quirks.
const TokenFacts kFacts[] = {
    {"bc-java/bc-testtsa-sha1.tsr", "1.2.3.4.1", "4", "20041209075205Z", kSha1, "f951b101",
     "856158237163435412", Accuracy{1, 500, 100}, true, 0, 0, true},
    {"bc-java/bc-testtsa-md5.tsr", "1.3.6.1.4.1.5255.5.1", "3", "20041209074616Z", kMd5, "c897d141",
     "3757613614790642919", Accuracy{1, 500, 100}, true, 0, 0, true},
    {"bc-java/belgium-fedgov-tsa-sha512.tst", "2.16.56.9.3.1", "18357683286722100",
     "20180403081824Z", kSha512, "6f2877da", nullptr, std::nullopt, false, 4, 0, true},
    {"bc-java/exceet-tsa04-sha512.tst", "1.3.6.1.4.1.12655.3.2",
     "170365775652612873976690809004255557019", "20170210140936.5Z", kSha512, "b868ed75",
     "280594529466011176404703814783217389325", Accuracy{0, 100, 0}, false, 2, 0, true},
    {"bc-java/governikus-test-sha384-crls.tst", "1.2.3.4", "1488991773950", "20170308164933Z",
     kSha384, "dd4f83f0", "260096300837594648798420348131542063809", Accuracy{5, 0, 0}, false, 3, 0,
     false},
    {"bc-java/ncipher-dse200-attrcert.tsr", "1.3.6.1.4.1.601.10.3.1", "20527",
     "20050310105843.933Z", kSha1, "00000000", "100", Accuracy{0, 500, 0}, true, 1, 1, true},
    {"dotnet-runtime/freetsa-2017-micros.tst", "1.2.3.4.1", "413540", "20171218173416.800812Z",
     kSha384, "9111e404", "10822661662444327636", Accuracy{1, 500, 100}, true, 0, 0, true},
    {"rust-openssl/sslcom-2021-negnonce.tst", "1.3.6.1.4.1.38064.1.3.6.1", "4828232355673314455",
     "20211214111051Z", kSha256, "4a10d5e8", "-1578146648116833895", Accuracy{1, 0, 0}, false, 3, 0,
     false},
    {"rust-openssl/oneidentity-testtsa.tsr", "1.3.6.1.4.1.18372.97.12", "1", "20200901081542Z",
     kSha512, "568da102", "17557908976430562753", std::nullopt, false, 2, 0, false},
    {"trailofbits-rfc3161-client/sigstoremock-negserial-noparams.tsr", "1.3.6.1.4.1.57264.2",
     "-559038737", "20230201000000Z", kSha256, "9b72f441", "1234567890", Accuracy{1, 0, 0}, false,
     0, 0, false},
    {"trailofbits-rfc3161-client/identrust-sha512-hello.tsr", "2.16.840.1.113839.0.6.13.3",
     "85078816596264598166622802403995953700", "20250311085208Z", kSha512, "9b71d224",
     "8485823078465773499", std::nullopt, false, 2, 0, false},
    {"signify/ms-timestamp-2017-essv1.tst", "1.3.6.1.4.1.601.10.3.1", "98796549646968",
     "20171116220544.331Z", kSha256, "0874c8bc", nullptr, Accuracy{1, 500, 0}, false, 2, 1, true},
    {"signify/ms-timestamp-2025-essv2.tst", "1.3.6.1.4.1.601.10.3.1", "114545719704243",
     "20250715234721.042Z", kSha256, "8f47acdb", nullptr, Accuracy{0, 500, 0}, false, 2, 1, true},
    {"miyako-4d-plugin-timestamp-client/safestamper-2020.tsr", "1.3.6.1.4.1.51861.1.1", "589642",
     "20200310235201Z", kSha256, "95872c7c", "12420374244497977915", Accuracy{60, 0, 0}, false, 0,
     0, true},
    {"sigstore-go/virtualtsa-empty-tsaname.tsr", "1.3.6.1.4.1.57264.2",
     "960782944675635688466625723434903069505772159451", "20260604174329Z", kSha256, "5b1fd4b8",
     nullptr, std::nullopt, false, 0, 0, true},
    {"github-ietf-cms/digicert-sha2-responder.tsr", "2.16.840.1.114412.7.1",
     "62995699117112892670987254464065004092", "20180509184818Z", kSha256, "5891b5b5", nullptr,
     std::nullopt, false, 2, 0, false},
    {"signapple/apple-timestamp-signer-ma2.tst", "1.2.3", "5058778427370114829", "20230316155703Z",
     kSha256, "fe086230", nullptr, Accuracy{1, 0, 0}, false, 3, 0, false},
};

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

}  // namespace

TEST(StampCorpus, IsPresent) {
  ASSERT_NO_THROW(InteropDir()) << "the interop corpus belongs in tests/data/interop";
}

TEST(StampCorpus, TokensCarryTheFieldsTheManifestStates) {
  for (const TokenFacts& facts : kFacts) {
    SCOPED_TRACE(facts.file);
    TSP::CToken token;
    ASSERT_NO_THROW(token = LoadToken(InteropDir() / facts.file));
    EXPECT_EQ(token.get_version(), 1u);
    EXPECT_STREQ(token.get_policy(), facts.policy);
    EXPECT_EQ(DecimalOf(token.get_serialNumber()), facts.serial);
    EXPECT_EQ(token.get_genTime(), GeneralizedTimeInstant(facts.genTime));
    EXPECT_STREQ(token.get_hashAlgorithm().get_algorithm(), facts.hashOid);
    EXPECT_EQ(HexOf(token.get_hashedMessage()).rfind(facts.imprintPrefix, 0), 0u);
    if (facts.nonce == nullptr) {
      EXPECT_EQ(token.get_nonce(), nullptr);
    } else {
      ASSERT_NE(token.get_nonce(), nullptr);
      EXPECT_EQ(DecimalOf(*token.get_nonce()), facts.nonce);
    }
    if (facts.accuracy) {
      ASSERT_NE(token.get_accuracy(), nullptr);
      EXPECT_EQ(token.get_accuracy()->get_seconds(), facts.accuracy->seconds);
      EXPECT_EQ(token.get_accuracy()->get_millis(), facts.accuracy->millis);
      EXPECT_EQ(token.get_accuracy()->get_micros(), facts.accuracy->micros);
    } else {
      EXPECT_EQ(token.get_accuracy(), nullptr);
    }
    EXPECT_EQ(token.get_ordering(), facts.ordering);
    const Velmora::CBlobList* certificates = token.get_certificates();
    EXPECT_EQ(certificates != nullptr ? certificates->size() : 0u, facts.certificates);
    EXPECT_EQ(token.get_signedData().get_otherCertificates().size(), facts.otherCertificates);
    if (certificates != nullptr) {
      for (const CBlob& certificate : *certificates) {
        EXPECT_TRUE(ParseCertificate(certificate)) << "each certificate is a whole DER X.509";
      }
    }
    EXPECT_EQ(token.get_tsa() != nullptr, facts.tsa);
    EXPECT_STREQ(token.get_signedData().get_eContentType(), "1.2.840.113549.1.9.16.1.4");
  }
}

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
  for (const fs::path& path : CorpusFiles()) {
    if (!IsTokenFile(path)) {
      continue;
    }
    const std::string name = Relative(path);
    SCOPED_TRACE(name);
    ++tokens;
    TSP::CToken token;
    ASSERT_NO_THROW(token = LoadToken(path));

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

TEST(StampCorpus, RejectionsCarryTheirStatus) {
  struct Rejection {
    const char* file;
    const wchar_t* text;
    unsigned bit;
  };
  const Rejection rejections[] = {
      {"bc-java/REJ-unaccepted-policy.tsr", L"Requested policy is not supported.", 15},
      {"digitorus-timestamp/REJ-openssl-serial-generation.tsr",
       L"Error during serial number generation.", 17},
      {"github-ietf-cms/REJ-bad-data-format.tsr", L"the data submitted has the wrong format", 5},
  };
  for (const Rejection& rejection : rejections) {
    SCOPED_TRACE(rejection.file);
    TSP::CResponse response;
    ASSERT_NO_THROW(response.decode(InteropFile(rejection.file)));
    EXPECT_EQ(response.get_status().get_pkiStatus(), 2u);
    ASSERT_NE(response.get_status().get_statusString(), nullptr);
    EXPECT_EQ(response.get_status().get_statusString()->joined(), rejection.text);
    EXPECT_EQ(response.get_status().get_failureInfo().get_value(), 1u << rejection.bit);
    EXPECT_EQ(response.get_timeStampToken(), nullptr);
    // A rejection is no bare token either.
    TSP::CToken token;
    EXPECT_THROW(token.decode(InteropFile(rejection.file)), Velmora::Platform::CAtlException);
  }
}

TEST(StampCorpus, RequestsDecodeAndEncodeBackAsReceived) {
  std::size_t requests = 0;
  for (const fs::path& path : CorpusFiles()) {
    if (path.extension() != ".tsq") {
      continue;
    }
    SCOPED_TRACE(Relative(path));
    ++requests;
    const CBlob bytes = ToBlob(ReadFileBytes(path));
    TSP::CRequest request;
    ASSERT_NO_THROW(request.decode(bytes));
    EXPECT_EQ(request.encode(), bytes);
    EXPECT_EQ(request.get_version(), 1u);
  }
  EXPECT_EQ(requests, 13u);

  TSP::CRequest ripemd;
  ripemd.decode(InteropFile("bc-java/bc-request-ripemd160.tsq"));
  EXPECT_STREQ(ripemd.get_hashAlgorithm().get_algorithm(), "1.3.36.3.2.1");
  EXPECT_EQ(HexOf(ripemd.get_hashedMessage()), "aad376bf9a4e7461df65305f814aa3a9fd11c641");
  ASSERT_NE(ripemd.get_nonce(), nullptr);
  EXPECT_EQ(DecimalOf(*ripemd.get_nonce()), "16223774506499055907");
  EXPECT_TRUE(ripemd.get_certReq());
  ASSERT_NE(ripemd.get_reqPolicy(), nullptr);
  EXPECT_STREQ(ripemd.get_reqPolicy(), "1.3.6.1.4.1.5255.5.1");
  EXPECT_EQ(ripemd.get_extensions(), nullptr);

  TSP::CRequest bare;
  bare.decode(InteropFile("bc-java/bc-request-sha1-nononce.tsq"));
  EXPECT_EQ(bare.get_nonce(), nullptr);
  EXPECT_EQ(bare.get_reqPolicy(), nullptr);
  EXPECT_FALSE(bare.get_certReq());

  // A request and the response that answers it carry the same imprint and nonce.
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
