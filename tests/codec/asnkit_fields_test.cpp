// Algorithm identifiers, extensions and accuracy: OpenSSL-made values read and written back,
// the BER forms tolerated, and the refusals.
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "codec/asnkit/accuracy.h"
#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/extensions.h"
#include "tests/codec/asnkit_test_util.h"

using namespace asnkit_test;
using namespace Velmora::ASN1;

namespace {

const P::HRESULT kInvalidState = P::MakeHResult(0x8007139F);

// The identifier of `md` as OpenSSL writes it; with `null`, with NULL parameters.
V AlgorithmDer(const EVP_MD* md, bool null = false) {
  X509_ALGOR* alg = X509_ALGOR_new();
  if (null) {
    X509_ALGOR_set0(alg, OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr);
  } else {
    X509_ALGOR_set_md(alg, md);
  }
  const V der = ToDer(alg, i2d_X509_ALGOR);
  X509_ALGOR_free(alg);
  return der;
}

}  // namespace

TEST(AsnkitAlgorithmIdentifier, ParametersKeptAsReceivedAndNullEqualsAbsent) {
  CAlgorithmIdentifier sha1;
  sha1.decode(B(AlgorithmDer(EVP_sha1(), true)));
  EXPECT_STREQ(sha1.get_algorithm(), "1.3.14.3.2.26");
  EXPECT_EQ(sha1.get_parameters(), B({0x05, 0x00}));
  EXPECT_EQ(sha1.encode(), B(AlgorithmDer(EVP_sha1(), true)));
  CAlgorithmIdentifier sha256;
  sha256.decode(B(AlgorithmDer(EVP_sha256())));
  EXPECT_TRUE(sha256.get_parameters().empty());
  EXPECT_EQ(sha256.encode(), B(AlgorithmDer(EVP_sha256())));
  EXPECT_EQ(CAlgorithmIdentifier("2.16.840.1.101.3.4.2.1").encode(), B(AlgorithmDer(EVP_sha256())));

  EXPECT_TRUE(sha1 == CAlgorithmIdentifier("1.3.14.3.2.26"));
  EXPECT_FALSE(sha1 == sha256);
  CAlgorithmIdentifier other("1.3.14.3.2.26");
  other.put_parameters(B({0x04, 0x00}));
  EXPECT_FALSE(sha1 == other);

  // Structured parameters (RSASSA-PSS) are kept byte for byte.
  const V pss{0x30, 0x12, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
              0x01, 0x01, 0x0A, 0x30, 0x05, 0xA2, 0x03, 0x02, 0x01, 0x20};
  CAlgorithmIdentifier rsaPss;
  rsaPss.decode(B(pss));
  EXPECT_EQ(rsaPss.get_parameters(), B({0x30, 0x05, 0xA2, 0x03, 0x02, 0x01, 0x20}));
  EXPECT_EQ(rsaPss.encode(), B(pss));

  swap(sha1, rsaPss);
  EXPECT_STREQ(sha1.get_algorithm(), "1.2.840.113549.1.1.10");
  EXPECT_EQ(rsaPss.get_parameters(), B({0x05, 0x00}));
}

TEST(AsnkitAlgorithmIdentifier, BadInputIsRefusedAndLeavesTheValue) {
  CAlgorithmIdentifier id("1.2.3");
  const std::vector<std::pair<V, P::HRESULT>> bad = {
      {{0x30, 0x00}, P::CRYPT_E_ASN1_EOD},
      {{0x30, 0x03, 0x05, 0x01, 0x00}, P::CRYPT_E_ASN1_BADTAG},
      {{0x30, 0x07, 0x06, 0x01, 0x2A, 0x05, 0x00, 0x05, 0x00}, P::CRYPT_E_ASN1_ERROR},
      {{0x31, 0x03, 0x06, 0x01, 0x2A}, P::CRYPT_E_ASN1_BADTAG},
      {{0x30, 0x03, 0x06, 0x01, 0x2A, 0x00}, P::CRYPT_E_ASN1_ERROR},
  };
  for (const auto& [der, code] : bad) {
    EXPECT_EQ(CodeOf([&, &der = der] { id.decode(B(der)); }), code) << Hex(B(der));
  }
  EXPECT_STREQ(id.get_algorithm(), "1.2.3");
  EXPECT_EQ(CodeOf([&] { id.put_algorithm("1.2.x"); }), P::CRYPT_E_OID_FORMAT);
  EXPECT_EQ(CodeOf([&] { id.put_algorithm("7.1"); }), P::CRYPT_E_OID_FORMAT);
  EXPECT_EQ(CodeOf([&] { id.put_algorithm(nullptr); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { CAlgorithmIdentifier{"sha256"}; }), P::CRYPT_E_OID_FORMAT);
  EXPECT_EQ(CodeOf([&] { id.put_parameters(B({0x05, 0x00, 0x05, 0x00})); }), P::CRYPT_E_ASN1_ERROR);
  EXPECT_STREQ(id.get_algorithm(), "1.2.3");
  EXPECT_EQ(CodeOf([] { CAlgorithmIdentifier().encode(); }), kInvalidState);
}

TEST(AsnkitAlgorithmIdentifier, ExtendedFormDropsItsAlgIdWhenTheOidChanges) {
  CAlgorithmIdentifierEx id("1.3.14.3.2.26");
  id.put_algId(0x8004);
  CAlgorithmIdentifierEx copy(id);
  copy.decode(B(AlgorithmDer(EVP_sha1())));
  EXPECT_EQ(copy.get_algId(), 0u);
  id.put_algorithm("2.16.840.1.101.3.4.2.1");
  EXPECT_EQ(id.get_algId(), 0u);
}

namespace {

X509_EXTENSION* Extension(const char* oid, int critical, const V& value) {
  ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(octets, value.data(), static_cast<int>(value.size()));
  ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
  X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, critical, octets);
  ASN1_OBJECT_free(obj);
  ASN1_OCTET_STRING_free(octets);
  return ext;
}

V ExtensionsDer(const std::vector<X509_EXTENSION*>& list) {
  STACK_OF(X509_EXTENSION)* stack = sk_X509_EXTENSION_new_null();
  for (X509_EXTENSION* ext : list) {
    sk_X509_EXTENSION_push(stack, ext);
  }
  const V der = ToDer(stack, i2d_X509_EXTENSIONS);
  sk_X509_EXTENSION_pop_free(stack, X509_EXTENSION_free);
  return der;
}

}  // namespace

TEST(AsnkitExtensions, OpenSslMadeListReadsAndWritesBack) {
  const V der =
      ExtensionsDer({Extension("1.3.6.1.5.5.7.1.3", 0, {0x30, 0x00}),
                     Extension("1.2.3.4", 1, {0x05, 0x00}), Extension("2.5.29.37", 1, {})});
  CExtensions list;
  list.decode(B(der));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_STREQ(list.front().get_extnID(), "1.3.6.1.5.5.7.1.3");
  EXPECT_FALSE(list.front().get_critical());
  EXPECT_EQ(list.front().get_extnValue(), B({0x30, 0x00}));
  ASSERT_NE(list.find("1.2.3.4"), nullptr);
  EXPECT_TRUE(list.find("1.2.3.4")->get_critical());
  EXPECT_EQ(list.find("1.2.3.4.5"), nullptr);
  EXPECT_EQ(list.encode(), B(der));
  for (const V& variant : TrailingDataVariants(der)) {
    EXPECT_NE(CodeOf([&] { CExtensions().decode(B(variant)); }), P::S_OK) << Hex(B(variant));
  }
}

TEST(AsnkitExtensions, DuplicatesEmptyListsAndBerForms) {
  // The same extension twice, in a decoded list and through insert().
  const V twice = ExtensionsDer({Extension("1.2.3.4", 0, {0x01}), Extension("1.2.3.4", 1, {0x02})});
  CExtensions list;
  EXPECT_EQ(CodeOf([&] { list.decode(B(twice)); }), P::CRYPT_E_ASN1_ERROR);
  list.insert(CExtension("1.2.3.4", true, B({0x01})));
  EXPECT_EQ(CodeOf([&] { list.insert(CExtension("1.2.3.4", false, CBlob())); }), P::CRYPT_E_EXISTS);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(CodeOf([&] { list.decode(B({0x30, 0x00})); }), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(CodeOf([] { CExtensions().encode(); }), kInvalidState);

  // critical written out as FALSE, and a constructed extnValue: read, written back as DER.
  const V ber{0x30, 0x0F, 0x06, 0x03, 0x2A, 0x03, 0x04, 0x01, 0x01,
              0x00, 0x24, 0x05, 0x04, 0x03, 0x05, 0x00, 0x07};
  CExtension extension;
  extension.decode(B(ber));
  EXPECT_FALSE(extension.get_critical());
  EXPECT_EQ(extension.get_extnValue(), B({0x05, 0x00, 0x07}));
  EXPECT_EQ(extension.encode(),
            B({0x30, 0x0A, 0x06, 0x03, 0x2A, 0x03, 0x04, 0x04, 0x03, 0x05, 0x00, 0x07}));
  // Missing extnValue; a BOOLEAN of two octets.
  EXPECT_EQ(CodeOf([&] {
              extension.decode(B({0x30, 0x05, 0x06, 0x03, 0x2A, 0x03, 0x04}));
            }),
            P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(CodeOf([&] {
              extension.decode(B(
                  {0x30, 0x0B, 0x06, 0x03, 0x2A, 0x03, 0x04, 0x01, 0x02, 0xFF, 0xFF, 0x04, 0x00}));
            }),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(extension.get_extnValue(), B({0x05, 0x00, 0x07}));
}

namespace {

V OpenSslAccuracy(int seconds, int millis, int micros) {
  TS_ACCURACY* accuracy = TS_ACCURACY_new();
  ASN1_INTEGER* value = ASN1_INTEGER_new();
  if (seconds >= 0) {
    ASN1_INTEGER_set(value, seconds);
    TS_ACCURACY_set_seconds(accuracy, value);
  }
  if (millis >= 0) {
    ASN1_INTEGER_set(value, millis);
    TS_ACCURACY_set_millis(accuracy, value);
  }
  if (micros >= 0) {
    ASN1_INTEGER_set(value, micros);
    TS_ACCURACY_set_micros(accuracy, value);
  }
  ASN1_INTEGER_free(value);
  const V der = ToDer(accuracy, i2d_TS_ACCURACY);
  TS_ACCURACY_free(accuracy);
  return der;
}

}  // namespace

TEST(AsnkitAccuracy, OpenSslMadeValuesReadAndWriteBack) {
  struct Case {
    int seconds, millis, micros;
  } cases[] = {{1, 500, 100}, {-1, 500, -1}, {60, -1, -1},
               {0, 100, -1},  {-1, -1, -1},  {-1, 999, 1}};
  for (const Case& c : cases) {
    const V der = OpenSslAccuracy(c.seconds, c.millis, c.micros);
    CAccuracy accuracy;
    accuracy.decode(B(der));
    EXPECT_EQ(accuracy.get_seconds(), static_cast<unsigned long>(c.seconds < 0 ? 0 : c.seconds));
    EXPECT_EQ(accuracy.get_millis(), static_cast<unsigned long>(c.millis < 0 ? 0 : c.millis));
    EXPECT_EQ(accuracy.get_micros(), static_cast<unsigned long>(c.micros < 0 ? 0 : c.micros));
    EXPECT_EQ(accuracy.has_seconds(), c.seconds >= 0);
    EXPECT_EQ(accuracy.encode(), B(der));  // an explicit "seconds 0" stays
  }
  EXPECT_EQ(CAccuracy(1, 500, 100).encode(), B(OpenSslAccuracy(1, 500, 100)));
  EXPECT_EQ(CAccuracy(0, 20, 0).encode(), B(OpenSslAccuracy(-1, 20, -1)));
}

TEST(AsnkitAccuracy, ValuesOutsideTheirRangesAreRefused) {
  CAccuracy accuracy(5, 0, 0);
  const std::vector<std::pair<V, P::HRESULT>> bad = {
      {{0x30, 0x03, 0x80, 0x01, 0x00}, P::CRYPT_E_ASN1_ERROR},        // millis 0
      {{0x30, 0x04, 0x80, 0x02, 0x03, 0xE8}, P::CRYPT_E_ASN1_ERROR},  // millis 1000
      {{0x30, 0x04, 0x81, 0x02, 0x03, 0xE8}, P::CRYPT_E_ASN1_ERROR},  // micros 1000
      {{0x30, 0x03, 0x81, 0x01, 0xFF}, P::CRYPT_E_ASN1_ERROR},        // micros -1
      {{0x30, 0x0B, 0x80, 0x09, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, P::CRYPT_E_ASN1_ERROR},
      {{0x30, 0x03, 0x02, 0x01, 0xFF}, P::CRYPT_E_ASN1_ERROR},  // seconds -1
      {{0x30, 0x07, 0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, P::CRYPT_E_ASN1_LARGE},
      {{0x30, 0x06, 0x81, 0x01, 0x01, 0x80, 0x01, 0x01}, P::CRYPT_E_ASN1_ERROR},  // order
      {{0x30, 0x04, 0xA0, 0x02, 0x02, 0x00}, P::CRYPT_E_ASN1_ERROR},              // constructed [0]
      {{0x30, 0x03, 0x80, 0x02, 0x05}, P::CRYPT_E_ASN1_EOD},                      // cut short
  };
  for (const auto& [der, code] : bad) {
    EXPECT_EQ(CodeOf([&, &der = der] { accuracy.decode(B(der)); }), code) << Hex(B(der));
  }
  EXPECT_EQ(accuracy.get_seconds(), 5u);
  accuracy.decode(B({0x30, 0x07, 0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(accuracy.get_seconds(), 0xFFFFFFFFul);
  EXPECT_EQ(CodeOf([&] { accuracy.put_millis(1000); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { accuracy.put_seconds(0x100000000ul); }), P::E_INVALIDARG);
}
