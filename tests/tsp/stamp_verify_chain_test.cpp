// CStamp::VerifyCertificate: the chain of the TSA certificate (or of the certificate given) is
// built with the token's certificates and the caller's stores, and the time-stamping chain
// policy's answer at the stamp's genTime comes back as the result, not as an exception. What the
// policy decides for each kind of chain is tested with the platform layer.
#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

#include "horodex/TSPStamp.h"
#include "platform/capi/test_hooks.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"
#include "tests/common/token_forge.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/tsp/stamp_tokens.h"

namespace Velmora::Testing {
namespace {

using namespace DerBuild;
using namespace Forge;
using PKI::TSP::Client::CStamp;
using Platform::HRESULT;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80092004);

constexpr std::time_t kDay = 24 * 3600;

// A PKI of its own: a root trusted for the process (or not), and TSA certificates under it.
struct Pki {
  Authority root;
  TempDir dir;
  explicit Pki(const std::string& name, bool trusted) : root(MakeRoot(name)) {
    if (trusted) {
      root.cert.writePem(dir / "root.pem");
      EXPECT_EQ(Platform::CertAddTrustedRootsFromFile((dir / "root.pem").c_str()), 0);
    }
  }
  Authority Tsa(std::time_t notBefore, std::time_t notAfter, long serial = 2) const {
    const CertSpec spec("TSA", serial, notBefore, notAfter, TsaExtensions());
    return MakeIssued(spec, root);
  }
};

// A token of `tsa` made at `genTime`, naming it by ESSCertIDv2; with its certificate inside
// unless told otherwise.
CBlob TokenOf(const Authority& tsa, std::time_t genTime, bool withCertificate = true,
              const TestCert* issuer = nullptr, const Authority* named = nullptr) {
  Stamps::TstFields fields;
  fields.genTime = UtcText(genTime);
  const CBlob certificate(tsa.cert.der());
  TokenSpec spec;
  spec.tstInfo = Stamps::TstInfoDer(fields);
  spec.signerKey = tsa.key.get();
  spec.signerCertificate = certificate;
  CertIdSpec id;
  id.certificate = named != nullptr ? CBlob(named->cert.der()) : certificate;
  spec.signedAttributes = {SigningCertificateV2({id})};
  if (withCertificate) {
    spec.certificates = {certificate};
  }
  if (issuer != nullptr) {
    spec.certificates.emplace_back(issuer->der());
  }
  return ForgeToken(spec);
}

struct Imported {
  CStamp stamp;
  explicit Imported(const CBlob& token) {
    stamp.Import(token.pbData(), static_cast<unsigned long>(token.cbData()), nullptr);
  }
};

TEST(StampVerifyChain, CallerStoresGiveTheCertificateAndNullEntriesAreSkipped) {
  const std::time_t now = std::time(nullptr);
  const Pki pki("Store Root", true);
  const Authority tsa = pki.Tsa(now - kDay, now + 365 * kDay, 7);
  Imported imported(TokenOf(tsa, now, false));
  EXPECT_EQ(CodeOf([&] { imported.stamp.VerifyCertificate(nullptr, nullptr, 0); }), kNotFound);

  const StorePtr store = StoreOf({&tsa.cert});
  void* stores[] = {nullptr, store.get(), nullptr};
  EXPECT_EQ(imported.stamp.VerifyCertificate(nullptr, stores, 3), 0);
}

TEST(StampVerifyChain, ACertificateSharingIssuerAndSerialCannotStandInForTheNamedOne) {
  const std::time_t now = std::time(nullptr);
  const Pki pki("Twin Root", true);
  const Authority named = pki.Tsa(now - kDay, now + 365 * kDay, 9);
  // Another key under a root of the same name: its certificate has the named one's issuer and
  // serial number, and it signs a token whose attribute names the real certificate.
  const Pki twin("Twin Root", false);
  const Authority impostor = twin.Tsa(now - kDay, now + 365 * kDay, 9);
  Imported imported(TokenOf(impostor, now, true, nullptr, &named));
  // The attribute's certificate is nowhere; the CMS signer id finds the impostor.
  const Platform::CERT_CONTEXT* bySignerId = imported.stamp.get_TSACertificate(nullptr, 0);
  ASSERT_NE(bySignerId, nullptr);
  EXPECT_EQ(CBlob(bySignerId->pbCertEncoded, bySignerId->cbCertEncoded),
            CBlob(impostor.cert.der()));
  // Given the named certificate, the signature is checked under its key, and fails.
  const ContextPtr real = named.cert.context();
  EXPECT_EQ(imported.stamp.Verify(real.get(), nullptr), static_cast<HRESULT>(0x80090006));
  EXPECT_EQ(imported.stamp.VerifyCertificate(real.get(), nullptr, 0), 0);
}

TEST(StampVerifyChain, AFaultInsideTheChainEngineIsTheLibrarysOneException) {
  const std::time_t now = std::time(nullptr);
  const Pki pki("Fault Root", true);
  Imported imported(TokenOf(pki.Tsa(now - kDay, now + 365 * kDay, 8), now));
  Platform::Capi::TestHooks::SetChainEngineHook([] { throw std::runtime_error("engine fault"); });
  const HRESULT code = CodeOf([&] { imported.stamp.VerifyCertificate(nullptr, nullptr, 0); });
  Platform::Capi::TestHooks::SetChainEngineHook(nullptr);
  EXPECT_EQ(code, Platform::E_UNEXPECTED);
}

}  // namespace
}  // namespace Velmora::Testing
