#include "tools/horodex-view/view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "TSP/horodex/ShellMessageFile.h"
#include "horodex/ShellEntryPoints.h"
#include "horodex/TSPRequest.h"
#include "platform/text/atl_exception.h"
#include "platform/text/convert.h"
#include "platform/text/guard.h"
#include "platform/ui/controls.h"
#include "platform/ui/prsht.h"
#include "platform/ui/winuser.h"
#include "support/error_messages.h"

namespace Horodex {
namespace {

namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

constexpr int kShowNormal = 1;  // the show command the desktop's open action passes

enum class Kind { Request, Stamp };

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
  // With automation the sheet is reported with its caption and the number of rows of its page,
  // and taken: it closes as soon as its page is ready, as the OK button would close it.
  bool OnPropertySheet(P::HWND sheet) override {
    if (!m_automate) {
      return false;
    }
    m_out << "sheet: " << P::WideToUtf8(sheet->text) << ": " << RowCount(sheet) << " rows"
          << std::endl;
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
};

bool Automated() {
  const char* value = std::getenv("HORODEX_VIEW_AUTOMATION");
  return value != nullptr && *value != '\0';
}

// A request or a stamp: by extension, else a file that imports as a request is one and anything
// else is taken as a stamp (whose entry point then reports what is wrong with it).
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
  try {
    std::string bytes;
    if (P::SUCCEEDED(Client::ReadMessageFile(path.c_str(), bytes))) {
      Client::CRequest request;
      request.Import(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<unsigned long>(bytes.size()));
      return Kind::Request;
    }
  } catch (const P::CAtlException&) {
    // Not a request (or not readable): the stamp's entry point says why.
  }
  return Kind::Stamp;
}

}  // namespace

int ViewFile(const std::string& path, std::ostream& out) {
  const Kind kind = KindOf(path);
  Watcher watcher(out, Automated());
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  if (kind == Kind::Request) {
    CryptExtOpenTSPRequest(nullptr, nullptr, name.data(), kShowNormal);
  } else {
    CryptExtOpenTSPStamp(nullptr, nullptr, name.data(), kShowNormal);
  }
  return watcher.errorShown() ? kViewReported : kViewShown;
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
