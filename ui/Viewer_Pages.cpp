// The viewer's side of get_PropPage and Display of CRequest and CStamp: the request and stamp
// pages made from the values the library hands over (TSP/horodex/ViewerData.h), and the sheet
// that shows one. The layer of the request and the stamp defines the members and reaches these
// functions only through the interface they are installed in, as the library is loaded: it knows
// nothing of pages, and dependencies point down only.
#include <memory>

#include "TSP/horodex/ViewerData.h"
#include "ui/RequestPage.h"
#include "ui/Resources.h"
#include "ui/StampPage.h"

namespace Velmora::PKI::TSP::Client::Viewer {
namespace {

using Platform::HPROPSHEETPAGE;
using Platform::HWND;

HPROPSHEETPAGE MakeRequestPage(const RequestViewData& request) {
  return MakePropertyPage([&request] { return std::make_unique<CRequestPage>(request.encoding); });
}

HPROPSHEETPAGE MakeStampPage(const StampViewData& stamp) {
  return MakePropertyPage([&stamp] { return std::make_unique<CStampPage>(stamp.token); });
}

void ShowSheet(HWND parent, const wchar_t* caption, ViewedMessage message, HPROPSHEETPAGE page) {
  ShowPropertySheet(parent, caption,
                    message == ViewedMessage::Request ? IDS_REQUEST_CAPTION : IDS_STAMP_CAPTION,
                    page);
}

constexpr ViewerPages kPages{&MakeRequestPage, &MakeStampPage, &ShowSheet};

// Installed while the library is loaded, before any of its callers can ask for a page.
[[maybe_unused]] const bool kInstalled = (InstallViewerPages(kPages), true);

}  // namespace
}  // namespace Velmora::PKI::TSP::Client::Viewer
