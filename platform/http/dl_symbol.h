#pragma once

#include <dlfcn.h>

namespace Velmora::Platform {

// Looks `name` up in a library opened with dlopen; false (and `function` null) when the library
// did not open or lacks the name. The loaders of optional libraries resolve their tables with it.
template <typename F>
bool ResolveSymbol(void* library, const char* name, F& function) {
  function = library != nullptr ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
  return function != nullptr;
}

}  // namespace Velmora::Platform
