// CStamp::VerifyCertificate with the revocation data a token carries (CRLs and OCSP responses in
// its SignedData) and the CRLs of the caller's stores, the network kept off and revocation
// required by the administrator's policy: all of it is weighed together (a revocation from any
// source wins), and a certificate they say nothing for stays unknown (offline). The OCSP responses
// are made by `openssl ocsp` from an index file, the CRLs by libcrypto.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

#include "horodex/TSPStamp.h"
#include "tests/common/hive_env.h"
#include "tests/common/test_ca.h"
#include "tests/common/token_forge.h"
#include "tests/tsp/stamp_tokens.h"

namespace Velmora::Testing {
namespace {

using namespace DerBuild;
using namespace Forge;
using Platform::HRESULT;

constexpr std::time_t kHour = 3600;
const std::time_t kNow = std::time(nullptr);
const std::time_t kGenTime = kNow - kHour;
constexpr HRESULT kRevoked = static_cast<HRESULT>(0x80092010);
constexpr HRESULT kOffline = static_cast<HRESULT>(0x80092013);

// Data that may go into the token or the caller's store.
enum Data : unsigned {
  None = 0,
  GoodCrl = 1,
  RevokedCrl = 2,      // keyCompromise before genTime
  GoodOcsp = 4,        // id-ri-ocsp-response
  RevokedOcsp = 8,     // keyCompromise before genTime
  GoodBasicOcsp = 16,  // the bare BasicOCSPResponse under id-pkix-ocsp-basic
  OtherCertOcsp = 32,  // about another certificate
  Malformed = 64,      // a choice that does not decode
};

struct Case {
  const char* name;
  unsigned token;
  unsigned store;  // CRLs only
  HRESULT verdict;
};

const Case kCases[] = {
    {"nothing: unknown, nothing fetched", None, None, kOffline},
    {"CRL in the token", GoodCrl, None, 0},
    {"revoked by the token's CRL", RevokedCrl, None, kRevoked},
    {"OCSP response in the token", GoodOcsp, None, 0},
    {"revoked by the token's OCSP response", RevokedOcsp, None, kRevoked},
    {"bare BasicOCSPResponse", GoodBasicOcsp, None, 0},
    {"OCSP about another certificate", OtherCertOcsp, None, kOffline},
    {"a malformed choice is passed over", Malformed | GoodCrl, None, 0},
    {"CRL of the caller's store", None, RevokedCrl, kRevoked},
    {"a newer CRL of the caller's that revokes beats the token's stale good one", GoodCrl,
     RevokedCrl, kRevoked},
    {"a revocation the caller holds beats the token's good OCSP answer", GoodOcsp, RevokedCrl,
     kRevoked},
};

struct World {
  ConfigEnvironment config;
  Authority root = MakeRoot("Token Revocation Root");
  std::vector<Authority> tsas;  // one per case, and one more that no data speaks for
  std::vector<CBlob> tokens;

  World() {
    setenv("XDG_CACHE_HOME", (config.scratch() / "cache").c_str(), 1);
    config.UserPolicies(
        "\"RequireRevocationCheck\"=dword:1\n"
        "\"DisableRevocationNetwork\"=dword:1\n");
    root.cert.writePem(config.scratch() / "root.pem");
    WriteKeyPem(root.key.get(), config.scratch() / "root.key");
    EXPECT_EQ(Platform::CertAddTrustedRootsFromFile((config.scratch() / "root.pem").c_str()), 0);
    // Each TSA certificate names a responder and a distribution point that are not there.
    std::vector<Extension> extensions = TsaExtensions();
    extensions.push_back({"authorityInfoAccess", "OCSP;URI:http://127.0.0.1:9/"});
    extensions.push_back({"crlDistributionPoints", "URI:http://127.0.0.1:9/root.crl"});
    for (std::size_t i = 0; i <= std::size(kCases); ++i) {
      tsas.push_back(MakeIssued(CertSpec("TSA " + std::to_string(i), 100 + static_cast<long>(i),
                                         kNow - 24 * kHour, kNow + 24 * kHour, extensions),
                                root));
    }
  }

  // The DER OCSPResponse for TSA `i`, good or revoked, by `openssl ocsp`.
  std::vector<unsigned char> Ocsp(std::size_t i, bool revoked) {
    const auto file = [&](const std::string& name) {
      return ShellQuote((config.scratch() / name).string());
    };
    tsas[i].cert.writePem(config.scratch() / "subject.pem");
    std::ofstream(config.scratch() / "index.txt")
        << OcspIndexLine(100 + static_cast<long>(i), kNow + 24 * kHour,
                         revoked ? kGenTime - kHour / 2 : 0, "keyCompromise");
    const CommandResult request =
        RunCommand("openssl ocsp -issuer " + file("root.pem") + " -cert " + file("subject.pem") +
                   " -no_nonce -reqout " + file("request.der") + " 2>&1");
    const CommandResult response =
        RunCommand("openssl ocsp -index " + file("index.txt") + " -CA " + file("root.pem") +
                   " -rsigner " + file("root.pem") + " -rkey " + file("root.key") + " -reqin " +
                   file("request.der") + " -respout " + file("response.der") + " -nmin 60 2>&1");
    EXPECT_EQ(request.exitCode + response.exitCode, 0) << request.output << response.output;
    return ReadFileBytes(config.scratch() / "response.der");
  }

  std::vector<V> Choices(std::size_t i, unsigned data) {
    std::vector<V> choices;
    const std::vector<CrlEntry> listed = {{100 + static_cast<long>(i), kGenTime - kHour / 2, 1}};
    if (data & Malformed) {
      choices.push_back(Ctx(1, Join({Oid(RevocationOid), Int(5)})));
    }
    if (data & GoodCrl) {
      choices.push_back(MakeCrlDer(root, {}, kNow - kHour, kNow + kHour));
    }
    if (data & RevokedCrl) {
      choices.push_back(MakeCrlDer(root, listed, kNow - kHour / 4, kNow + kHour));
    }
    if (data & (GoodOcsp | RevokedOcsp | OtherCertOcsp)) {
      const std::size_t about = (data & OtherCertOcsp) ? std::size(kCases) : i;
      choices.push_back(Ctx(1, Join({Oid(RevocationOid), Ocsp(about, data & RevokedOcsp)})));
    }
    if (data & GoodBasicOcsp) {
      // OCSPResponse { status, [0] { SEQUENCE { id-pkix-ocsp-basic, OCTET STRING basic } } }
      const auto response = Ocsp(i, false);
      Der::Reader outer = Der::ReadSingle(response).children();
      outer.next();
      Der::Reader bytes = outer.next().children().next().children();
      bytes.next();
      const std::vector<std::uint8_t> basic = Der::ReadOctetString(bytes.next());
      choices.push_back(Ctx(1, Join({Oid("1.3.6.1.5.5.7.48.1.1"), basic})));
    }
    return choices;
  }

  static constexpr const char* RevocationOid = "1.3.6.1.5.5.7.16.2";
};

TEST(StampVerifyRevocation, TheTokensDataAndTheCallersStoresAnswerWithTheNetworkOff) {
  World world;
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(c.name);
    const Authority& tsa = world.tsas[i];
    Stamps::TstFields fields;
    fields.genTime = UtcText(kGenTime);
    TokenSpec spec;
    spec.tstInfo = Stamps::TstInfoDer(fields);
    spec.signerKey = tsa.key.get();
    spec.signerCertificate = CBlob(tsa.cert.der());
    CertIdSpec id;
    id.certificate = spec.signerCertificate;
    spec.signedAttributes = {SigningCertificateV2({id})};
    spec.certificates = {spec.signerCertificate};
    spec.revocationInfo = world.Choices(i, c.token);
    const CBlob token = ForgeToken(spec);

    StorePtr store(Platform::CertOpenStore(Platform::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    for (const V& crl : world.Choices(i, c.store)) {
      EXPECT_TRUE(Platform::CertAddEncodedCRLToStore(
          store.get(), Platform::X509_ASN_ENCODING, crl.data(),
          static_cast<Platform::DWORD>(crl.size()), Platform::CERT_STORE_ADD_NEW, nullptr));
    }
    PKI::TSP::Client::CStamp stamp;
    stamp.Import(token.pbData(), static_cast<unsigned long>(token.cbData()), nullptr);
    void* stores[] = {store.get()};
    EXPECT_EQ(stamp.VerifyCertificate(nullptr, stores, 1), c.verdict);
  }
}

}  // namespace
}  // namespace Velmora::Testing
