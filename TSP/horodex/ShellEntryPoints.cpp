// The four shell entry points: open a request or stamp file and show it, or show the bytes of
// one.
#include "horodex/ShellEntryPoints.h"

#include <filesystem>
#include <string>

#include "TSP/horodex/ShellMessageFile.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/errors/guard.h"
#include "platform/text/convert.h"
#include "platform/ui/winuser.h"
#include "support/error_messages.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {
namespace {

using Platform::HRESULT;
using Platform::HWND;

// The caption of the entry points' error box (string 219 of the viewer's string table).
constexpr const wchar_t* kErrorCaption = L"Velmora TSP Client";

// Reads the file for an open entry point; a failure is thrown. `fileName` is left naming the file
// without the quotes a shell may have put around it.
std::string ReadFileOrThrow(char*& fileName) {
  if (fileName == nullptr) {
    Support::ThrowHResult(Platform::E_INVALIDARG);
  }
  // A name in double quotes (as a shell passes a path with spaces) is taken without them.
  const std::size_t length = std::char_traits<char>::length(fileName);
  if (length >= 2 && fileName[0] == '"' && fileName[length - 1] == '"') {
    fileName[length - 1] = '\0';
    ++fileName;
  }
  std::string bytes;
  const HRESULT hr = ReadMessageFile(fileName, bytes);
  if (Platform::FAILED(hr)) {
    Support::ThrowHResult(hr);
  }
  return bytes;
}

void ShowError(HWND window, HRESULT hr) noexcept {
  if (Platform::SUCCEEDED(hr)) {
    return;
  }
  try {
    const std::wstring text = Support::GetErrorMessage(hr);
    Platform::MessageBoxW(window, text.c_str(), kErrorCaption,
                          Platform::MB_OK | Platform::MB_ICONERROR);
  } catch (...) {
    // Nothing is left to report a failure with; a C caller must not receive an exception.
  }
}

// Runs `show` with the file's bytes under the entry points' guard.
template <typename Show>
void OpenAndShow(HWND window, char* fileName, int showCommand, Show show) noexcept {
  if (showCommand == 0) {
    return;
  }
  HRESULT hr = Platform::S_OK;
  try {
    const std::string bytes = ReadFileOrThrow(fileName);
    // The sheet's title names the file it shows.
    const std::wstring title =
        Platform::NarrowToWide(std::filesystem::path(fileName).filename().string());
    show(window, reinterpret_cast<const unsigned char*>(bytes.data()),
         static_cast<unsigned long>(bytes.size()), title.empty() ? nullptr : title.c_str());
  } catch (...) {
    hr = Platform::HResultOfCurrentException();
  }
  ShowError(window, hr);
}

void DisplayRequest(HWND window, const unsigned char* data, unsigned long length,
                    const wchar_t* caption = nullptr) {
  try {
    CRequest request;
    request.Import(data, length);
    request.Display(window, caption);
  } catch (...) {
    Platform::RethrowAsCAtlException();  // the only exception these entry points let through
  }
}

void DisplayStamp(HWND window, const unsigned char* data, unsigned long length,
                  const wchar_t* caption = nullptr) {
  try {
    CStamp stamp;
    stamp.Import(data, length, nullptr);
    stamp.Display(window, caption);
  } catch (...) {
    Platform::RethrowAsCAtlException();
  }
}

}  // namespace
}  // namespace Velmora::PKI::TSP::Client

namespace Client = Velmora::PKI::TSP::Client;

extern "C" {

void CryptExtOpenTSPRequest(Velmora::Platform::HWND window, Velmora::Platform::HINSTANCE,
                            char* fileName, int showCommand) {
  Client::OpenAndShow(window, fileName, showCommand, Client::DisplayRequest);
}

void CryptExtOpenTSPStamp(Velmora::Platform::HWND window, Velmora::Platform::HINSTANCE,
                          char* fileName, int showCommand) {
  Client::OpenAndShow(window, fileName, showCommand, Client::DisplayStamp);
}

void CryptExtDisplayRequestTSP(Velmora::Platform::HWND window, const unsigned char* data,
                               Velmora::Platform::DWORD length) {
  Client::DisplayRequest(window, data, length);
}

void CryptExtDisplayStampTSP(Velmora::Platform::HWND window, const unsigned char* data,
                             Velmora::Platform::DWORD length) {
  Client::DisplayStamp(window, data, length);
}

}  // extern "C"
