// The certificate dialog (CryptUIDlgViewCertificateW) and the display name of a certificate
// (CertGetNameStringW).
#pragma once

#include <string>

#include "platform/capi/wincrypt.h"
#include "platform/ui/winuser.h"

namespace Velmora::Platform {

inline constexpr DWORD CRYPTUI_DISABLE_EDITPROPERTIES = 0x00000004;
inline constexpr DWORD CRYPTUI_ENABLE_REVOCATION_CHECKING = 0x00000800;

struct CRYPTUI_VIEWCERTIFICATE_STRUCTW {
  DWORD dwSize = sizeof(CRYPTUI_VIEWCERTIFICATE_STRUCTW);
  HWND hwndParent = nullptr;
  DWORD dwFlags = 0;
  const wchar_t* szTitle = nullptr;
  PCCERT_CONTEXT pCertContext = nullptr;
  DWORD cStores = 0;
  HCERTSTORE* rghStores = nullptr;
};

// Shows the certificate read-only: subject, issuer, serial number, validity, public key,
// extensions, SHA-1 and SHA-256 fingerprints; with CRYPTUI_ENABLE_REVOCATION_CHECKING also the
// chain built for it (over the given stores and the certificate's own store) and its trust
// status. FALSE with the last error set when there is no certificate (ERROR_INVALID_PARAMETER) or
// nothing can show it (ERROR_MOD_NOT_FOUND).
BOOL CryptUIDlgViewCertificateW(const CRYPTUI_VIEWCERTIFICATE_STRUCTW* dialog,
                                BOOL* propertiesChanged);

// The text the certificate dialog shows for `dialog`, one "name: value" line per field.
std::wstring CertificateDialogText(const CRYPTUI_VIEWCERTIFICATE_STRUCTW& dialog);

inline constexpr DWORD CERT_NAME_SIMPLE_DISPLAY_TYPE = 4;
inline constexpr DWORD CERT_NAME_FRIENDLY_DISPLAY_TYPE = 5;
// The certificate's display name: for the friendly type its friendly-name property when set,
// else (and for the simple type) the subject's common name, else its organizational unit,
// organization or e-mail address, else the first attribute of the subject. Written to `name`
// (room `size` characters, terminator included) when it is not null; answers the characters
// needed with the terminator, 1 (an empty text) when no name can be read.
DWORD CertGetNameStringW(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typePara,
                         wchar_t* name, DWORD size);

}  // namespace Velmora::Platform
