// The certificate dialog's content and the display name of a certificate, read with OpenSSL.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/base/free_with.h"
#include "platform/capi/cert_openssl.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"
#include "platform/text/language.h"
#include "platform/ui/cryptuiapi.h"
#include "platform/ui/viewer_module.h"

namespace Velmora::Platform {

namespace {

using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free>>;

class ChainPtr {
 public:
  ChainPtr() = default;
  ChainPtr(const ChainPtr&) = delete;
  ChainPtr& operator=(const ChainPtr&) = delete;
  ~ChainPtr() { CertFreeCertificateChain(m_chain); }
  PCCERT_CHAIN_CONTEXT* put() noexcept { return &m_chain; }
  PCCERT_CHAIN_CONTEXT get() const noexcept { return m_chain; }

 private:
  PCCERT_CHAIN_CONTEXT m_chain = nullptr;
};

// UTF-8 from OpenSSL to wide text; bytes that are not UTF-8 are shown as hexadecimal escapes
// rather than refused, since the dialog only shows them.
std::wstring FromUtf8(const std::string& text) {
  try {
    return Utf8ToWide(text);
  } catch (...) {
    std::wstring shown;
    for (unsigned char c : text) {
      if (c < 0x80) {
        shown += static_cast<wchar_t>(c);
      } else {
        wchar_t escape[8];
        std::swprintf(escape, 8, L"\\x%02X", c);
        shown += escape;
      }
    }
    return shown;
  }
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 && data != nullptr ? std::string(data, static_cast<std::size_t>(length))
                                       : std::string();
}

std::wstring NameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  return FromUtf8(BioText(bio.get()));
}

std::wstring TimeText(const ASN1_TIME* time) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || ASN1_TIME_print_ex(bio.get(), time, ASN1_DTFLGS_ISO8601) != 1) {
    return {};
  }
  return FromUtf8(BioText(bio.get()));
}

std::wstring Hex(const unsigned char* bytes, std::size_t length, wchar_t separator) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (std::size_t i = 0; i < length; ++i) {
    if (i != 0 && separator != L'\0') {
      text += separator;
    }
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::wstring Fingerprint(X509* certificate, const EVP_MD* digest) {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, digest, value, &length) != 1) {
    return {};
  }
  return Hex(value, length, L':');
}

std::wstring ExtensionsText(X509* certificate) {
  std::wstring text;
  const int count = X509_get_ext_count(certificate);
  for (int i = 0; i < count; ++i) {
    X509_EXTENSION* extension = X509_get_ext(certificate, i);
    const ASN1_OBJECT* object = X509_EXTENSION_get_object(extension);
    char oid[128];
    OBJ_obj2txt(oid, sizeof(oid), object, 0);
    BioPtr bio(BIO_new(BIO_s_mem()));
    std::string value;
    if (bio && X509V3_EXT_print(bio.get(), extension, 0, 0) == 1) {
      value = BioText(bio.get());
    } else {
      const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
      value = WideToUtf8(Hex(ASN1_STRING_get0_data(data),
                             static_cast<std::size_t>(ASN1_STRING_length(data)), L' '));
    }
    std::replace(value.begin(), value.end(), '\n', ' ');
    text +=
        L"  " + FromUtf8(oid) +
        (X509_EXTENSION_get_critical(extension) ? InUserLanguage(L" (критическое)", L" (critical)")
                                                : L"") +
        L": " + FromUtf8(value) + L"\n";
  }
  return text;
}

std::wstring TrustText(DWORD errors) {
  // A chain whose only gap is an unknown revocation status is trusted (the time-stamping policy
  // decides what such a gap means); the gap is still shown.
  constexpr DWORD kRevocationUnknown =
      CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  if ((errors & ~kRevocationUnknown) == CERT_TRUST_NO_ERROR) {
    return std::wstring(InUserLanguage(L"доверенная", L"trusted")) +
           (errors != 0
                ? InUserLanguage(L"; состояние отзыва неизвестно", L"; revocation status unknown")
                : L"");
  }
  struct Bit {
    DWORD bit;
    const wchar_t* russian;
    const wchar_t* english;
  };
  static constexpr Bit kBits[] = {
      {CERT_TRUST_IS_NOT_TIME_VALID, L"срок действия истек или не наступил",
       L"expired or not yet valid"},
      {CERT_TRUST_IS_REVOKED, L"отозван", L"revoked"},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, L"подпись не верна", L"signature not valid"},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, L"не подходит для этого применения",
       L"not valid for this usage"},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, L"корневой сертификат не доверенный",
       L"root certificate not trusted"},
      {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, L"состояние отзыва неизвестно",
       L"revocation status unknown"},
      {CERT_TRUST_IS_PARTIAL_CHAIN, L"цепочка не построена до корня",
       L"chain does not reach a root"},
      {CERT_TRUST_INVALID_EXTENSION, L"неверное расширение", L"invalid extension"},
      {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, L"неверные основные ограничения",
       L"invalid basic constraints"},
      {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, L"неподдерживаемое критическое расширение",
       L"unsupported critical extension"},
  };
  std::wstring text;
  for (const Bit& bit : kBits) {
    if ((errors & bit.bit) != 0) {
      text += (text.empty() ? L"" : L"; ") + std::wstring(InUserLanguage(bit.russian, bit.english));
    }
  }
  wchar_t code[32];
  std::swprintf(code, 32, L" (0x%08X)", static_cast<unsigned>(errors));
  return (text.empty() ? std::wstring(InUserLanguage(L"ошибка", L"error")) : text) + code;
}

std::wstring ChainText(const CRYPTUI_VIEWCERTIFICATE_STRUCTW& dialog) {
  // The certificate's own store and the caller's stores are searched for the issuers; a chain
  // over several stores takes the first one only (the viewer passes none).
  HCERTSTORE extra = dialog.cStores > 0 && dialog.rghStores != nullptr
                         ? dialog.rghStores[0]
                         : dialog.pCertContext->hCertStore;
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  ChainPtr chain;
  if (!CertGetCertificateChain(HCCE_CURRENT_USER, dialog.pCertContext, nullptr, extra, &parameters,
                               CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr,
                               chain.put())) {
    wchar_t failed[64];
    std::swprintf(
        failed, 64,
        InUserLanguage(L"Цепочка: не построена (0x%08X)\n", L"Chain: not built (0x%08X)\n"),
        static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
    return failed;
  }
  std::wstring text = InUserLanguage(L"Цепочка сертификатов:\n", L"Certificate chain:\n");
  if (chain.get()->cChain > 0) {
    const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i) {
      X509* element = CertContextGetX509(simple->rgpElement[i]->pCertContext);
      text += L"  " + std::wstring(i * 2, L' ') +
              (element != nullptr ? NameText(X509_get_subject_name(element)) : L"?") + L"\n";
    }
  }
  return text + InUserLanguage(L"Состояние цепочки: ", L"Chain status: ") +
         TrustText(chain.get()->TrustStatus.dwErrorStatus) + L"\n";
}

std::wstring FriendlyProperty(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size) ||
      size < 2) {
    return {};
  }
  std::basic_string<unsigned char> bytes(size, 0);
  if (!CertGetCertificateContextProperty(certificate, CERT_FRIENDLY_NAME_PROP_ID, bytes.data(),
                                         &size)) {
    return {};
  }
  // The platform keeps the friendly name as UTF-16 little-endian text ending in NUL.
  Utf16String units;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<WCHAR16>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) {
      break;
    }
    units += unit;
  }
  try {
    return Utf16ToWide(units);
  } catch (...) {
    return {};
  }
}

std::wstring SimpleName(X509* certificate) {
  const X509_NAME* subject = X509_get_subject_name(certificate);
  for (int nid :
       {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    const int at = X509_NAME_get_index_by_NID(subject, nid, -1);
    if (at >= 0) {
      unsigned char* utf8 = nullptr;
      const int length =
          ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
      if (length >= 0) {
        std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
        OPENSSL_free(utf8);
        return FromUtf8(text);
      }
    }
  }
  if (X509_NAME_entry_count(subject) > 0) {
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, 0)));
    if (length >= 0) {
      std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
      OPENSSL_free(utf8);
      return FromUtf8(text);
    }
  }
  return {};
}

}  // namespace

DWORD CertGetNameStringW(PCCERT_CONTEXT certificate, DWORD type, DWORD, void*, wchar_t* name,
                         DWORD size) {
  std::wstring text;
  try {
    if (certificate != nullptr &&
        (type == CERT_NAME_FRIENDLY_DISPLAY_TYPE || type == CERT_NAME_SIMPLE_DISPLAY_TYPE)) {
      if (type == CERT_NAME_FRIENDLY_DISPLAY_TYPE) {
        text = FriendlyProperty(certificate);
      }
      if (text.empty()) {
        if (X509* parsed = CertContextGetX509(certificate)) {
          text = SimpleName(parsed);
        }
      }
    }
  } catch (...) {
    text.clear();
  }
  const auto needed = static_cast<DWORD>(text.size() + 1);
  if (name != nullptr && size > 0) {
    const std::size_t copied = std::min<std::size_t>(text.size(), size - 1);
    std::wmemcpy(name, text.c_str(), copied);
    name[copied] = L'\0';
  }
  return needed;
}

std::wstring CertificateDialogText(const CRYPTUI_VIEWCERTIFICATE_STRUCTW& dialog) {
  X509* certificate = CertContextGetX509(dialog.pCertContext);
  if (certificate == nullptr) {
    return InUserLanguage(L"Сертификат не читается.\n", L"The certificate cannot be read.\n");
  }
  std::wstring text;
  text += std::wstring(InUserLanguage(L"Субъект: ", L"Subject: ")) +
          NameText(X509_get_subject_name(certificate)) + L"\n";
  text += std::wstring(InUserLanguage(L"Издатель: ", L"Issuer: ")) +
          NameText(X509_get_issuer_name(certificate)) + L"\n";
  const ASN1_INTEGER* serial = X509_get0_serialNumber(certificate);
  text += std::wstring(InUserLanguage(L"Серийный номер: ", L"Serial number: ")) +
          Hex(ASN1_STRING_get0_data(serial), static_cast<std::size_t>(ASN1_STRING_length(serial)),
              L' ') +
          L"\n";
  text += std::wstring(InUserLanguage(L"Действителен с: ", L"Valid from: ")) +
          TimeText(X509_get0_notBefore(certificate)) + L"\n";
  text += std::wstring(InUserLanguage(L"Действителен по: ", L"Valid to: ")) +
          TimeText(X509_get0_notAfter(certificate)) + L"\n";
  if (EVP_PKEY* key = X509_get0_pubkey(certificate)) {
    wchar_t bits[32];
    std::swprintf(bits, 32, InUserLanguage(L" (%d бит)", L" (%d bits)"), EVP_PKEY_get_bits(key));
    text += std::wstring(InUserLanguage(L"Открытый ключ: ", L"Public key: ")) +
            FromUtf8(OBJ_nid2ln(EVP_PKEY_get_base_id(key)) != nullptr
                         ? OBJ_nid2ln(EVP_PKEY_get_base_id(key))
                         : "?") +
            bits + L"\n";
  }
  text += std::wstring(InUserLanguage(L"Расширения:\n", L"Extensions:\n")) +
          ExtensionsText(certificate);
  text += std::wstring(InUserLanguage(L"Отпечаток SHA-1: ", L"SHA-1 fingerprint: ")) +
          Fingerprint(certificate, EVP_sha1()) + L"\n";
  text += std::wstring(InUserLanguage(L"Отпечаток SHA-256: ", L"SHA-256 fingerprint: ")) +
          Fingerprint(certificate, EVP_sha256()) + L"\n";
  if ((dialog.dwFlags & CRYPTUI_ENABLE_REVOCATION_CHECKING) != 0) {
    text += ChainText(dialog);
  }
  return text;
}

BOOL CryptUIDlgViewCertificateW(const CRYPTUI_VIEWCERTIFICATE_STRUCTW* dialog,
                                BOOL* propertiesChanged) {
  if (propertiesChanged != nullptr) {
    *propertiesChanged = FALSE;
  }
  if (dialog == nullptr || dialog->pCertContext == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    const std::wstring text = CertificateDialogText(*dialog);
    if (DialogResponder* responder = GetDialogResponder()) {
      if (responder->OnCertificateDialog(*dialog, text)) {
        return TRUE;
      }
    }
    const ViewerModule* module = LoadViewerModule();
    if (module == nullptr) {
      return FALSE;
    }
    return module->showCertificate(dialog->hwndParent,
                                   dialog->szTitle != nullptr
                                       ? dialog->szTitle
                                       : InUserLanguage(L"Сертификат", L"Certificate"),
                                   text.c_str());
  } catch (...) {
    SetLastError(Win32OfCurrentException(ERROR_GEN_FAILURE));
    return FALSE;
  }
}

}  // namespace Velmora::Platform
