// What `horodex verify` prints of its verdicts: a line per check (text) or one JSON object per
// stamp, and for several stamps a line each with their checks below it and a summary.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/horodex/verify_checks.h"

namespace Horodex {

void WriteVerdictText(const Verdict& verdict, bool colour, std::ostream& out);
// "valid" is null when the imprint was not checked: the stamp as a whole is then not judged.
void WriteVerdictJson(const Verdict& verdict, bool imprintChecked, std::ostream& out);

void WriteSummaryText(const std::vector<std::string>& stamps, const std::vector<Verdict>& verdicts,
                      bool signatureOnly, bool colour, std::ostream& out);
// {"valid", "imprint_checked", "verified", "failed", "stamps": [a verdict's object with "file",
// "exit" and "error" first]}.
void WriteSummaryJson(const std::vector<std::string>& stamps, const std::vector<Verdict>& verdicts,
                      bool signatureOnly, std::ostream& out);

}  // namespace Horodex
