// Names in chains: issuer names matched as path validation does, the authorityKeyIdentifier
// choosing between two issuers of one name and key, and issuers' name constraints on the names
// below them; each next to `openssl verify` on the same certificates.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tests/common/chain_check.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

using Attributes = std::vector<std::pair<const char*, const char*>>;

// A name of the attributes given, with values of the string type given, as DER.
std::vector<unsigned char> NameDer(const Attributes& attributes, int type = MBSTRING_UTF8) {
  std::unique_ptr<X509_NAME, P::FreeWith<X509_NAME_free>> name(X509_NAME_new());
  for (auto [field, text] : attributes) {
    X509_NAME_add_entry_by_txt(name.get(), field, type,
                               reinterpret_cast<const unsigned char*>(text), -1, -1, 0);
  }
  unsigned char* out = nullptr;
  const int length = i2d_X509_NAME(name.get(), &out);
  std::vector<unsigned char> der(out, out + length);
  OPENSSL_free(out);
  return der;
}

TEST(ChainNames, IssuerNamesMatchAsDirectoryStringsAndTheKeyIdentifierChooses) {
  CertSpec rootSpec{"Names Root", 1, std::time(nullptr) - 3600, std::time(nullptr) + 3600,
                    CaExtensions()};
  rootSpec.subjectName =
      NameDer({{"O", "Velmora Test"}, {"CN", "Names Root"}}, V_ASN1_PRINTABLESTRING);
  const CaKeyPtr rootKey = NewKey();
  const TestCert root(rootSpec, rootKey.get(), nullptr, rootKey.get());
  const InstalledRoot installed(root);

  struct Case {
    int type;
    const char *o, *cn;
    bool ours, openssl;  // OpenSSL folds IA5String values too; we compare them byte for byte
  } const cases[] = {{V_ASN1_UTF8STRING, "  VELMORA   test ", "names\troot", true, true},
                     {V_ASN1_PRINTABLESTRING, "Velmora Tost", "Names Root", false, false},
                     {V_ASN1_IA5STRING, "Velmora Test", "Names Root", false, true}};
  for (const Case& c : cases) {
    CertSpec spec{"Names TSA", 2, rootSpec.notBefore, rootSpec.notAfter, TsaExtensions()};
    spec.issuerName = NameDer({{"O", c.o}, {"CN", c.cn}}, c.type);
    const TestCert leaf(spec, NewKey().get(), &root, rootKey.get());
    EXPECT_EQ(installed.judge(leaf, {}).error == 0, c.ours) << c.o;
    EXPECT_EQ(installed.opensslAccepts(leaf, {}), c.openssl) << c.o;
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
    EXPECT_EQ(installed.judge(tsa, {&cas[0], &cas[1]}).elements.at(1), cas[own].der()) << own;
    EXPECT_EQ(installed.judge(tsa, {&cas[1], &cas[0]}).elements.at(1), cas[own].der()) << own;
  }
}

TEST(ChainNames, AnIssuersNameConstraintsBindEveryNameBelowIt) {
  const Authority root = MakeRoot("Constraints Root");
  const InstalledRoot installed(root.cert);
  constexpr P::DWORD kNotPermitted = P::CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT;
  constexpr P::DWORD kExcluded = P::CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;
  constexpr P::DWORD kInvalid = P::CERT_TRUST_INVALID_NAME_CONSTRAINTS;
  struct Case {
    const char* constraints;      // the intermediate's nameConstraints
    const char* altName;          // the TSA's subjectAltName, if any
    Attributes subject;           // the TSA's subject (empty: CN=Constraints TSA)
    P::DWORD bit;                 // expected on the TSA (on the intermediate for kInvalid)
    bool opensslDiffers = false;  // OpenSSL refuses every name of a form it does not support
    int element = 0;              // the element that carries the bit: 0 the TSA, 1 the CA
    int subjectType = MBSTRING_UTF8;
  } const cases[] = {
      {"critical,permitted;DNS:tsa.example", "DNS:ts.tsa.example", {}, 0},
      {"critical,permitted;DNS:tsa.example", "DNS:xtsa.example", {}, kNotPermitted},
      {"critical,excluded;DNS:.bad.example", "DNS:bad.example", {}, 0},
      {"critical,excluded;DNS:.bad.example", "DNS:TS.Bad.Example", {}, kExcluded},
      {"critical,permitted;email:example.org",
       nullptr,
       {{"CN", "Mail TSA"}, {"emailAddress", "tsa@EXAMPLE.org"}},
       0},
      {"critical,permitted;email:example.org", "email:tsa@mail.example.org", {}, kNotPermitted},
      {"critical,excluded;email:.example.org",
       nullptr,
       {{"CN", "Mail TSA"}, {"emailAddress", "tsa@mail.example.org"}},
       kExcluded},
      {"critical,permitted;dirName:velmora", nullptr, {{"O", "VELMORA  test"}, {"CN", "TSA"}}, 0},
      {"critical,permitted;dirName:velmora", nullptr, {}, kNotPermitted},
      {"critical,excluded;dirName:bad",
       nullptr,
       {{"O", "Velmora Test"}, {"OU", "Bad"}, {"CN", "TSA"}},
       kExcluded},
      {"critical,permitted;URI:.example.com", "URI:http://tsa.example.com/ts", {}, 0},
      {"critical,permitted;URI:.example.com", "URI:http://example.com/ts", {}, kNotPermitted},
      {"critical,excluded;URI:host.example", "URI:https://HOST.example:8443/x", {}, kExcluded},
      {"critical,permitted;IP:192.0.2.0/255.255.255.0", "IP:192.0.2.7", {}, 0},
      {"critical,permitted;IP:192.0.2.0/255.255.255.0", "IP:198.51.100.1", {}, kNotPermitted},
      {"critical,permitted;IP:2001:db8::/ffff:ffff::", "IP:192.0.2.7", {}, kNotPermitted},
      {"critical,excluded;IP:2001:db8::/ffff:ffff::", "IP:2001:db8::1", {}, kExcluded},
      // A form we do not support fails closed when critical, and only where a name of it is met.
      {"critical,permitted;otherName:1.2.3.4;UTF8:x",
       "otherName:1.2.3.4;UTF8:x",
       {},
       P::CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT},
      {"critical,permitted;otherName:1.2.3.4;UTF8:x", "DNS:any.example", {}, 0},
      {"permitted;otherName:1.2.3.4;UTF8:x", "otherName:1.2.3.4;UTF8:x", {}, 0, true},
      {"critical,DER:A0:00", "DNS:any.example", {}, kInvalid, false, 1},
      // A name that cannot be read ("#" in a PrintableString) is not taken for one outside the
      // excluded subtree; OpenSSL reads the string and finds it outside.
      {"critical,excluded;dirName:bad",
       nullptr,
       {{"O", "Velmora Test"}, {"OU", "Bad#"}, {"CN", "TSA"}},
       kInvalid,
       true,
       0,
       V_ASN1_PRINTABLESTRING},
  };
  const std::string sections = "[velmora]\nO=Velmora Test\n[bad]\nO=Velmora Test\nOU=Bad\n";
  long serial = 10;
  for (const Case& c : cases) {
    CertSpec caSpec{"Constraints CA", ++serial};
    caSpec.extensions = CaExtensions();
    caSpec.extensions.push_back({"nameConstraints", c.constraints});
    caSpec.config = sections;
    const Authority ca = MakeIssued(caSpec, root);
    CertSpec spec{"Constraints TSA", ++serial};
    spec.extensions = TsaExtensions();
    if (c.altName != nullptr) {
      spec.extensions.push_back({"subjectAltName", c.altName});
    }
    if (!c.subject.empty()) {
      spec.subjectName = NameDer(c.subject, c.subjectType);
    }
    const TestCert tsa(spec, NewKey().get(), &ca.cert, ca.key.get());
    const ChainVerdict verdict = installed.judge(tsa, {&ca.cert});
    const std::string row = std::string(c.constraints) + " / " + (c.altName ? c.altName : "");
    EXPECT_EQ(verdict.error, c.bit == 0 ? 0u : static_cast<P::DWORD>(P::CERT_E_INVALID_NAME))
        << row;
    EXPECT_EQ(verdict.chainErrors & 0xF800u, c.bit) << row;
    EXPECT_EQ(verdict.element, c.bit == 0 ? -1 : c.element) << row;
    EXPECT_EQ(installed.opensslAccepts(tsa, {&ca.cert}), (c.bit == 0) != c.opensslDiffers) << row;
  }
}

}  // namespace
