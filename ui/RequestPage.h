// CRequestPage: the field list page of one time-stamp request (TimeStampReq), decoded from a copy
// of the request's DER at creation; later changes of the CRequest do not reach it.
#pragma once

#include "codec/stampmsg/request.h"
#include "ui/FieldPage.h"

namespace Velmora::PKI::TSP::Client::Viewer {

class CRequestPage : public CFieldPage {
 public:
  // Decodes `encoding`; the codec's failure is thrown.
  explicit CRequestPage(const CBlob& encoding);

  const TSP::CRequest& request() const noexcept { return m_request; }

 protected:
  int FilterEntryCount() const override { return 4; }
  void AddRows() override;
  void OnSave() override;

 private:
  void AddPropertyRows();

  TSP::CRequest m_request;
};

}  // namespace Velmora::PKI::TSP::Client::Viewer
