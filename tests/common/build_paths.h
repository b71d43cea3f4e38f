// Where the source tree and its build are, for tests that run the built programs or read the
// tree's files. The paths live in one object file rather than on every compile line, so a test
// compiles to the same object in every checkout and the compiler cache serves fresh clones.
// Included into every test source by the build.
#pragma once

namespace Velmora::Testing {

extern const char* const kSourceDir;
extern const char* const kBinaryDir;

}  // namespace Velmora::Testing

#define HORODEX_SOURCE_DIR (::Velmora::Testing::kSourceDir)
#define HORODEX_BINARY_DIR (::Velmora::Testing::kBinaryDir)
