#include "tools/horodex-view/view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "TSP/horodex/ShellMessageFile.h"
#include "codec/cms/signed_data.h"
#include "horodex/ShellEntryPoints.h"
#include "horodex/SignatureStamp.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/guard.h"
#include "platform/text/convert.h"
#include "platform/text/language.h"
#include "platform/ui/controls.h"
#include "platform/ui/prsht.h"
#include "platform/ui/winuser.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "ui/FieldPage.h"
#include "ui/Resources.h"

namespace Horodex {
namespace {

namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

constexpr int kShowNormal = 1;  // the show command the desktop's open action passes
// The caption of the viewer's error boxes, the shell entry points' (string 219).
constexpr const wchar_t* kErrorCaption = L"Velmora TSP Client";

enum class Kind { Request, Stamp, Signature };

// Watches the viewer's dialogs: it notes whether an error box came up, and with automation on
// answers every dialog itself and reports it on `out`.
class Watcher : public P::DialogResponder {
 public:
  Watcher(std::ostream& out, bool automate)
      : m_out(out), m_automate(automate), m_previous(P::SetDialogResponder(this)) {}
  ~Watcher() override { P::SetDialogResponder(m_previous); }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  bool OnMessageBox(P::HWND, std::wstring_view text, std::wstring_view caption, P::UINT,
                    int* result) override {
    m_boxes = true;
    if (!m_automate) {
      return false;
    }
    m_out << "message box: " << P::WideToUtf8(caption) << ": " << P::WideToUtf8(text) << std::endl;
    *result = P::IDOK;
    return true;
  }
  // With automation the sheet is reported with its caption, the number of rows of its first
  // page and its number of pages, and taken: it closes as soon as its pages are ready, as the OK
  // button would close it.
  bool OnPropertySheet(P::HWND sheet) override {
    if (!m_automate) {
      return false;
    }
    m_out << "sheet: " << P::WideToUtf8(sheet->text) << ": " << RowCount(sheet) << " rows, "
          << PageCount(sheet) << " pages" << std::endl;
    return true;
  }
  bool errorShown() const noexcept { return m_boxes; }

 private:
  std::ostream& m_out;
  bool m_automate;
  P::DialogResponder* m_previous;
  bool m_boxes = false;

  // The rows of the list of the sheet's first page.
  static std::size_t RowCount(P::HWND sheet) {
    const P::HWND page = P::PropSheet_IndexToHwnd(sheet, 0);
    if (page != nullptr) {
      for (const auto& child : page->children) {
        if (child->kind == P::WindowKind::ListView) {
          return child->items.size();
        }
      }
    }
    return 0;
  }
  static int PageCount(P::HWND sheet) {
    int count = 0;
    while (P::PropSheet_IndexToHwnd(sheet, count) != nullptr) {
      ++count;
    }
    return count;
  }
};

bool Automated() {
  const char* value = std::getenv("HORODEX_VIEW_AUTOMATION");
  return value != nullptr && *value != '\0';
}

// A CMS signature of other content than a time stamp's (a bare token is a SignedData too).
bool IsSignature(const std::string& bytes) {
  try {
    const Client::CSignedMessage message(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         bytes.size());
    return std::strcmp(message.get_ContentType(), Velmora::ASN1::CmsOids::TstInfo) != 0;
  } catch (const P::CAtlException&) {
    return false;
  }
}

// A request, a stamp or a signature: by extension, else a file that imports as a request is one,
// a file that reads as a signature is one, and anything else is taken as a stamp (whose entry
// point then reports what is wrong with it).
Kind KindOf(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".tsq") {
    return Kind::Request;
  }
  if (extension == ".tsr") {
    return Kind::Stamp;
  }
  if (extension == ".p7s" || extension == ".p7m") {
    return Kind::Signature;
  }
  std::string bytes;
  try {
    if (P::FAILED(Client::ReadMessageFile(path.c_str(), bytes))) {
      return Kind::Stamp;  // not readable: the stamp's entry point says why
    }
    Client::CRequest request;
    request.Import(reinterpret_cast<const unsigned char*>(bytes.data()),
                   static_cast<unsigned long>(bytes.size()));
    return Kind::Request;
  } catch (const P::CAtlException&) {
    // Not a request.
  }
  return IsSignature(bytes) ? Kind::Signature : Kind::Stamp;
}

// The pages of every signature time stamp of every signer, in the message's order.
std::vector<P::HPROPSHEETPAGE> SignatureStampPages(const std::string& bytes) {
  const Client::CSignedMessage message(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       bytes.size());
  std::vector<Velmora::CBlob> tokens;
  for (std::size_t signer = 0; signer < message.get_SignerCount(); ++signer) {
    const std::vector<Velmora::CBlob> stamps = message.get_TimeStamps(signer);
    tokens.insert(tokens.end(), stamps.begin(), stamps.end());
  }
  std::vector<P::HPROPSHEETPAGE> pages;
  pages.reserve(tokens.size());
  try {
    for (const Velmora::CBlob& token : tokens) {
      Client::CStamp stamp;
      stamp.Import(token.pbData(), token.cbData(), nullptr);
      pages.push_back(stamp.get_PropPage());
    }
  } catch (...) {
    for (P::HPROPSHEETPAGE page : pages) {
      P::DestroyPropertySheetPage(page);
    }
    throw;
  }
  return pages;
}

// Shows the time stamps of the signature file at `path` as the pages of one sheet titled with the
// file's name, as the shell entry points show a stamp; a file that does not read as a signature
// gets their error box, a signature without time stamps a box that says so. False when a box was
// shown, or nothing could be.
bool ShowSignature(const std::string& path) noexcept {
  P::HRESULT hr = P::S_OK;
  try {
    std::string bytes;
    hr = Client::ReadMessageFile(path.c_str(), bytes);
    if (P::FAILED(hr)) {
      Velmora::Support::ThrowHResult(hr);
    }
    std::vector<P::HPROPSHEETPAGE> pages = SignatureStampPages(bytes);
    if (pages.empty()) {
      P::MessageBoxW(nullptr,
                     P::InUserLanguage(L"Подпись не содержит штампов времени.",
                                       L"The signature carries no time stamp."),
                     kErrorCaption, P::MB_OK | P::MB_ICONWARNING);
      return false;
    }
    const std::wstring title = P::NarrowToWide(std::filesystem::path(path).filename().string());
    Client::Viewer::ShowPropertySheet(nullptr, title.empty() ? nullptr : title.c_str(),
                                      Client::Viewer::IDS_STAMP_CAPTION, pages);
    return true;
  } catch (...) {
    hr = P::HResultOfCurrentException();
  }
  try {
    const std::wstring text = Velmora::Support::GetErrorMessage(hr);
    P::MessageBoxW(nullptr, text.c_str(), kErrorCaption, P::MB_OK | P::MB_ICONERROR);
  } catch (...) {  // NOLINT(bugprone-empty-catch): the exit status still tells
  }
  return false;
}

}  // namespace

int ViewFile(const std::string& path, std::ostream& out) {
  const Kind kind = KindOf(path);
  Watcher watcher(out, Automated());
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  bool shown = true;
  if (kind == Kind::Request) {
    CryptExtOpenTSPRequest(nullptr, nullptr, name.data(), kShowNormal);
  } else if (kind == Kind::Stamp) {
    CryptExtOpenTSPStamp(nullptr, nullptr, name.data(), kShowNormal);
  } else {
    shown = ShowSignature(path);
  }
  return watcher.errorShown() || !shown ? kViewReported : kViewShown;
}

int ReportInternalError(const char* tool, std::ostream& err) noexcept {
  const P::HRESULT hr = P::HResultOfCurrentException();
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  try {
    err << tool << ": internal error " << code << ": "
        << P::WideToNarrow(Velmora::Support::GetErrorMessage(hr)) << std::endl;
  } catch (...) {  // NOLINT(bugprone-empty-catch): the exit status still tells
  }
  return kExitInternalError;
}

}  // namespace Horodex
