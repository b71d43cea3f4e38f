// PKIStatusInfo: the failInfo bit mapping (against OpenSSL's BIT STRING code), the tolerated
// non-DER bit strings, status values beyond the defined ones, and the free texts.
#include <openssl/asn1.h>
#include <openssl/rand.h>
#include <openssl/ts.h>

#include "codec/asnkit/pki_status.h"
#include "tests/codec/asnkit_test_util.h"

using namespace asnkit_test;
using namespace Velmora::ASN1;

namespace {

CPKIFailureInfo FailInfo(const V& der) {
  CPKIFailureInfo info;
  info.decode(B(der));
  return info;
}

V OpenSslBits(unsigned int value) {
  ASN1_BIT_STRING* bits = ASN1_BIT_STRING_new();
  for (int n = 0; n < 32; ++n) {
    if ((value >> n & 1u) != 0) {
      ASN1_BIT_STRING_set_bit(bits, n, 1);
    }
  }
  const V der = ToDer(bits, i2d_ASN1_BIT_STRING);
  ASN1_BIT_STRING_free(bits);
  return der;
}

}  // namespace

TEST(AsnkitStatus, FailureBitsMapAsOpenSslNumbersThem) {
  for (const unsigned n :
       {CPKIFailureInfo::kBadAlg, CPKIFailureInfo::kBadRequest, CPKIFailureInfo::kBadDataFormat,
        CPKIFailureInfo::kTimeNotAvailable, CPKIFailureInfo::kUnacceptedPolicy,
        CPKIFailureInfo::kUnacceptedExtension, CPKIFailureInfo::kAddInfoNotAvailable,
        CPKIFailureInfo::kSystemFailure}) {
    const V der = OpenSslBits(1u << n);
    const CPKIFailureInfo info = FailInfo(der);
    EXPECT_EQ(info.get_value(), 1u << n);
    EXPECT_TRUE(info.get_bit(n));
    EXPECT_EQ(CPKIFailureInfo(1u << n).encode(), B(der)) << n;
  }
  // Any combination, both ways.
  for (int round = 0; round < 300; ++round) {
    unsigned int value = 0;
    RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value);
    value >>= round % 32;
    const V der = OpenSslBits(value);
    EXPECT_EQ(FailInfo(der).get_value(), value);
    EXPECT_EQ(CPKIFailureInfo(value).encode(), B(der)) << value;
  }
  EXPECT_EQ(CPKIFailureInfo().encode(), B({0x03, 0x01, 0x00}));
  EXPECT_FALSE(CPKIFailureInfo(0xFFFFFFFF).get_bit(32));
}

TEST(AsnkitStatus, NonDerFailInfoFormsTsasSendAreRead) {
  // badRequest with a trailing zero octet and no unused bits counted.
  EXPECT_EQ(FailInfo({0x03, 0x03, 0x00, 0x20, 0x00}).get_value(), 1u << 2);
  // Set bits in the unused part of the last octet are not bits of the string.
  EXPECT_EQ(FailInfo({0x03, 0x02, 0x05, 0x27}).get_value(), 1u << 2);
  EXPECT_EQ(FailInfo({0x03, 0x02, 0x07, 0xFF}).get_value(), 1u << 0);
  // Clear bits beyond 31 are accepted; a set one cannot be held.
  EXPECT_EQ(FailInfo({0x03, 0x06, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}).get_value(), 1u);
  EXPECT_EQ(FailInfo({0x03, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01}).get_value(), 1u << 31);
  EXPECT_EQ(CodeOf([] {
              FailInfo({0x03, 0x06, 0x07, 0x00, 0x00, 0x00, 0x00, 0x80});
            }),
            P::CRYPT_E_ASN1_LARGE);
  EXPECT_EQ(CodeOf([] { FailInfo({0x03, 0x02, 0x08, 0x80}); }), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([] { FailInfo({0x23, 0x03, 0x03, 0x01, 0x00}); }), P::CRYPT_E_ASN1_BADTAG);
  // Written back in the DER form.
  EXPECT_EQ(FailInfo({0x03, 0x03, 0x00, 0x20, 0x00}).encode(), B({0x03, 0x02, 0x05, 0x20}));
}

namespace {

V StatusInfoDer(const V& status, const std::vector<std::string>& texts, const V& failInfo) {
  Der::Writer w;
  w.sequence([&](Der::Writer& seq) {
    seq.raw(status);
    if (!texts.empty()) {
      seq.sequence([&](Der::Writer& list) {
        for (const std::string& text : texts) {
          list.tlv(Der::Tags::Utf8String,
                   Der::Bytes(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
        }
      });
    }
    seq.raw(failInfo);
  });
  return w.take();
}

}  // namespace

TEST(AsnkitStatus, StatusValuesBeyondTheDefinedOnesAreLeftToTheCaller) {
  const std::vector<std::pair<V, unsigned long>> accepted = {
      {{0x02, 0x01, 0x06}, 6},
      {{0x02, 0x01, 0x07}, 7},
      {{0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFul},
      {{0x02, 0x02, 0x00, 0x05}, 5},  // padded
  };
  for (const auto& [status, value] : accepted) {
    CPKIStatusInfo info;
    info.decode(B(StatusInfoDer(status, {}, {})));
    EXPECT_EQ(info.get_pkiStatus(), value);
  }
  CPKIStatusInfo info(3);
  EXPECT_EQ(CodeOf([&] {
              info.decode(B(StatusInfoDer({0x02, 0x01, 0xFF}, {}, {})));
            }),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([&] {
              info.decode(B(StatusInfoDer({0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, {}, {})));
            }),
            P::CRYPT_E_ASN1_LARGE);
  EXPECT_EQ(info.get_pkiStatus(), 3u);
  EXPECT_EQ(CodeOf([&] { info.put_pkiStatus(0x100000000ul); }), P::E_INVALIDARG);
}

TEST(AsnkitStatus, FreeTextIsUtf8Only) {
  CPKIStatusInfo info;
  info.decode(B(StatusInfoDer({0x02, 0x01, 0x02}, {"Zo\xC3\xAB \xF0\x9F\x98\x80"}, {})));
  EXPECT_EQ(info.get_statusString()->front().str(), L"Zo\u00EB \U0001F600");

  const std::vector<std::pair<V, P::HRESULT>> bad = {
      // IA5String text
      {{0x30, 0x07, 0x02, 0x01, 0x02, 0x30, 0x02, 0x16, 0x00}, P::CRYPT_E_ASN1_BADTAG},
      // an empty list
      {{0x30, 0x05, 0x02, 0x01, 0x02, 0x30, 0x00}, P::CRYPT_E_ASN1_ERROR},
      // broken UTF-8
      {{0x30, 0x08, 0x02, 0x01, 0x02, 0x30, 0x03, 0x0C, 0x01, 0xC3}, P::CRYPT_E_ASN1_ERROR},
      // failInfo before statusString
      {{0x30, 0x0B, 0x02, 0x01, 0x02, 0x03, 0x01, 0x00, 0x30, 0x03, 0x0C, 0x01, 'a'},
       P::CRYPT_E_ASN1_ERROR},
  };
  for (const auto& [der, code] : bad) {
    EXPECT_EQ(CodeOf([&, &der = der] { info.decode(B(der)); }), code) << Hex(B(der));
  }
  EXPECT_EQ(info.get_statusString()->size(), 1u);  // unchanged by the failures

  // A text written by us reads back the same, and the encoding refuses no code point but
  // those that are not characters.
  CPKIFreeText text;
  text.push_back(CPKIFreeTextString(L"\u00E9t\u00E9 \U0001F600"));
  CPKIFreeText back;
  back.decode(text.encode());
  EXPECT_EQ(back, text);
  text.push_back(CPKIFreeTextString(std::wstring(1, static_cast<wchar_t>(0xD800))));
  EXPECT_EQ(CodeOf([&] { text.encode(); }), P::CRYPT_E_ASN1_ERROR);

  const V full = StatusInfoDer({0x02, 0x01, 0x02}, {"a", "b"}, {0x03, 0x02, 0x07, 0x80});
  for (const V& variant : TrailingDataVariants(full)) {
    EXPECT_NE(CodeOf([&] { CPKIStatusInfo().decode(B(variant)); }), P::S_OK) << Hex(B(variant));
  }
}
