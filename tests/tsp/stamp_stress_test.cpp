// 16 threads share one caller's certificate store, the store of the stamps copied from one
// imported stamp, the process's trust anchors and its revocation cache; between them they do
// 10,000 operations: imports, signature and chain verifications, copies and exports, with
// certificates added to the shared store as they go, and chains whose revocation is told by CRLs
// on a loopback server, fetched by whichever thread asks first and kept (in memory and on disk)
// for all. Every operation must give the single-threaded answer; run under ThreadSanitizer
// (scripts/test --tsan) it also shows that nothing shared is touched unlocked.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/winerror.h"
#include "tests/common/file_http_server.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/tsp/stamp_tokens.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CStamp;

namespace {

constexpr int kThreads = 16;
constexpr int kOperations = 10000;

CBlob Exported(const CStamp& stamp) {
  unsigned long length = 0;
  stamp.Export(nullptr, &length);
  CBlob bytes(length);
  stamp.Export(bytes.pbData(), &length);
  return bytes;
}

// A root, an intermediate whose status the root's CRL tells, and TSA certificates whose status
// the intermediate's CRL tells, both CRLs served on loopback; the last TSA certificate is revoked.
struct RevocationWorld {
  static constexpr std::size_t kTsas = 4;
  T::TempDir dir;
  T::FileHttpServer crls;
  T::Authority root = T::MakeRoot("Stress Root");
  std::unique_ptr<T::Authority> intermediate;
  std::vector<T::TestCert> tsas;

  RevocationWorld() {
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    root.cert.writePem(dir / "root.pem");
    EXPECT_EQ(P::CertAddTrustedRootsFromFile((dir / "root.pem").c_str()), P::S_OK);
    const std::time_t now = std::time(nullptr);
    std::vector<T::Extension> ca = T::CaExtensions();
    ca.push_back({"crlDistributionPoints", "URI:" + crls.url("/root.crl")});
    intermediate = std::make_unique<T::Authority>(
        T::MakeIssued(T::CertSpec("Stress Intermediate", 2, now - 3600, now + 86400, ca), root));
    crls.serve("/root.crl", T::MakeCrlDer(root, {}, now - 60, now + 86400));
    crls.serve("/tsa.crl",
               T::MakeCrlDer(*intermediate, {{100 + kTsas - 1}}, now - 60, now + 86400));
    std::vector<T::Extension> tsa = T::TsaExtensions();
    tsa.push_back({"crlDistributionPoints", "URI:" + crls.url("/tsa.crl")});
    for (std::size_t i = 0; i < kTsas; ++i) {
      T::CaKeyPtr key = T::NewKey();
      tsas.emplace_back(T::CertSpec("Stress TSA " + std::to_string(i), 100 + static_cast<long>(i),
                                    now - 3600, now + 86400, tsa),
                        key.get(), &intermediate->cert, intermediate->key.get());
    }
  }

  // Whether the chain of TSA certificate `i` (its intermediate found in `store`) gets the
  // revocation answers it should: the TSA's revoked for the last one, good otherwise, and the
  // intermediate's good.
  bool judgedRight(std::size_t i, P::HCERTSTORE store) const {
    T::ContextPtr context = tsas[i].context();
    P::CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    const P::CERT_CHAIN_CONTEXT* raw = nullptr;
    if (!P::CertGetCertificateChain(nullptr, context.get(), nullptr, store, &para,
                                    P::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr,
                                    &raw)) {
      return false;
    }
    std::unique_ptr<const P::CERT_CHAIN_CONTEXT, P::FreeWith<P::CertFreeCertificateChain>> chain(
        raw);
    const P::CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    const P::CERT_REVOCATION_INFO* tsa = simple.rgpElement[0]->pRevocationInfo;
    const P::CERT_REVOCATION_INFO* ca =
        simple.cElement == 3 ? simple.rgpElement[1]->pRevocationInfo : nullptr;
    const P::DWORD expected = i + 1 == kTsas ? static_cast<P::DWORD>(P::CRYPT_E_REVOKED) : 0;
    return tsa != nullptr && ca != nullptr && tsa->dwRevocationResult == expected &&
           ca->dwRevocationResult == 0;
  }
};

TEST(StampStress, SixteenThreadsShareStoresAndTrustForTenThousandOperations) {
  ASSERT_EQ(P::CertAddTrustedRootsFromFile((T::OpenSslTsaDir() / "ca.pem").c_str()), 0);
  const RevocationWorld revocation;
  // The caller's store: the TSA certificates that the bare token does not carry, and the
  // intermediate of the CRL-checked chains.
  P::HCERTSTORE shared = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_NE(shared, nullptr);
  ASSERT_TRUE(P::CertAddCertificateContextToStore(
      shared, revocation.intermediate->cert.context().get(), P::CERT_STORE_ADD_ALWAYS, nullptr));
  for (const char* name : {"rsa.der", "ec.der"}) {
    ASSERT_TRUE(P::CertAddCertificateContextToStore(
        shared, T::ContextOf(T::OpenSslTsaFile(name)).get(), P::CERT_STORE_ADD_ALWAYS, nullptr));
  }
  const CBlob messages[] = {T::OpenSslTsaFile("rsa-full.tsr"), T::OpenSslTsaFile("ec-bare.tst")};
  CStamp first;
  first.Import(messages[0].pbData(), messages[0].cbData(), nullptr);
  const CBlob tokens[] = {Exported(first), messages[1]};
  std::vector<CStamp> seeds(kThreads, first);  // all sharing first's store

  std::atomic<int> wrong{0};
  std::atomic<int> added{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CStamp own(seeds[t]);
      int which = 0;  // the message `own` holds
      void* stores[] = {shared};
      for (int i = t; i < kOperations; i += kThreads) {
        bool right = true;
        switch (i % 5) {
          case 0:
            which = (i / 5) % 2;
            own.Import(messages[which].pbData(), messages[which].cbData(), nullptr);
            right = Exported(own) == tokens[which];
            break;
          case 1: {
            const P::CERT_CONTEXT* tsa = own.get_TSACertificate(stores, 1);
            right = tsa != nullptr && own.Verify(tsa, nullptr) == 0;
            break;
          }
          case 2:
            right = own.VerifyCertificate(nullptr, stores, 1) == 0;
            break;
          case 3:
            right = revocation.judgedRight((i / 5) % RevocationWorld::kTsas, shared);
            break;
          default: {
            CStamp copy(seeds[t]);
            copy = own;
            right = Exported(copy) == tokens[which] && copy.Compare(&own) == 0;
            if (i % 64 == 4) {
              const P::CERT_CONTEXT* tsa = copy.get_TSACertificate(stores, 1);
              added += P::CertAddCertificateContextToStore(shared, tsa, P::CERT_STORE_ADD_ALWAYS,
                                                           nullptr);
            }
          }
        }
        wrong += right ? 0 : 1;
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(T::Stamps::StoreCertificates(shared).size(), 3u + static_cast<unsigned>(added.load()));
  seeds.clear();
  EXPECT_TRUE(P::CertCloseStore(shared, P::CERT_CLOSE_STORE_CHECK_FLAG));
}

}  // namespace
