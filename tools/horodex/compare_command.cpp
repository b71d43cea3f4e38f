// horodex compare: imports two stamps and orders them in time.
#include "tools/horodex/compare_command.h"

#include <charconv>

#include "horodex/TSPStamp.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/message_file.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/show_command.h"

namespace Horodex {

namespace {

using Velmora::PKI::TSP::Client::CStamp;
namespace P = Velmora::Platform;

constexpr const char* kUsage =
    "usage: horodex compare A.tsr B.tsr [--accuracy MICROSECONDS] [--json]\n";

}  // namespace

int RunCompare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> files;
  bool json = false;
  long accuracy = -1;
  OptionReader reader("horodex compare", err, {.usage = kUsage});
  reader.flag("--json", json);
  const std::string microseconds = "--accuracy takes a number of microseconds";
  reader.value(
      "--accuracy",
      [&](const std::string& text) {
        const char* end = text.data() + text.size();
        const auto [rest, ec] = std::from_chars(text.data(), end, accuracy);
        if (text.empty() || ec != std::errc() || rest != end || accuracy < 0) {
          reader.complain(microseconds);
          return false;
        }
        return true;
      },
      microseconds);
  reader.operands(files);
  if (!reader.read(args)) {
    return kExitUsage;
  }
  if (files.size() != 2) {
    err << kUsage;
    return kExitUsage;
  }
  CStamp stamps[2];
  for (std::size_t n = 0; n < 2; ++n) {
    Velmora::CBlob bytes;
    try {
      bytes = ReadMessageBytes(files[n]);
    } catch (const P::CAtlException& e) {
      err << "horodex compare: " << CannotRead(files[n], ErrorText(e)) << "\n";
      return kExitFile;
    }
    try {
      stamps[n].Import(bytes.pbData(), static_cast<unsigned long>(bytes.cbData()), nullptr);
      (void)stamps[n].get_Time();  // a refused response holds no token to compare
      if (accuracy >= 0) {
        stamps[n].put_DefaultAccuracy(accuracy);
      }
    } catch (const P::CAtlException& e) {
      err << "horodex compare: " << files[n] << " is not a time stamp (" << ErrorText(e) << ")\n";
      return kExitBadMessage;
    }
  }
  const int order = stamps[0].Compare(&stamps[1]);
  FieldList fields;
  // A before B, after it, at the very same time, or neither (within each other's accuracy).
  const Velmora::CDateTime a = stamps[0].get_Time(), b = stamps[1].get_Time();
  const bool same = a.seconds() == b.seconds() && a.microseconds() == b.microseconds();
  fields.optionalText("first", "First", order < 0 ? files[0] : order > 0 ? files[1] : "");
  fields.text("order", "Order",
              order < 0   ? "before"
              : order > 0 ? "after"
              : same      ? "same"
                          : "unordered");
  fields.text("verdict", "Verdict",
              order < 0   ? files[0] + " came before " + files[1]
              : order > 0 ? files[1] + " came before " + files[0]
              : same      ? "the two bear the very same time and cannot be ordered"
                          : "the two cannot be ordered (their times lie within each other's "
                            "accuracy, or a stamp gives none)");
  fields.time("timeA", "Time of A", a);
  fields.time("timeB", "Time of B", b);
  fields.write(out, json);
  return kExitOk;
}

}  // namespace Horodex
