// Helpers of the asnkit tests: error codes of a call, byte literals, OpenSSL-made certificates,
// and the trailing-data variants of an encoding.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/asnkit/ess.h"
#include "codec/asnkit/general_name.h"
#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_strings.h"
#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"

namespace asnkit_test {

namespace P = Velmora::Platform;
namespace Der = Velmora::ASN1::Der;
using Velmora::CBlob;
using V = std::vector<unsigned char>;

using Velmora::Testing::DerBuild::CodeOf;

inline CBlob B(const V& bytes) {
  return CBlob(bytes);
}

inline std::string Hex(const CBlob& blob) {
  return blob.writeToHexString(0).str();
}

// UTF-8 text of a wide text, for readable failures and comparisons with OpenSSL's output.
inline std::string Narrow(const std::wstring& text) {
  return Der::ToUtf8(text);
}

struct OsslFree {
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_NAME* p) const { X509_NAME_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using X509Ptr = std::unique_ptr<X509, OsslFree>;
using X509NamePtr = std::unique_ptr<X509_NAME, OsslFree>;
using PKeyPtr = std::unique_ptr<EVP_PKEY, OsslFree>;

// The DER that an OpenSSL i2d function gives for `object`.
template <typename T, typename I2d>
V ToDer(const T* object, I2d i2d) {
  unsigned char* out = nullptr;
  const int length = i2d(object, &out);
  EXPECT_GT(length, 0);
  V bytes(out, out + (length > 0 ? length : 0));
  OPENSSL_free(out);
  return bytes;
}

// OpenSSL's text of a name in our format: reversed RDNs, ", " and " + ", RFC 2253 escapes,
// control characters as \XX, UTF-8, non-strings as #hex; OpenSSL writes the types as OIDs and
// the usual ones are then given our short names, so that the two texts compare whole.
inline std::string OpenSslNameText(const X509_NAME* name) {
  BIO* bio = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(bio, name, 0,
                     XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_OID |
                         ASN1_STRFLGS_ESC_2253 | ASN1_STRFLGS_ESC_CTRL | ASN1_STRFLGS_UTF8_CONVERT |
                         ASN1_STRFLGS_DUMP_UNKNOWN | ASN1_STRFLGS_DUMP_DER);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  const std::string printed(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  static const std::pair<const char*, const char*> kNames[] = {
      {"2.5.4.3=", "CN="},
      {"2.5.4.4=", "SN="},
      {"2.5.4.5=", "SERIALNUMBER="},
      {"2.5.4.6=", "C="},
      {"2.5.4.7=", "L="},
      {"2.5.4.8=", "S="},
      {"2.5.4.9=", "STREET="},
      {"2.5.4.10=", "O="},
      {"2.5.4.11=", "OU="},
      {"2.5.4.12=", "T="},
      {"2.5.4.42=", "G="},
      {"1.2.840.113549.1.9.1=", "E="},
      {"0.9.2342.19200300.100.1.25=", "DC="},
      {"0.9.2342.19200300.100.1.1=", "UID="}};
  std::string out;
  for (std::size_t i = 0; i < printed.size();) {
    // Types stand at the start, after ", " and after " + ".
    const bool atType = i == 0 || (i >= 2 && printed.compare(i - 2, 2, ", ") == 0) ||
                        (i >= 3 && printed.compare(i - 3, 3, " + ") == 0);
    const auto* match = std::find_if(std::begin(kNames), std::end(kNames), [&](const auto& n) {
      return atType && printed.compare(i, std::strlen(n.first), n.first) == 0;
    });
    if (match != std::end(kNames)) {
      out += match->second;
      i += std::strlen(match->first);
    } else {
      out.push_back(printed[i++]);
    }
  }
  return out;
}

// A self-signed EC certificate whose serial number content octets are `serial` exactly (padded or
// negative ones included) and whose issuer is "CN=<cn>, O=Velmora Test, C=BE" (CN most specific).
inline X509Ptr MakeCertificate(const V& serial, const std::string& cn) {
  PKeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  // The serial is set from its DER so that non-minimal content survives.
  V der{0x02, static_cast<unsigned char>(serial.size())};
  der.insert(der.end(), serial.begin(), serial.end());
  const unsigned char* p = der.data();
  ASN1_INTEGER* integer = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der.size()));
  if (integer != nullptr) {
    X509_set_serialNumber(cert.get(), integer);
    ASN1_INTEGER_free(integer);
  }
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("BE"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Velmora Test"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_sign(cert.get(), key.get(), EVP_sha256());
  return cert;
}

// The issuer and serial number of `cert` as the signer-identifier check builds them.
inline Velmora::ASN1::CIssuerSerial IssuerSerialOf(const X509* cert) {
  using namespace Velmora::ASN1;
  CGeneralName issuer;
  issuer.put_directoryName(B(ToDer(X509_get_issuer_name(cert), i2d_X509_NAME)));
  CGeneralNames names;
  names.push_back(issuer);
  CBigInteger serial;
  serial.decode(B(ToDer(X509_get0_serialNumber(cert), i2d_ASN1_INTEGER)));
  return CIssuerSerial(names, serial);
}

// For every constructed element of `der` (pre-order), a copy of `der` in which that element has
// a NULL appended to its members and every enclosing length is grown to match. A strict reader
// refuses each of them, except where the grammar lets any element follow.
inline std::vector<V> TrailingDataVariants(const V& der) {
  std::vector<V> variants;
  // Rebuilds `e`, appending the NULL inside the constructed element numbered `target`.
  struct Rebuild {
    int target;
    int counter = 0;
    V operator()(const Der::Element& e) {
      if (!e.tag.constructed) {
        return V(e.encoded.begin(), e.encoded.end());
      }
      const bool here = counter++ == target;
      V content;
      Der::Reader members = e.children();
      while (!members.empty()) {
        const V member = (*this)(members.next());
        content.insert(content.end(), member.begin(), member.end());
      }
      if (here) {
        content.push_back(0x05);
        content.push_back(0x00);
      }
      Der::Writer w;
      w.tlv(e.tag, content);
      return w.take();
    }
  };
  for (int target = 0;; ++target) {
    Rebuild rebuild{target};
    V variant = rebuild(Der::ReadSingle(der));
    if (target >= rebuild.counter) {
      break;
    }
    variants.push_back(std::move(variant));
  }
  return variants;
}

}  // namespace asnkit_test
