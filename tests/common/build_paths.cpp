#include "tests/common/build_paths.h"

namespace Velmora::Testing {

const char* const kSourceDir = HORODEX_SOURCE_PATH;
const char* const kBinaryDir = HORODEX_BINARY_PATH;

}  // namespace Velmora::Testing
