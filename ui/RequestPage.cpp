// The request page's rows and save.
#include "ui/RequestPage.h"

#include "ui/Resources.h"

namespace Velmora::PKI::TSP::Client::Viewer {

CRequestPage::CRequestPage(const CBlob& encoding) {
  m_request.decode(encoding);
}

void CRequestPage::AddPropertyRows() {
  AddTextRow(IDS_VERSION, m_request.get_version() == 1 ? L"V1" : L"V?", false);
  if (const char* policy = m_request.get_reqPolicy()) {
    AddTextRow(IDS_POLICY, OidDisplayName(policy), false);
  }
  if (const ASN1::CBigInteger* nonce = m_request.get_nonce()) {
    AddHexRow(IDS_NONCE, *nonce);
  }
  AddResourceTextRow(IDS_CERTREQ, m_request.get_certReq() ? IDS_PRESENT : IDS_ABSENT);
  AddTextRow(IDS_HASH_ALGORITHM, OidDisplayName(m_request.get_hashAlgorithm().get_algorithm()),
             false);
  AddHexRow(IDS_HASH_VALUE, m_request.get_hashedMessage());
}

void CRequestPage::AddRows() {
  if (m_filter == FilterAll || m_filter == FilterProperties) {
    AddPropertyRows();
  }
  if (m_filter != FilterProperties) {
    AddExtensionRows(m_request.get_extensions(), m_filter == FilterCriticalExtensions);
  }
}

void CRequestPage::OnSave() {
  // The encoding is made before the dialog opens; its failure reaches the page's guard.
  const CBlob encoding = m_request.encode();
  SaveToFile(IDS_REQUEST_SAVE_FILTER, L".tsq", encoding);
}

}  // namespace Velmora::PKI::TSP::Client::Viewer
