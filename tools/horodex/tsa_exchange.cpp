// A request sent to the TSAs in turn, and the stamp verified.
#include "tools/horodex/tsa_exchange.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <utility>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/atl_exception.h"
#include "platform/text/convert.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/show_command.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace {

using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;
namespace P = Velmora::Platform;
namespace S = Velmora::Support;

// The exit code of a failure of Send(false): the policy checks, the exchange, or the reply.
int SendFailureExit(P::HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  switch (hr) {
    case S::HORODEX_E_AUTH_TYPE_PROHIBITED:
    case S::HORODEX_E_PROXY_AUTH_TYPE_PROHIBITED:
    case S::HORODEX_E_TSA_PROHIBITED:
    case S::HORODEX_E_NONCE_PROHIBITED:
    case S::HORODEX_E_HASH_ALG_PROHIBITED:
    case S::HORODEX_E_POLICY_ID_PROHIBITED:
      return kExitPolicy;
    case S::HORODEX_E_HTTP_ERROR:
      return kExitTransport;
    default:
      break;
  }
  if (code >= 0x80072EE0u && code <= 0x800732C7u) {  // WinHTTP's errors, 12000 to 12999
    return kExitTransport;
  }
  return kExitBadReply;
}

// The failure as fields: what went wrong, its code and text.
FieldList FailureFields(const std::string& stage, P::HRESULT hr) {
  FieldList fields;
  fields.text("result", "Result", "failed");
  fields.text("stage", "Stage", stage);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  fields.text("code", "Code", code);
  fields.text("message", "Message", P::WideToUtf8(S::GetErrorMessage(hr)));
  // Every failure has the same members in JSON; those that do not apply are null.
  fields.alwaysInJson({"httpStatus", "hint", "status", "failInfo", "failures", "statusText",
                       "tsaUrl", "revocation"});
  return fields;
}

// failInfo bits of a refusal that another TSA may not share: the next one is tried. A TSA
// without the hash, policy or extension asked for may stand beside one that has them.
// badAlg, timeNotAvailable, unacceptedPolicy, unacceptedExtension, systemFailure.
constexpr unsigned kPassingFailures = 1u << 0 | 1u << 14 | 1u << 15 | 1u << 16 | 1u << 25;

// What came of one exchange: a stamp to verify, or a failure reported with its exit code.
struct Attempt {
  CStamp* stamp = nullptr;
  int exit = kExitOk;
  FieldList failure;
  std::string why;       // the failure in a few words
  bool tryNext = false;  // a failure the next TSA may not share
};

Attempt Exchange(CRequest& request) {
  Attempt attempt;
  try {
    attempt.stamp = &request.Send(false);
  } catch (const P::CAtlException& e) {
    attempt.exit = SendFailureExit(e);
    const char* what = attempt.exit == kExitPolicy      ? "policy"
                       : attempt.exit == kExitTransport ? "transport"
                                                        : "reply";
    attempt.failure = FailureFields(what, e);
    if (request.get_HTTPStatus() != 0) {
      attempt.failure.number("httpStatus", "HTTP status", request.get_HTTPStatus());
    }
    if (request.get_HTTPStatus() == 401 && request.get_TSAUserName()[0] == L'\0') {
      attempt.failure.text("hint", "Hint",
                           "the TSA asks for credentials: give them with --user U --password P "
                           "(and --auth basic|digest|ntlm|negotiate)");
    }
    attempt.why = ErrorText(e);
    // A TSA that the administrator forbids is passed over for the next one, which may be allowed.
    attempt.tryNext = attempt.exit == kExitTransport || e.hr() == S::HORODEX_E_TSA_PROHIBITED;
    return attempt;
  }
  if (attempt.stamp->get_Status() > 1) {
    const unsigned failInfo = attempt.stamp->get_FailInfo();
    attempt.exit = kExitTsaRefused;
    attempt.failure = FailureFields("refused", S::HORODEX_E_TSA_UNSUCCESSFUL);
    attempt.failure.number("status", "Status", attempt.stamp->get_Status());
    attempt.failure.number("failInfo", "Failure info", failInfo);
    AddFailInfoNames(attempt.failure, "failures", "Failures", failInfo);
    attempt.failure.optionalText("statusText", "Status text",
                                 P::WideToUtf8(attempt.stamp->get_StatusString()));
    attempt.why = "refused (" + FailInfoNames(failInfo) + ")";
    attempt.tryNext = (failInfo & kPassingFailures) != 0;
    attempt.stamp = nullptr;
  }
  return attempt;
}

// The stamp's signature, then its TSA certificate's chain with revocation as `horodex verify`
// checks it (--offline, --crl): the failure, if any, in `outcome`.
void Verify(StampOutcome& outcome, const RequestOptions& o, const CrlStorePtr& crls) {
  CStamp& stamp = *outcome.stamp;
  void* stores[] = {crls.get()};
  const unsigned long storeCount = crls ? 1 : 0;
  P::HRESULT hr = stamp.Verify(nullptr, nullptr);
  const char* what = "signature";
  if (P::SUCCEEDED(hr)) {
    const P::CERT_CHAIN_CONTEXT* built = nullptr;
    hr = stamp.VerifyCertificate(nullptr, stores, storeCount,
                                 o.offline ? P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY : 0, &built);
    const ChainPtr judged(built);
    what = "certificate";
    outcome.revocation = ChainRevocation(judged.get());
  }
  if (P::SUCCEEDED(hr)) {
    return;
  }
  FieldList fields = FailureFields(what, hr);
  if (hr == P::CRYPT_E_NOT_FOUND && !o.certReq.value_or(false)) {
    fields.text("hint", "Hint",
                "the TSA certificate is not in the token; ask for it with --cert-req");
  } else if (hr == P::CERT_E_UNTRUSTEDROOT || hr == P::CERT_E_CHAINING) {
    fields.text("hint", "Hint",
                "the TSA's root is not trusted here: name its certificate with --ca FILE "
                "(or keep the stamp unverified with --no-verify)");
  }
  fields.text("tsaUrl", "Answered by", outcome.answeredBy);
  AddRevocation(fields, outcome.revocation);
  outcome.failure = std::move(fields);
  outcome.exit = kExitNotVerified;
  outcome.stamp = nullptr;
}

}  // namespace

void AddRevocation(FieldList& fields, const std::vector<RevocationLine>& lines) {
  if (lines.empty()) {
    return;
  }
  std::string text;
  for (const RevocationLine& line : lines) {
    text += (text.empty() ? "" : "\n") + RevocationText(line);
  }
  fields.structured("revocation", "Revocation", text, RevocationJson(lines));
}

StampOutcome SendToTsas(CRequest& request, const RequestOptions& o, const std::string& who,
                        std::ostream& err) {
  StampOutcome outcome;
  std::vector<std::string> tsas = o.tsas;
  // Neither the command line nor the settings name a TSA: the DefaultTSPURL policy's, if any.
  if (tsas.empty() && request.get_TSAAddress()[0] != L'\0') {
    tsas.push_back(P::WideToUtf8(request.get_TSAAddress()));
  }
  if (tsas.empty()) {
    err << who << ": no TSA: give --tsa URL, or tsa = URL in " << UserSettingsPath() << "\n";
    outcome.exit = kExitUsage;
    outcome.told = true;
    return outcome;
  }
  // The --crl files are read before anything is sent.
  CrlStorePtr crls;
  try {
    crls = o.crlFiles.empty() ? nullptr : OpenCrlFiles(o.crlFiles);
  } catch (const std::exception& e) {
    err << who << ": --crl " << e.what() << "\n";
    outcome.exit = kExitFile;
    outcome.told = true;
    return outcome;
  }
  // The exchanges and the request's own checks of the reply, one TSA after the other while the
  // failure is one the next may not share; verification comes after, so that each kind of
  // failure has its exit code, and a stamp that does not verify is reported, not passed over.
  // The time-out bounds each exchange, so that a TSA that hangs leaves time for the next.
  Attempt attempt;
  for (std::size_t n = 0; n < tsas.size(); ++n) {
    request.put_TSAAddress(P::NarrowToWide(tsas[n]).c_str());
    attempt = Exchange(request);
    if (attempt.stamp != nullptr) {
      outcome.answeredBy = tsas[n];
      break;
    }
    attempt.failure.text("tsaUrl", "TSA URL", tsas[n]);
    if (!attempt.tryNext) {
      break;
    }
    if (n + 1 < tsas.size()) {
      err << who << ": " << tsas[n] << ": " << attempt.why << "; trying " << tsas[n + 1] << "\n";
    }
  }
  if (attempt.stamp == nullptr) {
    outcome.exit = attempt.exit;
    outcome.failure = std::move(attempt.failure);
    return outcome;
  }
  outcome.stamp = attempt.stamp;
  if (o.verify) {
    Verify(outcome, o, crls);
  }
  return outcome;
}

}  // namespace Horodex
