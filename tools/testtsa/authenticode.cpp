// The Authenticode mode of the test TSA.
#include "authenticode.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <cctype>
#include <cstdio>

#include "auth.h"

namespace TestTsa {

namespace {

using Pkcs7Ptr = std::unique_ptr<PKCS7, Freer<PKCS7_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Freer<ASN1_OBJECT_free>>;

const Identity* g_tsa = nullptr;
const X509* g_ca = nullptr;

struct Element {
  int tag = 0;
  int cls = 0;
  bool constructed = false;
  const unsigned char* header = nullptr;  // the whole element starts here
  const unsigned char* content = nullptr;
  long length = 0;
};

// Reads one definite-length element at *p, within `end`.
bool ReadElement(const unsigned char*& p, const unsigned char* end, Element* element) {
  element->header = p;
  const unsigned char* q = p;
  const int flags = ASN1_get_object(&q, &element->length, &element->tag, &element->cls, end - p);
  if ((flags & 0x80) != 0 || flags == 0x21) {  // error, or indefinite length
    return false;
  }
  element->constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
  element->content = q;
  p = q + element->length;
  return true;
}

std::string Hex(const unsigned char* data, long length) {
  std::string out;
  char digits[3];
  for (long i = 0; i < length; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", data[i]);
    out += digits;
  }
  return out;
}

// A one-line picture of DER: SEQ{...}, SET{...}, [0]{...}, OID:dotted, OCTETS:hex, Tn:hex.
bool Describe(const unsigned char* p, const unsigned char* end, int depth, std::string* out) {
  bool first = true;
  while (p < end) {
    Element e;
    if (depth > 16 || !ReadElement(p, end, &e)) {
      return false;
    }
    *out += first ? "" : ",";
    first = false;
    if (e.constructed) {
      *out += e.cls == V_ASN1_CONTEXT_SPECIFIC ? "[" + std::to_string(e.tag) + "]"
              : e.tag == V_ASN1_SEQUENCE       ? std::string("SEQ")
              : e.tag == V_ASN1_SET            ? std::string("SET")
                                               : "C" + std::to_string(e.tag);
      *out += "{";
      if (!Describe(e.content, e.content + e.length, depth + 1, out)) {
        return false;
      }
      *out += "}";
    } else if (e.cls == V_ASN1_UNIVERSAL && e.tag == V_ASN1_OBJECT) {
      const unsigned char* q = e.header;
      ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &q, e.content + e.length - e.header));
      char text[128];
      if (!object || OBJ_obj2txt(text, sizeof text, object.get(), 1) <= 0) {
        return false;
      }
      *out += std::string("OID:") + text;
    } else if (e.cls == V_ASN1_UNIVERSAL && e.tag == V_ASN1_OCTET_STRING) {
      *out += "OCTETS:" + Hex(e.content, e.length);
    } else {
      *out += "T" + std::to_string(e.tag) + ":" + Hex(e.content, e.length);
    }
  }
  return true;
}

// The content octets of the request: the OCTET STRING inside [0] of the last SEQUENCE.
bool RequestContent(const std::string& der, std::string* content) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  const unsigned char* end = p + der.size();
  Element outer;
  if (!ReadElement(p, end, &outer) || p != end || outer.tag != V_ASN1_SEQUENCE) {
    return false;
  }
  const unsigned char* q = outer.content;
  const unsigned char* outerEnd = outer.content + outer.length;
  Element member;
  Element last;
  bool found = false;
  while (q < outerEnd) {
    if (!ReadElement(q, outerEnd, &member)) {
      return false;
    }
    if (member.tag == V_ASN1_SEQUENCE && member.constructed) {
      last = member;
      found = true;
    }
  }
  if (!found) {
    return false;
  }
  q = last.content;
  const unsigned char* lastEnd = last.content + last.length;
  Element type;
  Element wrapper;
  Element octets;
  if (!ReadElement(q, lastEnd, &type) || !ReadElement(q, lastEnd, &wrapper) ||
      wrapper.cls != V_ASN1_CONTEXT_SPECIFIC || wrapper.tag != 0) {
    return false;
  }
  const unsigned char* r = wrapper.content;
  if (!ReadElement(r, wrapper.content + wrapper.length, &octets) ||
      octets.tag != V_ASN1_OCTET_STRING) {
    return false;
  }
  content->assign(reinterpret_cast<const char*>(octets.content),
                  static_cast<std::size_t>(octets.length));
  return true;
}

std::string SignContent(const std::string& content) {
  BioPtr in(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  STACK_OF(X509)* certs = sk_X509_new_null();
  Require(in != nullptr && certs != nullptr, "Authenticode signing set-up");
  sk_X509_push(certs, const_cast<X509*>(g_ca));
  Pkcs7Ptr signedData(PKCS7_sign(g_tsa->cert.get(), g_tsa->key.get(), certs, in.get(),
                                 PKCS7_BINARY | PKCS7_NOSMIMECAP));
  sk_X509_free(certs);
  Require(signedData != nullptr, "PKCS7_sign");
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(signedData.get(), &der);
  Require(length > 0, "i2d_PKCS7");
  std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return out;
}

}  // namespace

void SetAuthenticodeSigner(const Identity& tsa, const X509* ca) {
  g_tsa = &tsa;
  g_ca = ca;
}

AuthenticodeAnswer AnswerAuthenticode(const std::string& requestText) {
  AuthenticodeAnswer answer;
  answer.sentHex = Hex(reinterpret_cast<const unsigned char*>(requestText.data()),
                       static_cast<long>(requestText.size()));
  std::string compact;
  for (const char c : requestText) {
    if (std::isspace(static_cast<unsigned char>(c)) == 0) {
      compact += c;
    }
  }
  const std::string der = Base64Decode(compact);
  std::string content;
  const auto* begin = reinterpret_cast<const unsigned char*>(der.data());
  if (der.empty() || !Describe(begin, begin + der.size(), 0, &answer.structure) ||
      !RequestContent(der, &content) || g_tsa == nullptr) {
    answer.status = 400;
    answer.structure = answer.structure.empty() ? "unreadable" : answer.structure;
    return answer;
  }
  const std::string text = Base64Encode(SignContent(content));
  for (std::size_t i = 0; i < text.size(); i += 64) {
    answer.body += text.substr(i, 64) + "\r\n";
  }
  return answer;
}

}  // namespace TestTsa
