// The reader of the ers commands' options.
#include "tools/horodex/ers_options.h"

#include "tools/horodex/help_text.h"
#include "tools/horodex/option_reader.h"

namespace Horodex {

bool ReadErsOptions(const std::string& command, const std::vector<std::string>& args, ErsOptions& o,
                    std::ostream& err) {
  OptionReader reader("horodex ers " + command, err,
                      {.unknownOption = "unknown option {}",
                       .usage = CommandHelp("ers"),
                       .usageAfterMissingValue = false});
  AddRequestOptions(reader, o.request);
  reader.value("--data", o.dataFiles);
  reader.values({{"-o", &o.out}, {"--hash", &o.hash}, {"--files-from", &o.filesFrom}});
  reader.flags({{"--json", &o.json}, {"-0", &o.nulSeparated}});
  reader.operands(o.operands);
  return reader.read(args, 1);
}

}  // namespace Horodex
