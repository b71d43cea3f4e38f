// 16 threads share one caller's certificate store, the store of the stamps copied from one
// imported stamp, and the process's trust anchors; between them they do 10,000 operations:
// imports, signature and chain verifications, copies and exports, with certificates added to the
// shared store as they go. Every operation must give the single-threaded answer; run under
// ThreadSanitizer (scripts/test --tsan) it also shows that nothing shared is touched unlocked.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt_chain.h"
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

TEST(StampStress, SixteenThreadsShareStoresAndTrustForTenThousandOperations) {
  ASSERT_EQ(P::CertAddTrustedRootsFromFile((T::OpenSslTsaDir() / "ca.pem").c_str()), 0);
  // The caller's store: the TSA certificates that the bare token does not carry.
  P::HCERTSTORE shared = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_NE(shared, nullptr);
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
        switch (i % 4) {
          case 0:
            which = (i / 4) % 2;
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
          default: {
            CStamp copy(seeds[t]);
            copy = own;
            right = Exported(copy) == tokens[which] && copy.Compare(&own) == 0;
            if (i % 64 == 3) {
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
  EXPECT_EQ(T::Stamps::StoreCertificates(shared).size(), 2u + static_cast<unsigned>(added.load()));
  seeds.clear();
  EXPECT_TRUE(P::CertCloseStore(shared, P::CERT_CLOSE_STORE_CHECK_FLAG));
}

}  // namespace
