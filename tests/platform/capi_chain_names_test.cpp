// Names as the chain engine matches them, next to OpenSSL's X509_verify_cert on the same chains,
// and the authorityKeyIdentifier choosing between two issuers of one name and key.
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

// A name of O and CN of the string type given, as DER.
std::vector<unsigned char> NameDer(int type, const char* o, const char* cn) {
  std::unique_ptr<X509_NAME, P::FreeWith<X509_NAME_free>> name(X509_NAME_new());
  for (auto [field, text] : {std::pair{"O", o}, std::pair{"CN", cn}}) {
    X509_NAME_add_entry_by_txt(name.get(), field, type,
                               reinterpret_cast<const unsigned char*>(text), -1, -1, 0);
  }
  unsigned char* out = nullptr;
  const int length = i2d_X509_NAME(name.get(), &out);
  std::vector<unsigned char> der(out, out + length);
  OPENSSL_free(out);
  return der;
}

// The elements of the chain our engine builds for `subject`, empty when it is not trusted.
std::vector<std::vector<unsigned char>> TrustedChain(const TestCert& subject,
                                                     const std::vector<const TestCert*>& extra) {
  StorePtr store = StoreOf(extra);
  const P::CERT_CHAIN_CONTEXT* chain = nullptr;
  EXPECT_TRUE(P::CertGetCertificateChain(nullptr, subject.context().get(), nullptr, store.get(),
                                         nullptr, 0, nullptr, &chain));
  std::vector<std::vector<unsigned char>> elements;
  for (P::DWORD i = 0; chain->TrustStatus.dwErrorStatus == 0 && i < chain->rgpChain[0]->cElement;
       ++i) {
    const P::CERT_CONTEXT* c = chain->rgpChain[0]->rgpElement[i]->pCertContext;
    elements.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  }
  P::CertFreeCertificateChain(chain);
  return elements;
}

TEST(ChainNames, IssuerNamesMatchAsDirectoryStringsAndTheKeyIdentifierChooses) {
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  setenv("VELMORA_ROOT", dir.path().c_str(), 1);
  setenv("SSL_CERT_FILE", (dir / "none").c_str(), 1);
  CertSpec rootSpec{"Names Root", 1, std::time(nullptr) - 3600, std::time(nullptr) + 3600,
                    CaExtensions()};
  rootSpec.subjectName = NameDer(V_ASN1_PRINTABLESTRING, "Velmora Test", "Names Root");
  const CaKeyPtr rootKey = NewKey();
  const TestCert root(rootSpec, rootKey.get(), nullptr, rootKey.get());
  root.writePem(dir / "velmora" / "certstores" / "Root" / "root.pem");

  struct Case {
    int type;
    const char *o, *cn;
    bool ours, openssl;  // OpenSSL folds IA5String values too; we compare them byte for byte
  } const cases[] = {{V_ASN1_UTF8STRING, "  VELMORA   test ", "names\troot", true, true},
                     {V_ASN1_PRINTABLESTRING, "Velmora Tost", "Names Root", false, false},
                     {V_ASN1_IA5STRING, "Velmora Test", "Names Root", false, true}};
  for (const Case& c : cases) {
    CertSpec spec{"Names TSA", 2, rootSpec.notBefore, rootSpec.notAfter, TsaExtensions()};
    spec.issuerName = NameDer(c.type, c.o, c.cn);
    const CaKeyPtr key = NewKey();
    const TestCert leaf(spec, key.get(), &root, rootKey.get());
    EXPECT_EQ(TrustedChain(leaf, {}).size(), c.ours ? 2u : 0u) << c.o;
    std::unique_ptr<X509_STORE, P::FreeWith<X509_STORE_free>> trusted(X509_STORE_new());
    X509_STORE_add_cert(trusted.get(), root.x509());
    std::unique_ptr<X509_STORE_CTX, P::FreeWith<X509_STORE_CTX_free>> ctx(X509_STORE_CTX_new());
    X509_STORE_CTX_init(ctx.get(), trusted.get(), leaf.x509(), nullptr);
    EXPECT_EQ(X509_verify_cert(ctx.get()) == 1, c.openssl) << c.o;
    // Finds by issuer name match the same way.
    StorePtr store = StoreOf({&leaf});
    P::PCCERT_CONTEXT found = P::CertFindCertificateInStore(
        store.get(), 0, 0, P::CERT_FIND_ISSUER_NAME, &root.context()->pCertInfo->Subject, nullptr);
    EXPECT_EQ(found != nullptr, c.ours) << c.o;
    P::CertFreeCertificateContext(found);
  }

  // Two intermediates of one name and key that differ in subjectKeyIdentifier (a re-issued CA):
  // the TSA's authorityKeyIdentifier picks its own, whatever order the token carries them in.
  std::vector<TestCert> cas;
  for (const char* keyId : {"01:02", "0A:0B"}) {
    CertSpec spec{"Names CA", 3, rootSpec.notBefore, rootSpec.notAfter, CaExtensions()};
    spec.extensions.back().value = keyId;
    cas.emplace_back(spec, rootKey.get(), &root, rootKey.get());
  }
  for (std::size_t own : {0u, 1u}) {
    CertSpec spec{"Names TSA", 4, rootSpec.notBefore, rootSpec.notAfter, TsaExtensions()};
    spec.extensions.push_back(
        {"2.5.29.35", std::string("DER:30:04:80:02:") + (own == 0 ? "01:02" : "0A:0B")});
    const TestCert tsa(spec, NewKey().get(), &cas[own], rootKey.get());
    EXPECT_EQ(TrustedChain(tsa, {&cas[0], &cas[1]}).at(1), cas[own].der()) << own;
    EXPECT_EQ(TrustedChain(tsa, {&cas[1], &cas[0]}).at(1), cas[own].der()) << own;
  }
}

}  // namespace
