// Two stamps that share one certificate store, each used on its own thread: copies made and
// dropped, the store read, searched and grown, one stamp re-imported and both destroyed while the
// other thread still works. Run under ThreadSanitizer to see the counts and the store's lock hold.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/tsp/stamp_tokens.h"

namespace P = Velmora::Platform;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CStamp;

namespace {

constexpr int kRounds = 300;

int CountCertificates(void* store) {
  return static_cast<int>(Velmora::Testing::Stamps::StoreCertificates(store).size());
}

// One thread's work on its stamp: copies that share the store, reads and searches of the store,
// certificates added to it. Returns how many certificates it added.
int Work(const CStamp& stamp, P::PCCERT_CONTEXT extra) {
  int added = 0;
  for (int round = 0; round < kRounds; ++round) {
    const CStamp copy(stamp);
    void* store = copy.get_Certificates();
    P::HCERTSTORE held = P::CertDuplicateStore(store);
    EXPECT_GE(CountCertificates(held), 2);
    P::PCCERT_CONTEXT found =
        P::CertFindCertificateInStore(held, P::X509_ASN_ENCODING, 0, P::CERT_FIND_SUBJECT_NAME,
                                      &extra->pCertInfo->Issuer, nullptr);
    EXPECT_NE(found, nullptr);
    P::CertFreeCertificateContext(found);
    if (round % 10 == 0 &&
        P::CertAddCertificateContextToStore(held, extra, P::CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++added;
    }
    P::CertCloseStore(held, 0);
  }
  return added;
}

}  // namespace

TEST(StampThreads, TwoStampsShareOneStoreAcrossThreads) {
  const CBlob response = Velmora::Testing::OpenSslTsaFile("rsa-full.tsr");
  const CBlob other = Velmora::Testing::OpenSslTsaFile("ec-bare.tst");
  const CBlob extraDer = Velmora::Testing::OpenSslTsaFile("ec.der");
  P::PCCERT_CONTEXT extra = P::CertCreateCertificateContext(
      P::X509_ASN_ENCODING, extraDer.pbData(), static_cast<P::DWORD>(extraDer.cbData()));
  ASSERT_NE(extra, nullptr);

  auto a = std::make_unique<CStamp>();
  a->Import(response.pbData(), response.cbData(), nullptr);
  auto b = std::make_unique<CStamp>(*a);
  void* shared = a->get_Certificates();
  ASSERT_EQ(b->get_Certificates(), shared);
  P::HCERTSTORE watcher = P::CertDuplicateStore(shared);

  std::atomic<int> added{0};
  std::thread second([&] {
    added += Work(*b, extra);
    b->Import(other.pbData(), other.cbData(), nullptr);  // lets go of the shared store
    b.reset();
  });
  added += Work(*a, extra);
  a.reset();
  second.join();

  EXPECT_EQ(CountCertificates(watcher), 2 + added.load());
  EXPECT_TRUE(P::CertCloseStore(watcher, P::CERT_CLOSE_STORE_CHECK_FLAG));
  P::CertFreeCertificateContext(extra);
}
