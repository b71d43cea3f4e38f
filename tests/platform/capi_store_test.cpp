// Memory and collection stores: add dispositions, enumeration, the find types, collections and
// their members, and contexts that outlive their store.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/capi/wincrypt.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/test_ca.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
using Velmora::CBlob;
using Velmora::Testing::ContextPtr;
using Velmora::Testing::OpenSslTsaFile;
using Velmora::Testing::StorePtr;

namespace {

StorePtr Open(P::LPCSTR provider) {
  return StorePtr(P::CertOpenStore(provider, 0, 0, 0, nullptr));
}

ContextPtr Create(const std::string& file) {
  const CBlob der = OpenSslTsaFile(file);
  return ContextPtr(P::CertCreateCertificateContext(P::X509_ASN_ENCODING, der.pbData(),
                                                    static_cast<P::DWORD>(der.cbData())));
}

// The subjects' first bytes would not tell the certificates apart; their encodings do.
std::vector<P::DWORD> Sizes(void* store) {
  std::vector<P::DWORD> sizes;
  P::PCCERT_CONTEXT c = nullptr;
  while ((c = P::CertEnumCertificatesInStore(store, c)) != nullptr) {
    sizes.push_back(c->cbCertEncoded);
  }
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::CRYPT_E_NOT_FOUND);
  return sizes;
}

P::PCCERT_CONTEXT Find(void* store, P::DWORD type, const void* para) {
  return P::CertFindCertificateInStore(store, P::X509_ASN_ENCODING, 0, type, para, nullptr);
}

}  // namespace

TEST(CapiStore, AddDispositionsAndEnumeration) {
  const StorePtr store = Open(P::CERT_STORE_PROV_MEMORY);
  const ContextPtr rsa = Create("rsa.der");
  const ContextPtr ec = Create("ec.der");
  P::PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(
      P::CertAddCertificateContextToStore(store.get(), rsa.get(), P::CERT_STORE_ADD_NEW, &added));
  EXPECT_NE(added, rsa.get());  // the store holds a copy of its own
  EXPECT_EQ(added->hCertStore, store.get());
  EXPECT_FALSE(
      P::CertAddCertificateContextToStore(store.get(), rsa.get(), P::CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::CRYPT_E_EXISTS);
  ASSERT_TRUE(P::CertAddCertificateContextToStore(store.get(), ec.get(), P::CERT_STORE_ADD_ALWAYS,
                                                  nullptr));
  ASSERT_TRUE(P::CertAddCertificateContextToStore(store.get(), rsa.get(), P::CERT_STORE_ADD_ALWAYS,
                                                  nullptr));
  EXPECT_EQ(Sizes(store.get()),
            (std::vector{rsa->cbCertEncoded, ec->cbCertEncoded, rsa->cbCertEncoded}));
  // REPLACE_EXISTING swaps the first match in place; a caller's reference to it stays good.
  ASSERT_TRUE(P::CertAddCertificateContextToStore(store.get(), rsa.get(),
                                                  P::CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  EXPECT_EQ(Sizes(store.get()).size(), 3u);
  EXPECT_EQ(added->pCertInfo->Subject.cbData, rsa->pCertInfo->Subject.cbData);
  P::CertFreeCertificateContext(added);

  EXPECT_FALSE(P::CertAddCertificateContextToStore(store.get(), rsa.get(), 9, nullptr));
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::E_INVALIDARG);
  const P::LPCSTR fileProvider = reinterpret_cast<P::LPCSTR>(std::uintptr_t{3});
  EXPECT_EQ(P::CertOpenStore(fileProvider, 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(P::GetLastError(), P::ERROR_CALL_NOT_IMPLEMENTED);
}

TEST(CapiStore, FindTypes) {
  const StorePtr store = Open(P::sz_CERT_STORE_PROV_MEMORY);
  const ContextPtr rsa = Create("rsa.der");
  const ContextPtr ec = Create("ec.der");
  for (const auto* c : {ec.get(), rsa.get()}) {
    ASSERT_TRUE(
        P::CertAddCertificateContextToStore(store.get(), c, P::CERT_STORE_ADD_ALWAYS, nullptr));
  }
  auto expectFinds = [&](P::DWORD type, const void* para, const P::CERT_CONTEXT* expected) {
    const ContextPtr found(Find(store.get(), type, para));
    ASSERT_TRUE(found) << std::hex << type;
    EXPECT_EQ(found->cbCertEncoded, expected->cbCertEncoded) << std::hex << type;
  };
  expectFinds(P::CERT_FIND_SUBJECT_NAME, &rsa->pCertInfo->Subject, rsa.get());
  expectFinds(P::CERT_FIND_EXISTING, ec.get(), ec.get());

  // By CERT_ID: issuer and serial number (a needless sign byte leaves the number the same) or
  // key identifier.
  std::vector<unsigned char> padded(
      rsa->pCertInfo->SerialNumber.pbData,
      rsa->pCertInfo->SerialNumber.pbData + rsa->pCertInfo->SerialNumber.cbData);
  padded.push_back(0x00);
  P::CERT_ID id{};
  id.dwIdChoice = P::CERT_ID_ISSUER_SERIAL_NUMBER;
  id.IssuerSerialNumber.Issuer = rsa->pCertInfo->Issuer;
  id.IssuerSerialNumber.SerialNumber = {static_cast<P::DWORD>(padded.size()), padded.data()};
  expectFinds(P::CERT_FIND_CERT_ID, &id, rsa.get());
  unsigned char keyId[64];
  P::DWORD size = sizeof keyId;
  ASSERT_TRUE(
      P::CertGetCertificateContextProperty(ec.get(), P::CERT_KEY_IDENTIFIER_PROP_ID, keyId, &size));
  id.dwIdChoice = P::CERT_ID_KEY_IDENTIFIER;
  id.KeyId = {size, keyId};
  expectFinds(P::CERT_FIND_CERT_ID, &id, ec.get());

  // Both share an issuer: the search goes on after the previous match, then ends.
  P::PCCERT_CONTEXT first = Find(store.get(), P::CERT_FIND_ISSUER_NAME, &rsa->pCertInfo->Issuer);
  ASSERT_NE(first, nullptr);
  P::PCCERT_CONTEXT next = P::CertFindCertificateInStore(
      store.get(), 0, 0, P::CERT_FIND_ISSUER_NAME, &rsa->pCertInfo->Issuer, first);
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, first);
  EXPECT_EQ(P::CertFindCertificateInStore(store.get(), 0, 0, P::CERT_FIND_ISSUER_NAME,
                                          &rsa->pCertInfo->Issuer, next),
            nullptr);
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::CRYPT_E_NOT_FOUND);
  EXPECT_EQ(Find(store.get(), 0x12345, &id), nullptr);
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::E_INVALIDARG);
}

TEST(CapiStore, CollectionsShowTheirMembersOnce) {
  const StorePtr collection = Open(P::CERT_STORE_PROV_COLLECTION);
  const StorePtr low = Open(P::CERT_STORE_PROV_MEMORY);
  const StorePtr high = Open(P::CERT_STORE_PROV_MEMORY);
  const ContextPtr rsa = Create("rsa.der");
  const ContextPtr ec = Create("ec.der");
  P::CertAddCertificateContextToStore(low.get(), rsa.get(), P::CERT_STORE_ADD_ALWAYS, nullptr);
  P::CertAddCertificateContextToStore(high.get(), ec.get(), P::CERT_STORE_ADD_ALWAYS, nullptr);

  // Adding to a collection needs a member that takes adds.
  EXPECT_FALSE(P::CertAddCertificateContextToStore(collection.get(), rsa.get(),
                                                   P::CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::E_ACCESSDENIED);
  ASSERT_TRUE(P::CertAddStoreToCollection(collection.get(), low.get(),
                                          P::CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG, 0));
  ASSERT_TRUE(P::CertAddStoreToCollection(collection.get(), high.get(), 0, 5));
  ASSERT_TRUE(P::CertAddStoreToCollection(collection.get(), low.get(), 0, 0));  // again
  EXPECT_EQ(Sizes(collection.get()), (std::vector{ec->cbCertEncoded, rsa->cbCertEncoded}));
  ASSERT_TRUE(P::CertAddCertificateContextToStore(collection.get(), ec.get(),
                                                  P::CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(Sizes(low.get()).size(), 2u);

  // A collection never holds itself, directly or through another.
  const StorePtr outer = Open(P::CERT_STORE_PROV_COLLECTION);
  ASSERT_TRUE(P::CertAddStoreToCollection(outer.get(), collection.get(), 0, 0));
  EXPECT_FALSE(P::CertAddStoreToCollection(collection.get(), outer.get(), 0, 0));
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::E_INVALIDARG);
  EXPECT_FALSE(P::CertAddStoreToCollection(collection.get(), collection.get(), 0, 0));
  EXPECT_FALSE(P::CertAddStoreToCollection(low.get(), high.get(), 0, 0));
  EXPECT_EQ(Sizes(outer.get()).size(), 3u);
}

TEST(CapiStore, ContextsOutliveTheirStore) {
  P::HCERTSTORE store = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  const ContextPtr rsa = Create("rsa.der");
  P::PCCERT_CONTEXT held = nullptr;
  ASSERT_TRUE(
      P::CertAddCertificateContextToStore(store, rsa.get(), P::CERT_STORE_ADD_ALWAYS, &held));
  // A second handle keeps the store open; the last close with the check flag reports the context
  // still held, and the context stays whole.
  EXPECT_EQ(P::CertDuplicateStore(store), store);
  EXPECT_TRUE(P::CertCloseStore(store, P::CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_FALSE(P::CertCloseStore(store, P::CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_EQ(static_cast<P::HRESULT>(P::GetLastError()), P::CRYPT_E_PENDING_CLOSE);
  EXPECT_EQ(held->cbCertEncoded, rsa->cbCertEncoded);
  EXPECT_EQ(std::memcmp(held->pCertInfo->Subject.pbData, rsa->pCertInfo->Subject.pbData,
                        rsa->pCertInfo->Subject.cbData),
            0);
  P::CertFreeCertificateContext(held);  // frees the store's memory too
}
