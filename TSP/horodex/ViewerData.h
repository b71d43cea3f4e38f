// What the viewer gets from a request and a stamp, and how the library reaches the viewer.
//
// The viewer's pages (ui/) sit above this layer. get_PropPage and Display of CRequest and CStamp
// are defined in this layer (ViewerData.cpp): they read the request's or stamp's state into one
// of the values below and hand it to the functions the viewer layer installed as the library was
// loaded. The viewer thus sees these values only, never the classes' state, and this layer never
// names a page.
#pragma once

#include "codec/corekit/blob.h"
#include "platform/base/types.h"

namespace Velmora::PKI::TSP::Client {

// A request's page is made from its DER TimeStampReq, built first when it was not cached. The
// page decodes a copy of it: later changes of the CRequest do not reach the page.
struct RequestViewData {
  CBlob encoding;
};

// A stamp's page is made from its DER TimeStampToken (never empty: a stamp without a token has no
// page).
struct StampViewData {
  CBlob token;
};

// Which default caption the sheet takes when the caller gives none.
enum class ViewedMessage { Request, Stamp };

// The viewer layer's functions. The page makers throw what keeps a page from being made (the
// viewer module that does not load, a value that does not decode, a page the platform refuses);
// showSheet shows one page in the modal sheet, captioned `caption`, else the default caption of
// `message`, and takes the page whether shown or not.
struct ViewerPages {
  Platform::HPROPSHEETPAGE (*requestPage)(const RequestViewData& request);
  Platform::HPROPSHEETPAGE (*stampPage)(const StampViewData& stamp);
  void (*showSheet)(Platform::HWND parent, const wchar_t* caption, ViewedMessage message,
                    Platform::HPROPSHEETPAGE page);
};

// Installs the viewer layer's functions; `pages` lives as long as the library. Until they are
// installed, get_PropPage and Display throw ERROR_MOD_NOT_FOUND, as for a viewer module that does
// not load.
void InstallViewerPages(const ViewerPages& pages) noexcept;

// The Base64 text a page saves when the user chooses the Base64 file type: that of Base64Encode
// (TSP/horodex/Base64.h). Throws as it does.
CBlob Base64TextOf(const CBlob& der);

}  // namespace Velmora::PKI::TSP::Client
