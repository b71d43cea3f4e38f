// CRLs of a PKI made here beside a certificate's chain: a CA sharded over two distribution points,
// delta CRLs, CRLs whose signer is not what it claims, a malformed indirect CRL and CRL signers
// that vouch for each other. Each is judged offline; only a CRL in scope, authentic and complete
// may say "good", and none of them may hang or crash the engine.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/capi/revocation_cache.h"
#include "platform/capi/revocation_ocsp.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/winerror.h"
#include "tests/common/chain_check.h"
#include "tests/common/scratch.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

using Der = std::vector<unsigned char>;
enum class Expect { Good, Revoked, Unknown, NewestGood };

const std::time_t kNow = std::time(nullptr);

std::vector<Extension> Cert(const std::string& point, bool ca = false,
                            const char* usage = "critical,keyCertSign,cRLSign") {
  std::vector<Extension> list{{"crlDistributionPoints", "URI:http://127.0.0.1:9/" + point}};
  if (ca) {
    list.push_back({"basicConstraints", "critical,CA:TRUE"});
    list.push_back({"keyUsage", usage});
  } else {
    list.push_back({"keyUsage", "critical,cRLSign,digitalSignature"});
  }
  return list;
}

// An issuingDistributionPoint naming the point (and saying indirectCRL), as a critical
// extension's DER value in OpenSSL's configuration syntax.
std::string Scope(const std::string& point, bool indirect = false) {
  const std::string uri = "http://127.0.0.1:9/" + point;
  std::string der =
      std::string(1, '\x86') + char(uri.size()) + uri;    // [6] uniformResourceIdentifier
  der = std::string(1, '\xA0') + char(der.size()) + der;  // fullName
  der = std::string(1, '\xA0') + char(der.size()) + der;  // distributionPoint
  if (indirect) {
    der += "\x84\x01\xFF";
  }
  der = std::string(1, '\x30') + char(der.size()) + der;
  std::string text = "critical,DER:";
  for (const char byte : der) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    text += kHex[(byte >> 4) & 0xF];
    text += kHex[byte & 0xF];
  }
  return text;
}

// A CRL of `issuer` scoped to the point, numbered, and a delta of base `base` when not 0.
Der ScopedCrl(const Authority& issuer, const std::string& point, int number,
              const std::vector<CrlEntry>& entries, int base = 0,
              std::time_t thisUpdate = kNow - 3600) {
  std::vector<Extension> list{{"issuingDistributionPoint", Scope(point)},
                              {"crlNumber", "ASN1:INTEGER:" + std::to_string(number)}};
  if (base != 0) {
    list.push_back({"deltaCRL", "critical,ASN1:INTEGER:" + std::to_string(base)});
  }
  return MakeCrlDer(issuer, entries, thisUpdate, kNow + 3600, list);
}

TEST(CrlScope, OnlyAnAuthenticCompleteCrlInScopeSpeaksForACertificate) {
  TempDir dir;
  setenv("XDG_CACHE_HOME", dir.path().c_str(), 1);
  const Authority root = MakeRoot("Scope Root");
  const InstalledRoot installed(root.cert);
  const Der rootCrl = MakeCrlDer(root, {}, kNow - 3600, kNow + 3600);
  const Authority ca = MakeIssued(CertSpec("Shard CA", 2, kNow - 86400, kNow + 86400,
                                           {{"basicConstraints", "critical,CA:TRUE"},
                                            {"keyUsage", "critical,keyCertSign,cRLSign"}}),
                                  root);
  const Authority shardA =
      MakeIssued(CertSpec("Shard A EE", 11, kNow - 86400, kNow + 86400, Cert("a.crl")), ca);
  // Another key under the CA's name, certified by a root nobody trusts.
  const Authority strangerRoot = MakeRoot("Stranger Root");
  const Authority impostor = MakeIssued(
      CertSpec("Shard CA", 3, kNow - 86400, kNow + 86400, Cert("a.crl", true)), strangerRoot);
  // CRL signers that vouch for each other: the CA may not sign CRLs itself.
  const Authority loopCa = MakeIssued(
      CertSpec("Loop CA", 4, kNow - 86400, kNow + 86400,
               {{"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign"}}),
      root);
  const Authority loopEe =
      MakeIssued(CertSpec("Loop EE", 21, kNow - 86400, kNow + 86400, Cert("one.crl")), loopCa);
  const Authority signer1 =
      MakeIssued(CertSpec("Loop CA", 22, kNow - 86400, kNow + 86400, Cert("two.crl")), loopCa);
  const Authority signer2 =
      MakeIssued(CertSpec("Loop CA", 23, kNow - 86400, kNow + 86400, Cert("one.crl")), loopCa);
  std::vector<Extension> both = Cert("a.crl");
  both.push_back({"authorityInfoAccess", "OCSP;URI:http://127.0.0.1:9/ocsp"});
  const Authority withOcsp =
      MakeIssued(CertSpec("Shard A EE", 12, kNow - 86400, kNow + 86400, both), ca);
  // A certificateIssuer whose GeneralNames is empty.
  const Der malformedIndirect = MakeCrlDer(ca, {{11, 0, 1, {0x30, 0x00}}}, kNow - 3600, kNow + 3600,
                                           {{"issuingDistributionPoint", Scope("a.crl", true)}});

  const struct {
    const char* name;
    const Authority& subject;
    std::vector<Der> crls;
    std::vector<const TestCert*> extra;
    Expect expected;
    bool cachedOcsp = false;  // a good OCSP answer of a minute ago in the disk cache
  } cases[] = {
      {"shard A's CRL answers for A", shardA, {ScopedCrl(ca, "a.crl", 1, {})}, {}, Expect::Good},
      {"shard A's CRL revokes A", shardA, {ScopedCrl(ca, "a.crl", 1, {{11}})}, {}, Expect::Revoked},
      {"shard B's CRL says nothing of A, though it lists A's serial",
       shardA,
       {ScopedCrl(ca, "b.crl", 1, {{11}})},
       {},
       Expect::Unknown},
      {"a CRL signed by another key of the issuer's name",
       shardA,
       {ScopedCrl(impostor, "a.crl", 1, {})},
       {},
       Expect::Unknown},
      {"a CRL signer that does not chain to the trust anchor",
       shardA,
       {ScopedCrl(impostor, "a.crl", 1, {})},
       {&impostor.cert},
       Expect::Unknown},
      {"a delta CRL without its complete CRL",
       shardA,
       {ScopedCrl(ca, "a.crl", 2, {}, 1)},
       {},
       Expect::Unknown},
      {"a delta whose base is newer than the complete CRL",
       shardA,
       {ScopedCrl(ca, "a.crl", 1, {}), ScopedCrl(ca, "a.crl", 6, {}, 5)},
       {},
       Expect::Unknown},
      {"a delta that revokes over a complete CRL that does not",
       shardA,
       {ScopedCrl(ca, "a.crl", 1, {}), ScopedCrl(ca, "a.crl", 2, {{11, 0, 1}}, 1)},
       {},
       Expect::Revoked},
      {"a delta's removeFromCRL lifts the complete CRL's hold",
       shardA,
       {ScopedCrl(ca, "a.crl", 1, {{11, 0, 6}}), ScopedCrl(ca, "a.crl", 2, {{11, 0, 8}}, 1)},
       {},
       Expect::Good},
      {"an indirect CRL with a malformed certificateIssuer",
       shardA,
       {malformedIndirect},
       {},
       Expect::Unknown},
      {"CRL signers that vouch for each other",
       loopEe,
       {ScopedCrl(signer1, "one.crl", 1, {}), ScopedCrl(signer2, "two.crl", 1, {})},
       {&loopCa.cert, &signer1.cert, &signer2.cert},
       Expect::Unknown},
      {"of two good answers the newer speaks: the caller's CRL over the cache's OCSP answer",
       withOcsp,
       {ScopedCrl(ca, "a.crl", 1, {}, 0, kNow - 10)},
       {},
       Expect::NewestGood,
       true},
  };
  for (const auto& c : cases) {
    std::vector<Der> crls = c.crls;
    crls.push_back(rootCrl);
    std::vector<const TestCert*> extra = c.extra;
    extra.push_back(&ca.cert);
    if (c.cachedOcsp) {
      namespace Capi = Velmora::Platform::Capi;
      Capi::WriteRevocationCache(
          Capi::CacheKind::Ocsp,
          Capi::OcspCacheKey(c.subject.cert.context().get(), ca.cert.context().get()),
          TestPki::GoodOcspResponse(c.subject.cert.x509(), ca.cert.x509(), ca.key.get(), 3600));
    }
    const ChainVerdict verdict =
        JudgeChain(c.subject.cert, extra, kNow, P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY, crls);
    const P::DWORD bits = verdict.chainErrors;
    SCOPED_TRACE(::testing::Message() << c.name << ": trust bits 0x" << std::hex << bits);
    EXPECT_EQ(verdict.elements.size(), 3u);
    switch (c.expected) {
      case Expect::Good:
        EXPECT_EQ(bits, 0u);
        break;
      case Expect::NewestGood:
        EXPECT_EQ(bits, 0u);
        EXPECT_EQ(verdict.revocation.dwKind, static_cast<P::DWORD>(P::REVOCATION_KIND_CRL));
        break;
      case Expect::Revoked:
        EXPECT_NE(bits & P::CERT_TRUST_IS_REVOKED, 0u);
        EXPECT_EQ(verdict.revocation.dwRevocationResult, static_cast<P::DWORD>(P::CRYPT_E_REVOKED));
        break;
      case Expect::Unknown:
        EXPECT_EQ(bits & P::CERT_TRUST_IS_REVOKED, 0u);
        EXPECT_NE(bits & P::CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 0u);
        break;
    }
  }
}

}  // namespace
