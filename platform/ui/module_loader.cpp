// Loading the viewer module: from the directory of the library itself first (a build tree), then
// its horodex/ subfolder (an installation: the module is private to the library, not a library
// of the search path), then the normal search path; or only from the path in
// HORODEX_VIEWER_MODULE when that is set (packagers who install the module elsewhere, and tests).
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/controls.h"
#include "platform/ui/prsht.h"
#include "platform/ui/viewer_module.h"
#include "platform/ui/winuser.h"

namespace Velmora::Platform {

namespace {

const ViewerHost kHost{
    &SetLastError,
    &IsWindow,
    &OwnerWidget,
    &RegisterWidget,
    &GetDialogResponder,
    &SplitFilterList,
    &SheetInternals::Initialize,
    &PropSheet_IsClosing,
    &UserChooseComboItem,
    &UserSelectListItem,
    &UserClickButton,
};

std::mutex g_loadLock;
const ViewerModule* g_module = nullptr;

std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoadViewerModule), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

const ViewerModule* LoadViewerModule() noexcept {
  std::lock_guard guard(g_loadLock);
  if (g_module != nullptr) {
    return g_module;
  }
  try {
    void* handle = nullptr;
    const char* chosen = std::getenv("HORODEX_VIEWER_MODULE");
    const std::string directory = chosen != nullptr ? std::string() : OwnDirectory();
    if (chosen != nullptr) {
      handle = dlopen(chosen, RTLD_NOW | RTLD_LOCAL);
    } else if (!directory.empty()) {
      for (const std::string& candidate :
           {directory + kViewerModuleName, directory + "horodex/" + kViewerModuleName}) {
        handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
          break;
        }
      }
    }
    if (handle == nullptr && chosen == nullptr) {
      handle = dlopen(kViewerModuleName, RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    using Entry = const ViewerModule* (*)(const ViewerHost*);
    auto entry = reinterpret_cast<Entry>(dlsym(handle, "HorodexViewerModule"));
    if (entry == nullptr) {
      dlclose(handle);
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    const ViewerModule* module = entry(&kHost);
    if (module == nullptr || module->version != kViewerModuleVersion) {
      dlclose(handle);
      SetLastError(ERROR_BAD_FORMAT);
      return nullptr;
    }
    g_module = module;  // stays loaded for the life of the process
    return g_module;
  } catch (...) {
    SetLastError(Win32OfCurrentException(ERROR_GEN_FAILURE));
    return nullptr;
  }
}

}  // namespace Velmora::Platform
