// horodex proxy: the proxy a stamp's exchange would take to a URL, and how it was found.
#include "tools/horodex/proxy_command.h"

#include <memory>
#include <vector>

#include "platform/errors/atl_exception.h"
#include "platform/http/handles.h"
#include "platform/http/proxy_report.h"
#include "platform/text/convert.h"
#include "support/errors.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/option_reader.h"
#include "transport/send_request_parts.h"

namespace Horodex {

namespace {

namespace P = Velmora::Platform;

struct Outcome {
  std::string proxy;  // empty: direct
  std::string bypassRule;
  P::HRESULT error = 0;
};

// The choice a stamp's exchange makes when no proxy is given, made by the exchange's own code.
Outcome Discover(P::HINTERNET session, const Velmora::PKI::Transport::TargetUrl& target) {
  Outcome outcome;
  Velmora::PKI::CHttpSettings work;
  try {
    Velmora::PKI::Transport::ChooseProxy(work, session, target, false);
    const std::string list = P::WideToNarrow(work.proxy);
    const std::string bypass = P::WideToNarrow(work.proxyBypass);
    const std::string host = P::WideToNarrow(target.host);
    outcome.proxy =
        list.empty() ? "" : P::ProxyFor(P::ParseProxySetting(list, bypass), target.scheme, host);
    outcome.bypassRule = P::BypassRuleFor(bypass, host);
  } catch (const P::CAtlException& failure) {
    outcome.error = failure.hr();
  } catch (const P::HttpFailure& failure) {
    outcome.error = Velmora::Support::HResultFromWin32(failure.code);
  }
  return outcome;
}

}  // namespace

int RunProxy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool json = false;
  std::string url;
  constexpr const char* kUsage = "usage: horodex proxy URL [--json]\n";
  // Whatever it does not take, it answers with the usage alone.
  OptionReader reader(
      "horodex proxy", err,
      {.unknownOption = "", .extraOperand = "", .usage = kUsage, .form = OptionForm::DoubleDash});
  reader.flag("--json", json);
  reader.operand(url);
  if (!reader.read(args)) {
    return kExitUsage;
  }
  if (url.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  const std::wstring wide = P::NarrowToWide(url);
  P::URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  if (!P::WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) {
    err << "horodex proxy: " << url << ": "
        << ErrorText(Velmora::Support::HResultFromWin32(P::GetLastError())) << "\n";
    return kExitUsage;
  }
  Velmora::PKI::Transport::TargetUrl target;
  target.scheme = parts.nScheme;
  target.schemeText.assign(parts.lpszScheme, parts.dwSchemeLength);
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  struct Closer {
    void operator()(P::HttpObject* handle) const noexcept { P::WinHttpCloseHandle(handle); }
  };
  const std::unique_ptr<P::HttpObject, Closer> session(
      P::WinHttpOpen(L"Velmora horodex.dll", P::WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  if (!session) {
    err << "horodex proxy: " << ErrorText(Velmora::Support::HResultFromWin32(P::GetLastError()))
        << "\n";
    return kExitTransport;
  }
  const Outcome outcome = Discover(session.get(), target);
  const P::ProxyDiscoveryReport& report = P::LastProxyDiscovery();
  const std::string error = outcome.error != 0 ? ErrorText(outcome.error) : "";
  if (json) {
    FieldList fields;
    fields.text("url", "", url);
    if (outcome.error != 0) {
      fields.absent("proxy", "");
    } else {
      fields.text("proxy", "", outcome.proxy.empty() ? "DIRECT" : outcome.proxy);
    }
    fields.text("source", "", report.source);
    fields.optionalText("script", "", report.scriptUrl);
    fields.optionalText("answer", "", report.scriptAnswer);
    fields.optionalText("bypassRule", "", outcome.bypassRule);
    fields.optionalText("error", "", error);
    std::vector<std::string> notes;
    for (const std::string& note : report.notes) {
      notes.push_back(JsonQuote(note));
    }
    fields.jsonMember("notes", JsonArray(notes));
    fields.writeJson(out);
  } else {
    out << "proxy:  "
        << (outcome.error != 0      ? "none, the stamp would fail"
            : outcome.proxy.empty() ? "DIRECT"
                                    : outcome.proxy)
        << "\nsource: " << report.source << "\n";
    if (!report.scriptUrl.empty()) {
      out << "script: " << report.scriptUrl << "\nanswer: " << report.scriptAnswer << "\n";
    }
    if (!outcome.bypassRule.empty()) {
      out << "bypass: " << outcome.bypassRule << "\n";
    }
    for (const std::string& note : report.notes) {
      out << "note:   " << note << "\n";
    }
    if (!error.empty()) {
      out << "error:  " << error << "\n";
    }
  }
  return outcome.error != 0 ? kExitTransport : kExitOk;
}

}  // namespace Horodex
