// Distinguished names and general names: structure, strings, display text (against OpenSSL's
// RFC 2253-style printer), and every GeneralName choice.
#include <arpa/inet.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

#include "codec/asnkit/general_name.h"
#include "codec/asnkit/x500_name.h"
#include "tests/codec/asnkit_test_util.h"

using namespace asnkit_test;
using Velmora::ASN1::CGeneralName;
using Velmora::ASN1::CGeneralNames;
using Velmora::ASN1::CX500Name;

namespace {

// One attribute of a hand-built name: type OID, value tag byte, value bytes.
struct Atv {
  std::string oid;
  unsigned char tag;
  std::string bytes;
};
using Rdn = std::vector<Atv>;

V BuildName(const std::vector<Rdn>& rdns) {
  Der::Writer w;
  w.sequence([&](Der::Writer& seq) {
    for (const Rdn& rdn : rdns) {
      seq.constructed(Der::Tags::Set, [&](Der::Writer& set) {
        for (const Atv& atv : rdn) {
          set.sequence([&](Der::Writer& pair) {
            pair.oid(atv.oid);
            V value{atv.tag, static_cast<unsigned char>(atv.bytes.size())};
            value.insert(value.end(), atv.bytes.begin(), atv.bytes.end());
            pair.raw(value);
          });
        }
      });
    }
  });
  return w.take();
}

std::string NameText(const V& der) {
  return Narrow(CX500Name(B(der)).toString().str());
}

std::string OpenSslText(const V& der) {
  const unsigned char* p = der.data();
  X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
  EXPECT_NE(name, nullptr);
  return name ? OpenSslNameText(name.get()) : std::string();
}

constexpr unsigned char kUtf8 = 0x0C, kPrintable = 0x13, kTeletex = 0x14, kIa5 = 0x16, kBmp = 0x1E,
                        kUniversal = 0x1C, kNumeric = 0x12, kVisible = 0x1A;
const char* const kCN = "2.5.4.3";

}  // namespace

TEST(AsnkitName, TextMatchesOpenSslForOrderEscapesAndStringTypes) {
  const std::vector<std::vector<Rdn>> names = {
      {{{"2.5.4.6", kPrintable, "BE"}},
       {{"2.5.4.10", kUtf8, "Belgium Federal Government"}},
       {{kCN, kUtf8, "Time Stamping Authority"}}},
      // RFC 4514 specials anywhere, '#' and space at the start, space at the end.
      {{{kCN, kUtf8, "Smith, John + \"Jr\" <x>; back\\slash"}},
       {{"2.5.4.11", kUtf8, "#hash"}},
       {{"2.5.4.11", kUtf8, " both ends "}},
       {{"2.5.4.11", kUtf8, "in#side = ok"}}},
      // Non-ASCII text in every wide form, Latin-1 Teletex, control characters.
      {{{kCN, kUtf8, "Zo\xC3\xAB \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80"}},
       {{"2.5.4.10", kBmp, std::string("\x03\xA9\x00 ", 4)}},
       {{"2.5.4.11", kUniversal, std::string("\x00\x01\xF6\x00\x00\x00\x00\x41", 8)}},
       {{"2.5.4.11", kTeletex, "caf\xE9"}},
       {{"2.5.4.11", kUtf8, "line\nbreak\x01"}}},
      // The other usual types, with their short names.
      {{{"2.5.4.8", kUtf8, "Bayern"}},
       {{"2.5.4.7", kUtf8, "Munich"}},
       {{"2.5.4.9", kUtf8, "Main St 1"}},
       {{"2.5.4.5", kPrintable, "2017"}},
       {{"2.5.4.42", kUtf8, "Eve"}},
       {{"2.5.4.4", kUtf8, "Doe"}},
       {{"2.5.4.12", kUtf8, "Clerk"}}},
      // An unknown type, e-mail with '@' in an IA5String, domain components.
      {{{"0.9.2342.19200300.100.1.25", kIa5, "org"}},
       {{"0.9.2342.19200300.100.1.1", kUtf8, "alice01"}},
       {{"1.2.3.4.5", kUtf8, "opaque"}},
       {{"1.2.840.113549.1.9.1", kIa5, "tsa@example.org"}}},
      {},
  };
  for (const auto& rdns : names) {
    const V der = BuildName(rdns);
    EXPECT_EQ(NameText(der), OpenSslText(der));
  }
  EXPECT_EQ(NameText(BuildName(names[0])),
            "CN=Time Stamping Authority, O=Belgium Federal Government, C=BE");
}

TEST(AsnkitName, FormsOpenSslDoesNotPrintTheSameWay) {
  // A multi-valued RDN keeps its values in the order received (OpenSSL reverses them too).
  EXPECT_EQ(
      NameText(BuildName({{{"0.9.2342.19200300.100.1.25", kIa5, "org"}},
                          {{kCN, kUtf8, "Alice"}, {"0.9.2342.19200300.100.1.1", kUtf8, "a1"}}})),
      "CN=Alice + UID=a1, DC=org");
  // A BMPString holding a UTF-16 surrogate pair, as Windows writes one (OpenSSL refuses it).
  EXPECT_EQ(NameText(BuildName({{{kCN, kBmp, std::string("\xD8\x3D\xDE\x00", 4)}}})),
            "CN=\xF0\x9F\x98\x80");
  // A value that is not a string is written as '#' and its DER (RFC 4514, 2.4).
  EXPECT_EQ(NameText(BuildName({{{"1.2.3.4.6", 0x02, std::string("\x01\x00", 2)}}})),
            "1.2.3.4.6=#02020100");
}

TEST(AsnkitName, StringBytesOutsideTheirTypeAreRefused) {
  const std::vector<std::pair<unsigned char, std::string>> bad = {
      {kUtf8, "\xC3\x28"},          // broken sequence
      {kUtf8, "\xC0\xAF"},          // overlong '/'
      {kUtf8, "\xED\xA0\x80"},      // a surrogate
      {kUtf8, "\xF4\x90\x80\x80"},  // beyond U+10FFFF
      {kPrintable, "bang!"},        // '!' is no PrintableString character
      {kPrintable, "caf\xE9"},
      {kIa5, "\x80"},
      {kVisible, "tab\t"},
      {kNumeric, "12a"},
      {kBmp, std::string("\x00\x41\x00", 3)},      // odd length
      {kBmp, std::string("\xDC\x00\x00\x41", 4)},  // lone low surrogate
      {kBmp, std::string("\xD8\x3D", 2)},          // high surrogate at the end
      {kUniversal, std::string("\x00\x00\x41", 3)},
      {kUniversal, std::string("\x00\x11\x00\x00", 4)},
  };
  for (const auto& [tag, bytes] : bad) {
    const V der = BuildName({{{kCN, tag, bytes}}});
    EXPECT_EQ(CodeOf([&] { CX500Name{B(der)}; }), P::CRYPT_E_ASN1_ERROR) << Hex(B(der));
  }
  // The tolerated PrintableString extras, and what each type does allow.
  EXPECT_EQ(NameText(BuildName({{{kCN, kPrintable, "a@b&c*d_e"}}})), "CN=a@b&c*d_e");
  EXPECT_EQ(NameText(BuildName({{{kCN, kNumeric, "0 9"}}})), "CN=0 9");
  EXPECT_EQ(NameText(BuildName({{{kCN, kVisible, "~x~"}}})), "CN=~x~");
  EXPECT_EQ(NameText(BuildName({{{kCN, kIa5, std::string("a\x7F", 2)}}})), "CN=a\\7F");
}

TEST(AsnkitName, StructureIsCheckedAndAFailureLeavesTheName) {
  CX500Name name(B(BuildName({{{kCN, kUtf8, "kept"}}})));
  const CBlob kept = name.encode();
  const std::vector<std::pair<V, P::HRESULT>> bad = {
      {{0x30, 0x02, 0x31, 0x00}, P::CRYPT_E_ASN1_ERROR},   // empty RDN
      {{0x30, 0x02, 0x30, 0x00}, P::CRYPT_E_ASN1_BADTAG},  // RDN not a SET
      {{0x30, 0x07, 0x31, 0x05, 0x30, 0x03, 0x06, 0x01, 0x2A}, P::CRYPT_E_ASN1_EOD},  // no value
      {{0x31, 0x00}, P::CRYPT_E_ASN1_BADTAG},       // not a SEQUENCE
      {{0x30, 0x00, 0x00}, P::CRYPT_E_ASN1_ERROR},  // trailing byte
  };
  for (const auto& [der, code] : bad) {
    EXPECT_EQ(CodeOf([&, &der = der] { name.decode(B(der)); }), code) << Hex(B(der));
  }
  EXPECT_EQ(name.encode(), kept);
  EXPECT_EQ(Narrow(name.toString().str()), "CN=kept");
  // ATV with a member too many.
  const V withExtra = {0x30, 0x0E, 0x31, 0x0C, 0x30, 0x0A, 0x06, 0x03,
                       0x55, 0x04, 0x03, 0x0C, 0x01, 'x',  0x05, 0x00};
  EXPECT_EQ(CodeOf([&] { CX500Name{B(withExtra)}; }), P::CRYPT_E_ASN1_ERROR);
  // A received name is given back byte for byte, unsorted multi-valued RDNs included.
  const V unsorted = BuildName({{{kCN, kUtf8, "b"}, {"2.5.4.10", kUtf8, "a"}}});
  EXPECT_EQ(CX500Name(B(unsorted)).encode(), B(unsorted));
}

namespace {

V GeneralNameDer(GENERAL_NAME* gen) {
  const V der = ToDer(gen, i2d_GENERAL_NAME);
  GENERAL_NAME_free(gen);
  return der;
}

V Ia5Name(int type, const char* text) {
  ASN1_IA5STRING* ia5 = ASN1_IA5STRING_new();
  ASN1_STRING_set(ia5, text, -1);
  GENERAL_NAME* gen = GENERAL_NAME_new();
  GENERAL_NAME_set0_value(gen, type, ia5);
  return GeneralNameDer(gen);
}

V IpName(const char* text) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(text);
  EXPECT_NE(ip, nullptr) << text;
  GENERAL_NAME* gen = GENERAL_NAME_new();
  GENERAL_NAME_set0_value(gen, GEN_IPADD, ip);
  return GeneralNameDer(gen);
}

std::string GeneralNameText(const V& der) {
  CGeneralName name;
  name.decode(B(der));
  EXPECT_EQ(name.encode(), B(der));
  return Narrow(name.toString().str());
}

}  // namespace

TEST(AsnkitGeneralName, EveryChoiceMadeByOpenSslReadsAndShows) {
  EXPECT_EQ(GeneralNameText(Ia5Name(GEN_EMAIL, "tsa@example.org")), "RFC822 Name=tsa@example.org");
  EXPECT_EQ(GeneralNameText(Ia5Name(GEN_DNS, "tsa.example.org")), "DNS Name=tsa.example.org");
  EXPECT_EQ(GeneralNameText(Ia5Name(GEN_URI, "http://tsa.example.org/tsr")),
            "URL=http://tsa.example.org/tsr");
  EXPECT_EQ(GeneralNameText(Ia5Name(GEN_DNS, "a\nb")), "DNS Name=a\\0Ab");
  EXPECT_EQ(GeneralNameText(IpName("192.0.2.7")), "IP Address=192.0.2.7");
  EXPECT_EQ(GeneralNameText(IpName("2001:db8::1")), "IP Address=2001:db8::1");
  EXPECT_EQ(GeneralNameText(IpName("::")), "IP Address=::");

  GENERAL_NAME* rid = GENERAL_NAME_new();
  GENERAL_NAME_set0_value(rid, GEN_RID, OBJ_txt2obj("1.3.6.1.4.1.311.3.3.1", 1));
  EXPECT_EQ(GeneralNameText(GeneralNameDer(rid)), "Registered ID=1.3.6.1.4.1.311.3.3.1");

  // otherName: a string value as text (a UPN), any other value as the hex of its DER.
  GENERAL_NAME* upn = GENERAL_NAME_new();
  ASN1_TYPE* upnValue = ASN1_TYPE_new();
  ASN1_UTF8STRING* text = ASN1_UTF8STRING_new();
  ASN1_STRING_set(text, "user@example.org", -1);
  ASN1_TYPE_set(upnValue, V_ASN1_UTF8STRING, text);
  GENERAL_NAME_set0_othername(upn, OBJ_txt2obj("1.3.6.1.4.1.311.20.2.3", 1), upnValue);
  EXPECT_EQ(GeneralNameText(GeneralNameDer(upn)),
            "Other Name: 1.3.6.1.4.1.311.20.2.3=user@example.org");
  GENERAL_NAME* other = GENERAL_NAME_new();
  ASN1_TYPE* intValue = ASN1_TYPE_new();
  ASN1_INTEGER* seven = ASN1_INTEGER_new();
  ASN1_INTEGER_set(seven, 7);
  ASN1_TYPE_set(intValue, V_ASN1_INTEGER, seven);
  GENERAL_NAME_set0_othername(other, OBJ_txt2obj("1.2.3.4", 1), intValue);
  EXPECT_EQ(GeneralNameText(GeneralNameDer(other)), "Other Name: 1.2.3.4=020107");

  // directoryName: the name's own text; put_directoryName builds what OpenSSL builds.
  const V nameDer = BuildName({{{"2.5.4.6", kPrintable, "BE"}}, {{kCN, kUtf8, "TSA"}}});
  const unsigned char* p = nameDer.data();
  GENERAL_NAME* dirName = GENERAL_NAME_new();
  GENERAL_NAME_set0_value(dirName, GEN_DIRNAME,
                          d2i_X509_NAME(nullptr, &p, static_cast<long>(nameDer.size())));
  const V dirDer = GeneralNameDer(dirName);
  EXPECT_EQ(GeneralNameText(dirDer), "CN=TSA, C=BE");
  CGeneralName built;
  built.put_directoryName(B(nameDer));
  EXPECT_EQ(built.encode(), B(dirDer));
  EXPECT_EQ(built.get_directoryName(), B(nameDer));

  // ediPartyName with and without its name assigner.
  EDIPARTYNAME* edi = EDIPARTYNAME_new();
  ASN1_STRING_free(edi->partyName);  // made by EDIPARTYNAME_new, replaced below
  edi->partyName = ASN1_STRING_type_new(V_ASN1_UTF8STRING);
  ASN1_STRING_set(edi->partyName, "Party", -1);
  edi->nameAssigner = ASN1_STRING_type_new(V_ASN1_PRINTABLESTRING);
  ASN1_STRING_set(edi->nameAssigner, "Registry", -1);
  GENERAL_NAME* ediName = GENERAL_NAME_new();
  GENERAL_NAME_set0_value(ediName, GEN_EDIPARTY, edi);
  EXPECT_EQ(GeneralNameText(GeneralNameDer(ediName)),
            "EDI Party Name=Party (Name Assigner=Registry)");
  EXPECT_EQ(GeneralNameText({0xA5, 0x07, 0xA1, 0x05, 0x0C, 0x03, 'a', ',', 'b'}),
            "EDI Party Name=a\\,b");

  // x400Address is not interpreted: its DER in hex.
  EXPECT_EQ(GeneralNameText({0xA3, 0x04, 0x30, 0x02, 0x05, 0x00}), "X400 Address=A30430020500");
  // Address with mask, as name constraints carry them, and an odd length.
  EXPECT_EQ(GeneralNameText({0x87, 0x08, 10, 0, 0, 0, 255, 0, 0, 0}),
            "IP Address=10.0.0.0/255.0.0.0");
  EXPECT_EQ(GeneralNameText({0x87, 0x03, 1, 2, 3}), "IP Address=010203");
}

TEST(AsnkitGeneralName, Ipv6TextMatchesTheSystemsRfc5952Printer) {
  // Random addresses rich in zero groups; those the system prints with an embedded IPv4 part
  // are left out.
  for (int round = 0; round < 500; ++round) {
    unsigned char address[16];
    unsigned char mask[2];
    RAND_bytes(address, 16);
    RAND_bytes(mask, 2);
    for (int g = 0; g < 8; ++g) {
      if ((mask[g / 4] >> (g % 4 * 2) & 3) != 0) {
        address[2 * g] = address[2 * g + 1] = 0;
      }
    }
    const bool first80Zero =
        std::all_of(address, address + 10, [](unsigned char b) { return b == 0; });
    if (first80Zero) {
      continue;
    }
    char expected[INET6_ADDRSTRLEN];
    ASSERT_NE(inet_ntop(AF_INET6, address, expected, sizeof expected), nullptr);
    CGeneralName name;
    name.put_iPAddress(CBlob(address, 16));
    EXPECT_EQ(Narrow(name.toString().str()), std::string("IP Address=") + expected);
  }
}

TEST(AsnkitGeneralName, MalformedNamesAreRefused) {
  const std::vector<std::pair<V, P::HRESULT>> bad = {
      {{0x89, 0x01, 0x00}, P::CRYPT_E_ASN1_BADTAG},                   // [9]: no such choice
      {{0x16, 0x01, 'a'}, P::CRYPT_E_ASN1_BADTAG},                    // universal IA5String
      {{0xA2, 0x03, 0x16, 0x01, 'a'}, P::CRYPT_E_ASN1_BADTAG},        // dNSName constructed
      {{0x84, 0x02, 0x30, 0x00}, P::CRYPT_E_ASN1_BADTAG},             // directoryName primitive
      {{0x82, 0x01, 0x80}, P::CRYPT_E_ASN1_ERROR},                    // dNSName outside IA5
      {{0xA4, 0x00}, P::CRYPT_E_ASN1_EOD},                            // directoryName without Name
      {{0xA4, 0x04, 0x30, 0x00, 0x30, 0x00}, P::CRYPT_E_ASN1_ERROR},  // two Names
      {{0xA4, 0x02, 0x31, 0x00}, P::CRYPT_E_ASN1_BADTAG},             // implicit [4] Name
      {{0x88, 0x01, 0x80}, P::CRYPT_E_ASN1_EOD},                      // registeredID cut short
      {{0xA0, 0x05, 0x06, 0x03, 0x2A, 0x03, 0x04}, P::CRYPT_E_ASN1_EOD},    // otherName no value
      {{0xA5, 0x05, 0xA0, 0x03, 0x0C, 0x01, 'a'}, P::CRYPT_E_ASN1_EOD},     // no partyName
      {{0xA5, 0x05, 0xA1, 0x03, 0x16, 0x01, 'a'}, P::CRYPT_E_ASN1_BADTAG},  // IA5 partyName
      {{0x82, 0x01, 'a', 0x00}, P::CRYPT_E_ASN1_ERROR},                     // trailing byte
  };
  for (const auto& [der, code] : bad) {
    CGeneralName name;
    name.put_dNSName("kept.example");
    EXPECT_EQ(CodeOf([&, &der = der] { name.decode(B(der)); }), code) << Hex(B(der));
    EXPECT_EQ(Narrow(name.toString().str()), "DNS Name=kept.example");
  }
  CGeneralName empty;
  EXPECT_EQ(CodeOf([&] { empty.encode(); }), P::MakeHResult(0x8007139F));
  EXPECT_EQ(CodeOf([&] { empty.put_dNSName("caf\xC3\xA9"); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { empty.put_iPAddress(B({1, 2, 3})); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] {
              empty.put_directoryName(B({0x30, 0x02, 0x31, 0x00}));
            }),
            P::CRYPT_E_ASN1_ERROR);
}

TEST(AsnkitGeneralNames, ListRoundTripsAndRefusesEmptyOrTrailingData) {
  CGeneralName dns;
  dns.put_dNSName("tsa.example.org");
  CGeneralName dir;
  dir.put_directoryName(B(BuildName({{{kCN, kUtf8, "TSA"}}})));
  CGeneralNames names;
  names.push_back(dir);
  names.push_back(dns);
  const CBlob der = names.encode();
  CGeneralNames back;
  back.decode(der);
  EXPECT_EQ(back, names);
  EXPECT_EQ(back.encode(), der);
  EXPECT_EQ(CodeOf([&] { back.decode(B({0x30, 0x00})); }), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(back.size(), 2u);
  EXPECT_EQ(CodeOf([&] { CGeneralNames().encode(); }), P::MakeHResult(0x8007139F));
  for (const V& variant : TrailingDataVariants(der.bytes())) {
    EXPECT_NE(CodeOf([&] { CGeneralNames().decode(B(variant)); }), P::S_OK) << Hex(B(variant));
  }
}
