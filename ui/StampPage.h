// CStampPage: the field list page of one time stamp: the token's fields, the outcome of verifying
// its signature and the TSA certificate, its extensions and its certificates, and the button
// "Показать сертификат..." (113). Made from a copy of the stamp's encoded token: its own CStamp
// (imported without a request) and its own decoded token.
#pragma once

#include <memory>

#include "codec/stampmsg/token.h"
#include "horodex/TSPStamp.h"
#include "platform/base/free_with.h"
#include "platform/capi/wincrypt.h"
#include "ui/FieldPage.h"

namespace Velmora::PKI::TSP::Client::Viewer {

// One reference to a certificate context, freed once.
using CertContextPtr = std::unique_ptr<const Platform::CERT_CONTEXT,
                                       Platform::FreeWith<Platform::CertFreeCertificateContext>>;

class CStampPage : public CFieldPage {
 public:
  // Imports and decodes `token`; failures are thrown (the page is not made).
  explicit CStampPage(const CBlob& token);

  const CStamp& stamp() const noexcept { return m_stampCopy; }
  const TSP::CToken& token() const noexcept { return m_tokenCopy; }
  Platform::PCCERT_CONTEXT tsaCertificate() const noexcept { return m_tsaCertRef.get(); }
  Platform::PCCERT_CONTEXT selectedCertificate() const noexcept { return m_selectedCertRef.get(); }

  // The accuracy's details text: seconds, milliseconds and microseconds that are not 0, one a
  // line; empty for 0.
  static std::wstring AccuracyText(long microseconds);

 protected:
  int FilterEntryCount() const override { return 5; }
  void AddRows() override;
  void OnSave() override;
  void OnShowCertificate() override;
  void OnFilterChanged() override;
  void OnItemSelected(const Platform::NMLISTVIEW& change) override;

 private:
  void AddPropertyRows();
  void AddSignatureRows();
  void AddCertificateRows();
  Platform::HWND Button() const noexcept;

  CStamp m_stampCopy;
  TSP::CToken m_tokenCopy;
  CertContextPtr m_tsaCertRef;
  CertContextPtr m_selectedCertRef;
};

}  // namespace Velmora::PKI::TSP::Client::Viewer
