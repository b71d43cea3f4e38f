// The stamp page's rows, signature row, certificate rows, button 113 and save.
#include "ui/StampPage.h"

#include <cwchar>
#include <memory>

#include "codec/stampmsg/response.h"
#include "platform/ui/cryptuiapi.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "ui/Resources.h"

namespace Velmora::PKI::TSP::Client::Viewer {

using namespace Platform;

namespace {

struct StoreCloser {
  void operator()(void* store) const noexcept { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;

std::wstring FriendlyName(PCCERT_CONTEXT certificate) {
  const DWORD size =
      CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  std::wstring name(size, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  name.resize(size > 0 ? size - 1 : 0);
  return name;
}

std::wstring Format(unsigned id, long value) {
  const std::wstring pattern = LoadUiString(id);
  wchar_t text[64];
  std::swprintf(text, 64, pattern.c_str(), static_cast<int>(value));
  return text;
}

}  // namespace

CStampPage::CStampPage(const CBlob& token) {
  m_stampCopy.Import(token.pbData(), token.cbData(), nullptr);
  bool decoded = false;
  try {
    TSP::CResponse response;
    response.decode(token);
    decoded = true;
    if (response.get_timeStampToken() == nullptr) {
      Support::ThrowHResult(MakeHResult(0x80093101));
    }
    m_tokenCopy = *response.get_timeStampToken();
  } catch (...) {
    if (decoded) {
      throw;
    }
    m_tokenCopy.decode(token);
  }
}

std::wstring CStampPage::AccuracyText(long microseconds) {
  const long parts[3] = {microseconds / 1000000, (microseconds % 1000000) / 1000,
                         microseconds % 1000};
  const unsigned formats[3] = {IDS_SECONDS, IDS_MILLISECONDS, IDS_MICROSECONDS};
  std::wstring text;
  for (int i = 0; i < 3; ++i) {
    if (parts[i] != 0) {
      if (!text.empty()) {
        text += L'\n';
      }
      text += Format(formats[i], parts[i]);
    }
  }
  return text;
}

void CStampPage::AddPropertyRows() {
  AddTextRow(IDS_VERSION, m_tokenCopy.get_version() == 1 ? L"V1" : L"V?", false);
  AddTextRow(IDS_TIME, m_tokenCopy.get_genTime().utcToLocal().towstring().c_str(), false);
  if (const long accuracy = m_stampCopy.get_Accuracy(); accuracy != -1) {
    AddTextRow(IDS_ACCURACY, AccuracyText(accuracy), false);
  }
  if (const char* policy = m_stampCopy.get_PolicyID(); policy != nullptr && *policy != '\0') {
    AddTextRow(IDS_POLICY, OidDisplayName(policy), false);
  }
  if (const ASN1::CBigInteger* nonce = m_tokenCopy.get_nonce()) {
    AddHexRow(IDS_NONCE, *nonce);
  }
  AddHexRow(IDS_SERIAL_NUMBER, m_tokenCopy.get_serialNumber());
  AddResourceTextRow(IDS_ORDERING, m_stampCopy.get_Ordering() ? IDS_PRESENT : IDS_ABSENT);
  const wchar_t* tsa = m_stampCopy.get_TSA();
  if (tsa != nullptr && *tsa != L'\0') {
    AddTextRow(IDS_TSA, std::wstring(tsa), false);
  } else if (const ASN1::CGeneralName* name = m_tokenCopy.get_tsa()) {
    AddTextRow(IDS_TSA, std::wstring(name->toString().c_str()), false);
  }
  AddTextRow(IDS_HASH_ALGORITHM, OidDisplayName(m_stampCopy.get_DataHashAlgOID()), false);
  AddHexRow(IDS_HASH_VALUE, m_tokenCopy.get_hashedMessage());
}

void CStampPage::AddSignatureRows() {
  const ASN1::CSignerInfo& signer = m_tokenCopy.get_signerInfo();
  AddTextRow(IDS_SIGNATURE_ALGORITHM,
             OidDisplayName(signer.get_signatureAlgorithm().get_algorithm()), false);
  const LPARAM tag =
      AddRowText(NarrowToWide(signer.get_signature().writeToHexString(1).c_str()), true);
  std::wstring status;
  int icon = kIconSignatureOther;
  PCCERT_CONTEXT certificate = m_stampCopy.get_TSACertificate(nullptr, 0);
  if (certificate == nullptr) {
    status = LoadUiString(IDS_SIGNER_NOT_FOUND);
  } else {
    m_tsaCertRef.reset(CertDuplicateCertificateContext(certificate));
    char anyPurpose[] = "*";
    if (m_stampCopy.Verify(certificate, anyPurpose) != 0) {
      status = LoadUiString(IDS_SIGNATURE_INVALID);
    } else if (const int verdict = m_stampCopy.VerifyCertificate(certificate, nullptr, 0);
               verdict == 0) {
      status = LoadUiString(IDS_SIGNATURE_VALID);
      icon = kIconSignatureValid;
    } else {
      status =
          LoadUiString(IDS_VALID_CERT_INVALID) + L" (" + Support::GetErrorMessage(verdict) + L")";
    }
  }
  InsertRow(LoadUiString(IDS_SIGNATURE), status, icon, tag);
}

void CStampPage::AddCertificateRows() {
  StorePtr store(CertDuplicateStore(m_stampCopy.get_Certificates()));
  if (!store) {
    Support::ThrowHResult(Support::HResultFromLastError());
  }
  const std::wstring name = LoadUiString(IDS_CERTIFICATE);
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(store.get(), certificate)) != nullptr) {
    // The context stays valid while the stamp's store lives, which the page's stamp keeps.
    InsertRow(name, FriendlyName(certificate), kIconCertificate,
              reinterpret_cast<LPARAM>(certificate));
  }
}

void CStampPage::AddRows() {
  if (m_filter == FilterAll || m_filter == FilterProperties) {
    AddPropertyRows();
    AddSignatureRows();
  }
  if (m_filter == FilterAll || m_filter == FilterExtensions ||
      m_filter == FilterCriticalExtensions) {
    AddExtensionRows(m_tokenCopy.get_extensions(), m_filter == FilterCriticalExtensions);
  }
  if (m_filter == FilterAll || m_filter == FilterCertificates) {
    AddCertificateRows();
  }
}

HWND CStampPage::Button() const noexcept {
  return GetDlgItem(m_hwnd, IDC_SHOW_CERTIFICATE);
}

void CStampPage::OnFilterChanged() {
  ShowWindow(Button(), SW_HIDE);
  CFieldPage::OnFilterChanged();
}

void CStampPage::OnItemSelected(const NMLISTVIEW& change) {
  const int row = ListView_FindItemByParam(m_list, -1, change.lParam);
  if (row < 0) {
    SetWindowTextW(m_details, L"");
    return;
  }
  int icon = 0;
  LPARAM itemData = 0;
  ListView_GetItem(m_list, row, &icon, &itemData, nullptr);
  HWND button = Button();
  if (icon == kIconCertificate) {
    const auto* certificate = reinterpret_cast<PCCERT_CONTEXT>(itemData);
    m_selectedCertRef.reset(CertDuplicateCertificateContext(certificate));
    ShowWindow(button, SW_SHOW);
    EnableWindow(button, TRUE);
    RichEdit_SetCharFormat(m_details, SCF_ALL, &plainFormat());
    SetWindowTextW(m_details, FriendlyName(certificate).c_str());
    return;
  }
  if (icon == kIconSignatureValid || icon == kIconSignatureOther) {
    m_selectedCertRef.reset();
    ShowWindow(button, SW_SHOW);
    EnableWindow(button, m_tsaCertRef ? TRUE : FALSE);
  } else {
    ShowWindow(button, SW_HIDE);
  }
  ShowRowText(itemData, true);
}

void CStampPage::OnShowCertificate() {
  CRYPTUI_VIEWCERTIFICATE_STRUCTW dialog;
  dialog.hwndParent = Button();
  const std::wstring title = LoadUiString(IDS_TSA_CERTIFICATE);
  if (m_selectedCertRef) {
    dialog.dwFlags = CRYPTUI_DISABLE_EDITPROPERTIES;
    dialog.pCertContext = m_selectedCertRef.get();
  } else if (m_tsaCertRef) {
    dialog.dwFlags = CRYPTUI_DISABLE_EDITPROPERTIES | CRYPTUI_ENABLE_REVOCATION_CHECKING;
    dialog.szTitle = title.c_str();
    dialog.pCertContext = m_tsaCertRef.get();
  } else {
    return;
  }
  BOOL changed = FALSE;
  CryptUIDlgViewCertificateW(&dialog, &changed);  // its failures are not reported
}

void CStampPage::OnSave() {
  // The file holds the bare token, even for a stamp imported from a response.
  const CBlob encoding = m_tokenCopy.encode();
  SaveToFile(IDS_STAMP_SAVE_FILTER, L".tsr", encoding);
}

}  // namespace Velmora::PKI::TSP::Client::Viewer
