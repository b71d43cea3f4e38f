// What `horodex verify` prints of its verdicts, as text and as JSON.
#include "tools/horodex/verify_report.h"

#include <sstream>

#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/terminal.h"

namespace Horodex {

namespace {

std::string StateName(Check::State state) {
  switch (state) {
    case Check::State::Passed:
      return "ok";
    case Check::State::Failed:
      return "failed";
    case Check::State::NotChecked:
      return "not checked";
    case Check::State::NotRun:
      break;
  }
  return "not run";
}

Colour ColourOf(Check::State state) {
  return state == Check::State::Passed   ? Colour::Green
         : state == Check::State::Failed ? Colour::Red
                                         : Colour::Yellow;
}

// {"result", "code", "message", "detail"}: the code and its message only of a failure.
std::string CheckJson(const Check& check) {
  FieldList fields;
  fields.text("result", "", StateName(check.state));
  if (check.state == Check::State::Failed) {
    fields.text("code", "", CodeText(check.code));
    fields.text("message", "", ErrorMessage(check.code));
  } else {
    fields.absent("code", "");
    fields.absent("message", "");
  }
  fields.optionalText("detail", "", check.detail);
  return fields.json();
}

void AddVerdict(FieldList& fields, const Verdict& verdict, bool imprintChecked) {
  fields.jsonMember("valid", !imprintChecked             ? "null"
                             : verdict.status == kExitOk ? "true"
                                                         : "false");
  fields.flag("imprint_checked", "", imprintChecked);
  for (const Check& check : verdict.checks) {
    fields.jsonMember(check.key, CheckJson(check));
  }
  fields.jsonMember("revocation", RevocationJson(verdict.revocation));
  std::vector<std::string> warnings;
  for (const std::string& warning : verdict.warnings) {
    warnings.push_back(JsonQuote(warning));
  }
  fields.jsonMember("warnings", JsonArray(warnings));
}

}  // namespace

void WriteVerdictText(const Verdict& verdict, bool colour, std::ostream& out) {
  for (const Check& check : verdict.checks) {
    std::string line = std::string(check.label) + ": " +
                       Paint(StateName(check.state), ColourOf(check.state), colour);
    if (check.state == Check::State::Failed) {
      line += " " + CodeText(check.code) + " " + ErrorMessage(check.code);
    }
    if (!check.detail.empty()) {
      line += " (" + check.detail + ")";
    }
    out << line << "\n";
  }
  for (const RevocationLine& line : verdict.revocation) {
    out << "revocation of " << RevocationText(line) << "\n";
  }
  for (const std::string& warning : verdict.warnings) {
    out << Paint("warning", Colour::Yellow, colour) << ": " << warning << "\n";
  }
}

void WriteVerdictJson(const Verdict& verdict, bool imprintChecked, std::ostream& out) {
  FieldList fields;
  AddVerdict(fields, verdict, imprintChecked);
  fields.writeJson(out);
}

void WriteSummaryText(const std::vector<std::string>& stamps, const std::vector<Verdict>& verdicts,
                      bool signatureOnly, bool colour, std::ostream& out) {
  const char* passed =
      signatureOnly ? "signature and chain verified, imprint not checked" : "verified";
  std::size_t verified = 0;
  for (std::size_t n = 0; n < stamps.size(); ++n) {
    const Verdict& verdict = verdicts[n];
    if (verdict.status == kExitOk) {
      ++verified;
      out << stamps[n] << ": " << Paint(passed, Colour::Green, colour) << "\n";
    } else {
      out << stamps[n] << ": " << Paint("failed", Colour::Red, colour) << " (exit "
          << verdict.status << (verdict.error.empty() ? "" : ": " + verdict.error) << ")\n";
    }
    std::ostringstream written;
    WriteVerdictText(verdict, colour, written);
    std::istringstream lines(written.str());
    for (std::string line; std::getline(lines, line);) {
      out << "  " << line << "\n";
    }
  }
  const std::size_t failed = stamps.size() - verified;
  out << stamps.size() << " stamps: " << verified << " verified, "
      << Paint(std::to_string(failed) + " failed", failed == 0 ? Colour::Green : Colour::Red,
               colour)
      << "\n";
}

void WriteSummaryJson(const std::vector<std::string>& stamps, const std::vector<Verdict>& verdicts,
                      bool signatureOnly, std::ostream& out) {
  std::int64_t verified = 0;
  std::vector<std::string> each;
  for (std::size_t n = 0; n < stamps.size(); ++n) {
    const Verdict& verdict = verdicts[n];
    verified += verdict.status == kExitOk ? 1 : 0;
    FieldList fields;
    fields.text("file", "", stamps[n]);
    fields.number("exit", "", verdict.status);
    fields.optionalText("error", "", verdict.error);
    AddVerdict(fields, verdict, !signatureOnly);
    each.push_back(fields.json());
  }
  const auto count = static_cast<std::int64_t>(stamps.size());
  FieldList summary;
  summary.jsonMember("valid", signatureOnly ? "null" : verified == count ? "true" : "false");
  summary.flag("imprint_checked", "", !signatureOnly);
  summary.number("verified", "", verified);
  summary.number("failed", "", count - verified);
  summary.jsonMember("stamps", JsonArray(each));
  summary.writeJson(out);
}

}  // namespace Horodex
