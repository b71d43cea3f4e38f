// `horodex authenticode FILE [--url URL] [--timeout SECONDS] -o OUT`.
#include "tools/horodex/authenticode_command.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "horodex/MSTimeStamp.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"
#include "support/error_messages.h"
#include "tools/horodex/command_options.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/option_reader.h"

namespace Horodex {

namespace {

namespace P = Velmora::Platform;

constexpr const char* kUsage =
    "usage: horodex authenticode FILE [--url URL] [--timeout SECONDS] -o OUT\n";

struct StampFree {
  void operator()(P::CRYPT_DATA_BLOB* blob) const noexcept { FreeMSStamp(blob); }
};

std::string ErrorText(P::DWORD code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  // Win32 numbers read as their HRESULT; HRESULTs pass as they are.
  const P::HRESULT hr = P::HRESULT_FROM_WIN32(code);
  return std::string(hex) + ": " + P::WideToNarrow(Velmora::Support::GetErrorMessage(hr));
}

}  // namespace

int RunAuthenticode(const std::vector<std::string>& args, std::ostream& /*out*/,
                    std::ostream& err) {
  std::string input;
  std::string url;
  std::string output;
  bool haveUrl = false;
  unsigned long timeoutMs = 0;  // WinHTTP's own time-outs
  OptionReader reader("horodex authenticode", err,
                      {.unknownOption = "unexpected argument '{}'",
                       .missingValue = "unexpected argument '{}'",
                       .usage = kUsage,
                       .form = OptionForm::AnyDash});
  reader.value("--url", [&](const std::string& value) {
    url = value;
    haveUrl = true;
    return true;
  });
  reader.value("-o", output);
  reader.value("--timeout", [&](const std::string& value) {
    const std::optional<unsigned long> ms = TimeoutMs(value);
    if (!ms) {
      reader.complain(
          "--timeout takes a number of seconds from 0.001 to " + std::to_string(kMaxTimeoutSeconds),
          false);
      return false;
    }
    timeoutMs = *ms;
    return true;
  });
  // One file; an empty name is none.
  reader.operand([&](const std::string& value) {
    if (value.empty() || !input.empty()) {
      return false;
    }
    input = value;
    return true;
  });
  if (!reader.read(args)) {
    return kExitUsage;
  }
  if (input.empty() || output.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  if (const std::string problem = WriteProblem(output); !problem.empty()) {
    err << "horodex authenticode: cannot write " << output << ": " << problem << "\n";
    return kExitFile;
  }
  if (SameFile(input, output)) {
    err << "horodex authenticode: -o names the input file " << input << "\n";
    return kExitUsage;
  }
  std::ifstream in(input, std::ios::binary);
  if (!in) {
    err << "horodex authenticode: " << CannotRead(input) << "\n";
    return kExitFile;
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || content.size() > 0xFFFFFFFFu) {
    err << "horodex authenticode: " << CannotRead(input) << "\n";
    return kExitFile;
  }
  P::CRYPT_DATA_BLOB blob{static_cast<P::DWORD>(content.size()),
                          reinterpret_cast<P::BYTE*>(content.data())};
  // Without --url the policy's DefaultMSTSPURL is used.
  const std::wstring wideUrl = P::NarrowToWide(url);
  std::unique_ptr<P::CRYPT_DATA_BLOB, StampFree> stamp(GetMSStampWithTimeout(
      &blob, haveUrl ? wideUrl.c_str() : nullptr, nullptr, static_cast<P::DWORD>(timeoutMs)));
  if (!stamp) {
    err << "horodex authenticode: no time stamp: " << ErrorText(P::GetLastError()) << "\n";
    return kExitNoStamp;
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(stamp->pbData),
             static_cast<std::streamsize>(stamp->cbData));
  file.close();
  if (!file) {
    err << "horodex authenticode: " << CannotWrite(output) << "\n";
    return kExitFile;
  }
  return kExitOk;
}

}  // namespace Horodex
