// Revocation at the stamp's time, end to end: a PKI made at test time whose TSA certificates
// point at loopback servers started here (OpenSSL's own OCSP responder, a small CRL server); the
// chain engine asks them, keeps their answers in the disk cache, and the time-stamping policy
// judges the answers at genTime.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/winerror.h"
#include "tests/common/chain_check.h"
#include "tests/common/child_process.h"
#include "tests/common/file_http_server.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

constexpr std::time_t kHour = 3600;
const std::time_t kNow = std::time(nullptr);
const std::time_t kGenTime = kNow - kHour;
const P::DWORD kRevoked = static_cast<P::DWORD>(P::CRYPT_E_REVOKED);
const P::DWORD kOffline = static_cast<P::DWORD>(P::CRYPT_E_REVOCATION_OFFLINE);
const P::DWORD kNoCheck = static_cast<P::DWORD>(P::CRYPT_E_NO_REVOCATION_CHECK);

enum class Source {
  Crl,
  StaleCrl,
  ForgedCrl,
  Ocsp,
  DelegatedOcsp,
  OcspWithoutEku,
  OcspDown,
  None,
  OcspUnknown,  // the responder's index does not hold the serial
  CrlAhead,     // issued by a CA whose clock runs a minute ahead of ours
  CrlFromAfar,  // dated two hours ahead
};

struct Case {
  const char* name;
  Source source;
  std::time_t revokedAt;  // 0: not listed
  int reason;             // -1: none
  P::DWORD verdict;       // of the policy
  P::DWORD required;      // of the policy when revocation checking is required
};

// A certificate revoked after genTime for a reason that leaves its key sound (superseded) keeps
// its stamps.
const Case kCases[] = {
    {"good (CRL)", Source::Crl, 0, -1, 0, 0},
    {"revoked before genTime", Source::Crl, kGenTime - kHour / 2, 1, kRevoked, kRevoked},
    {"after genTime, keyCompromise", Source::Crl, kGenTime + kHour / 2, 1, kRevoked, kRevoked},
    {"after genTime, no reason", Source::Crl, kGenTime + kHour / 2, -1, kRevoked, kRevoked},
    {"after genTime, superseded (differs)", Source::Crl, kGenTime + kHour / 2, 4, 0, 0},
    {"on hold", Source::Crl, kGenTime + kHour / 2, 6, kRevoked, kRevoked},
    {"hold released", Source::Crl, kGenTime - kHour / 2, 8, 0, 0},
    {"stale CRL", Source::StaleCrl, 0, -1, 0, kOffline},
    {"CRL signed by another key", Source::ForgedCrl, kGenTime - kHour, 1, 0, kOffline},
    {"good (OCSP)", Source::Ocsp, 0, -1, 0, 0},
    {"revoked before genTime (OCSP)", Source::Ocsp, kGenTime - kHour / 2, 1, kRevoked, kRevoked},
    {"after genTime, superseded (OCSP)", Source::Ocsp, kGenTime + kHour / 2, 4, 0, 0},
    {"delegated responder", Source::DelegatedOcsp, 0, -1, 0, 0},
    {"delegated responder without OCSPSigning", Source::OcspWithoutEku, 0, -1, 0, kOffline},
    {"responder down", Source::OcspDown, 0, -1, 0, kOffline},
    {"no revocation source", Source::None, 0, -1, 0, kNoCheck},
    {"responder does not know it", Source::OcspUnknown, 0, -1, 0, kOffline},
    {"CRL from a clock a minute ahead", Source::CrlAhead, 0, -1, 0, 0},
    {"CRL dated two hours ahead", Source::CrlFromAfar, 0, -1, 0, kOffline},
};
constexpr long kFirstSerial = 1000;

// `openssl ocsp -port 0` answering for the intermediate from an index file, signed by `signer`.
struct Responder {
  Responder(const TempDir& dir, const std::string& name, const Authority& signer) {
    const auto cert = dir / (name + ".pem");
    signer.cert.writePem(cert);
    WriteKeyPem(signer.key.get(), dir / (name + ".key"));
    process = std::make_unique<ChildProcess>(
        "/usr/bin/openssl",
        std::vector<std::string>{"ocsp", "-port", "0", "-index", (dir / "index.txt").string(),
                                 "-CA", (dir / "intermediate.pem").string(), "-rsigner",
                                 cert.string(), "-rkey", (dir / (name + ".key")).string(), "-nmin",
                                 "60"},
        (dir / (name + ".log")).string());
    const std::string line = process->FirstLine(std::chrono::seconds(10));  // ACCEPT [::]:port
    url = "http://127.0.0.1:" +
          line.substr(line.rfind(':') + 1, line.find(' ', 7) - 1 - line.rfind(':'));
  }
  std::unique_ptr<ChildProcess> process;
  std::string url;
};

struct World {
  TempDir dir;
  Authority root = MakeRoot("Revocation Root");
  FileHttpServer crls;
  std::unique_ptr<Authority> intermediate;
  std::vector<TestCert> tsas;
  std::vector<std::unique_ptr<Responder>> responders;  // issuer, delegated, without EKU

  World() {
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    root.cert.writePem(dir / "root.pem");
    EXPECT_EQ(P::CertAddTrustedRootsFromFile((dir / "root.pem").c_str()), P::S_OK);
    std::vector<Extension> ca = CaExtensions();
    ca.push_back({"crlDistributionPoints", "URI:" + crls.url("/root.crl")});
    intermediate = std::make_unique<Authority>(
        MakeIssued(CertSpec("Revocation Intermediate", 2, kNow - 400 * 24 * kHour,
                            kNow + 400 * 24 * kHour, ca),
                   root));
    intermediate->cert.writePem(dir / "intermediate.pem");
    crls.serve("/root.crl", MakeCrlDer(root, {}, kNow - 2 * kHour, kNow + 24 * kHour));

    std::ofstream index(dir / "index.txt");
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
      const Case& c = kCases[i];
      if (c.source == Source::OcspUnknown) {
        continue;
      }
      static const char* kReasons[] = {"unspecified", "keyCompromise", "CACompromise",
                                       "affiliationChanged", "superseded"};
      const bool listed = c.revokedAt != 0 && c.source == Source::Ocsp;
      index << OcspIndexLine(kFirstSerial + static_cast<long>(i), kNow + 400 * 24 * kHour,
                             listed ? c.revokedAt : 0,
                             listed && c.reason >= 0 ? kReasons[c.reason] : "");
    }
    index.close();
    std::vector<Extension> signing = {{"extendedKeyUsage", "OCSPSigning"}};
    std::vector<Extension> other = {{"extendedKeyUsage", "timeStamping"}};
    responders.push_back(std::make_unique<Responder>(dir, "issuer", *intermediate));
    responders.push_back(std::make_unique<Responder>(
        dir, "delegated",
        MakeIssued(CertSpec("Delegated Responder", 3, kNow - kHour, kNow + kHour * 24, signing),
                   *intermediate)));
    responders.push_back(std::make_unique<Responder>(
        dir, "noeku",
        MakeIssued(CertSpec("Other Responder", 4, kNow - kHour, kNow + kHour * 24, other),
                   *intermediate)));

    const Authority impostor = MakeRoot("Revocation Intermediate");
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
      const Case& c = kCases[i];
      const long serial = kFirstSerial + static_cast<long>(i);
      const std::string path = "/case" + std::to_string(i) + ".crl";
      std::vector<Extension> extensions = TsaExtensions();
      std::vector<CrlEntry> entries;
      if (c.revokedAt != 0) {
        entries.push_back({serial, c.revokedAt, c.reason});
      }
      switch (c.source) {
        case Source::Crl:
          crls.serve(path, MakeCrlDer(*intermediate, entries, kNow - 2 * kHour, kNow + kHour));
          break;
        case Source::StaleCrl:
          crls.serve(path,
                     MakeCrlDer(*intermediate, entries, kNow - 72 * kHour, kNow - 48 * kHour));
          break;
        case Source::CrlAhead:
          crls.serve(path, MakeCrlDer(*intermediate, entries, kNow + 60, kNow + kHour));
          break;
        case Source::CrlFromAfar:
          crls.serve(path, MakeCrlDer(*intermediate, entries, kNow + 2 * kHour, kNow + 3 * kHour));
          break;
        case Source::ForgedCrl:
          crls.serve(path, MakeCrlDer(impostor, entries, kNow - 2 * kHour, kNow + kHour));
          break;
        case Source::Ocsp:
        case Source::DelegatedOcsp:
        case Source::OcspWithoutEku:
          extensions.push_back(
              {"authorityInfoAccess",
               "OCSP;URI:" + responders[static_cast<std::size_t>(c.source) - 3]->url});
          break;
        case Source::OcspUnknown:
          extensions.push_back({"authorityInfoAccess", "OCSP;URI:" + responders[0]->url});
          break;
        case Source::OcspDown:
          extensions.push_back({"authorityInfoAccess",
                                "OCSP;URI:http://127.0.0.1:" + std::to_string(FreeLoopbackPort())});
          break;
        case Source::None:
          break;
      }
      if (crls.body(path)) {  // a CRL source
        extensions.push_back({"crlDistributionPoints", "URI:" + crls.url(path)});
      }
      CaKeyPtr key = NewKey();
      tsas.emplace_back(CertSpec("TSA " + std::to_string(i), serial, kNow - 24 * kHour,
                                 kNow + 24 * kHour, extensions),
                        key.get(), &intermediate->cert, intermediate->key.get());
    }
  }

  // The chain of case `i`'s certificate judged at genTime, as the stamp's verification does.
  ChainVerdict judge(std::size_t i, P::DWORD chainFlags = 0) {
    return JudgeChain(tsas[i], {&intermediate->cert}, kGenTime, chainFlags);
  }
};

class Revocation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared = std::make_unique<World>(); }
  static void TearDownTestSuite() { shared.reset(); }
  static inline std::unique_ptr<World> shared;
  World& world() { return *shared; }
  static std::size_t indexOf(const char* name) {
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
      if (std::string(kCases[i].name) == name) {
        return i;
      }
    }
    throw std::logic_error(name);
  }
  std::vector<std::filesystem::path> cacheFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             world().dir / "cache" / "velmora" / "revocation", error)) {
      files.push_back(entry.path());
    }
    return files;
  }
};

TEST_F(Revocation, EachSourceAndReasonIsJudgedAtGenTime) {
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(c.name);
    const ChainVerdict outcome = world().judge(i);
    EXPECT_EQ(outcome.error, c.verdict);
    EXPECT_EQ(outcome.required, c.required);
    const bool answered = c.required == 0 || c.required == kRevoked;
    EXPECT_EQ(outcome.revocation.dwSource,
              answered ? P::DWORD{P::REVOCATION_SOURCE_NETWORK} : P::REVOCATION_SOURCE_NONE);
    if (c.revokedAt != 0 && answered && c.reason != 8) {
      EXPECT_EQ(outcome.revocation.dwRevocationResult, kRevoked);
      EXPECT_EQ(outcome.revocation.lReason, c.reason);
    }
  }
  const std::size_t down = indexOf("responder down");
  EXPECT_EQ(world().judge(down).revocation.dwFirstSourceError, P::ERROR_WINHTTP_CANNOT_CONNECT);
  EXPECT_EQ(world()
                .judge(indexOf("delegated responder without OCSPSigning"))
                .revocation.dwFirstSourceError,
            static_cast<P::DWORD>(P::TRUST_E_CERT_SIGNATURE));
  EXPECT_EQ(world().judge(indexOf("stale CRL")).revocation.dwFirstSourceError,
            static_cast<P::DWORD>(P::CERT_E_EXPIRED));
}

TEST_F(Revocation, ACorruptCacheFileIsIgnoredAndReplaced) {
  const std::size_t revoked = indexOf("revoked before genTime (OCSP)");
  world().judge(revoked);
  for (const auto& file : cacheFiles()) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "not DER at all";
  }
  const ChainVerdict outcome = world().judge(revoked);
  EXPECT_EQ(outcome.error, kRevoked);
  EXPECT_EQ(outcome.revocation.dwSource, P::DWORD{P::REVOCATION_SOURCE_NETWORK});
  EXPECT_EQ(outcome.revocation.dwFirstSourceError, static_cast<P::DWORD>(P::CRYPT_E_ASN1_ERROR));
  EXPECT_EQ(world().judge(revoked, P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY).revocation.dwSource,
            P::DWORD{P::REVOCATION_SOURCE_CACHE});
}

}  // namespace
