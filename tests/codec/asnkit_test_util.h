// Helpers of the asnkit tests: error codes of a call, byte literals, OpenSSL-made certificates,
// and the trailing-data variants of an encoding.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/text/atl_exception.h"
#include "platform/text/winerror.h"

namespace asnkit_test {

namespace P = Velmora::Platform;
namespace Der = Velmora::ASN1::Der;
using Velmora::CBlob;
using V = std::vector<unsigned char>;

// The HRESULT that `fn` throws, S_OK when it returns.
template <typename Fn>
P::HRESULT CodeOf(Fn&& fn) {
  try {
    fn();
  } catch (const P::CAtlException& e) {
    return e.hr();
  }
  return P::S_OK;
}

inline CBlob B(const V& bytes) {
  return CBlob(bytes);
}

inline std::string Hex(const CBlob& blob) {
  return blob.writeToHexString(0).str();
}

// UTF-8 text of a wide text, for readable failures and comparisons with OpenSSL output.
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t wc : text) {
    const auto c = static_cast<char32_t>(wc);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
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
