// The values of some environment variables as one string, for paths made from them: a caller
// keeps the snapshot its paths were made with and makes them again only when a new one differs.
#pragma once

#include <span>
#include <string>

namespace Velmora::Platform {

// Differs from an earlier snapshot of the same names whenever one of them was set, unset or
// changed since.
std::string EnvironmentSnapshot(std::span<const char* const> names);

}  // namespace Velmora::Platform
