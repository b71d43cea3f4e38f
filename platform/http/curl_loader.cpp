// libcurl loaded on first use. The library calls libcurl's functions by their own names; they are
// defined here, hidden inside the library, and each forwards to the function of libcurl.so.4,
// which is opened with dlopen the first time any of them is called. So a program that never
// sends anything (shows or verifies a stamp offline, reads a request) never maps libcurl and the
// dozens of libraries it needs, and pays nothing for them at start-up. Where libcurl cannot be
// loaded, curl_global_init fails (the HTTP layer reports ERROR_WINHTTP_INTERNAL_ERROR) and every
// other function fails the way libcurl itself fails when it is out of memory.
#define CURL_DISABLE_TYPECHECK  // the definitions below are the functions, not the checking macros
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <mutex>

#include "platform/http/curl_loader.h"
#include "platform/http/dl_symbol.h"

namespace Velmora::Platform {

namespace {

// The soname the packages depend on (libcurl4 or libcurl3-gnutls provide it under this name).
constexpr const char* kCurlSoname = "libcurl.so.4";

struct CurlFunctions {
  CURLcode (*global_init)(long);
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL*);
  CURLcode (*easy_perform)(CURL*);
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  const char* (*easy_strerror)(CURLcode);
  curl_slist* (*slist_append)(curl_slist*, const char*);
  void (*slist_free_all)(curl_slist*);
  curl_version_info_data* (*version_info)(CURLversion);
};

// Opened once and kept for the process; null when libcurl or one of its functions is missing.
const CurlFunctions* Loaded() noexcept {
  static const CurlFunctions* const loaded = []() -> const CurlFunctions* {
    void* library = dlopen(kCurlSoname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      return nullptr;
    }
    static CurlFunctions f{};
    const bool all = ResolveSymbol(library, "curl_global_init", f.global_init) &&
                     ResolveSymbol(library, "curl_easy_init", f.easy_init) &&
                     ResolveSymbol(library, "curl_easy_cleanup", f.easy_cleanup) &&
                     ResolveSymbol(library, "curl_easy_perform", f.easy_perform) &&
                     ResolveSymbol(library, "curl_easy_setopt", f.easy_setopt) &&
                     ResolveSymbol(library, "curl_easy_getinfo", f.easy_getinfo) &&
                     ResolveSymbol(library, "curl_easy_strerror", f.easy_strerror) &&
                     ResolveSymbol(library, "curl_slist_append", f.slist_append) &&
                     ResolveSymbol(library, "curl_slist_free_all", f.slist_free_all) &&
                     ResolveSymbol(library, "curl_version_info", f.version_info);
    return all ? &f : nullptr;  // an incomplete libcurl stays mapped but is never called
  }();
  return loaded;
}

}  // namespace

bool CurlLoaded() noexcept {
  return Loaded() != nullptr;
}

const char* CurlVersionText() noexcept {
  const CurlFunctions* f = Loaded();
  const curl_version_info_data* data = f != nullptr ? f->version_info(CURLVERSION_NOW) : nullptr;
  return data != nullptr ? data->version : nullptr;
}

}  // namespace Velmora::Platform

using Velmora::Platform::Loaded;

#define HORODEX_CURL_HIDDEN __attribute__((visibility("hidden")))

// libcurl's own signatures put an enum before the "...": the enum is passed as the int it
// promotes to, the same size, which clang warns of nonetheless.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wvarargs"
#endif

extern "C" {

HORODEX_CURL_HIDDEN CURLcode curl_global_init(long flags) {
  const auto* f = Loaded();
  return f != nullptr ? f->global_init(flags) : CURLE_FAILED_INIT;
}

HORODEX_CURL_HIDDEN CURL* curl_easy_init() {
  const auto* f = Loaded();
  return f != nullptr ? f->easy_init() : nullptr;
}

HORODEX_CURL_HIDDEN void curl_easy_cleanup(CURL* handle) {
  if (const auto* f = Loaded(); f != nullptr && handle != nullptr) {
    f->easy_cleanup(handle);
  }
}

HORODEX_CURL_HIDDEN CURLcode curl_easy_perform(CURL* handle) {
  const auto* f = Loaded();
  return f != nullptr ? f->easy_perform(handle) : CURLE_FAILED_INIT;
}

// The option's number tells the type of its one argument, as libcurl reads it.
HORODEX_CURL_HIDDEN CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  const auto* f = Loaded();
  if (f == nullptr) {
    return CURLE_FAILED_INIT;
  }
  va_list arguments;
  va_start(arguments, option);
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    result = f->easy_setopt(handle, option, va_arg(arguments, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    result = f->easy_setopt(handle, option, va_arg(arguments, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    result = f->easy_setopt(handle, option, va_arg(arguments, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    result = f->easy_setopt(handle, option, va_arg(arguments, curl_off_t));
  } else {
    result = f->easy_setopt(handle, option, va_arg(arguments, void*));
  }
  va_end(arguments);
  return result;
}

// Every piece of information is written through a pointer.
HORODEX_CURL_HIDDEN CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  const auto* f = Loaded();
  if (f == nullptr) {
    return CURLE_FAILED_INIT;
  }
  va_list arguments;
  va_start(arguments, info);
  void* into = va_arg(arguments, void*);
  va_end(arguments);
  return f->easy_getinfo(handle, info, into);
}

HORODEX_CURL_HIDDEN const char* curl_easy_strerror(CURLcode code) {
  const auto* f = Loaded();
  return f != nullptr ? f->easy_strerror(code) : "libcurl could not be loaded";
}

HORODEX_CURL_HIDDEN curl_slist* curl_slist_append(curl_slist* list, const char* data) {
  const auto* f = Loaded();
  return f != nullptr ? f->slist_append(list, data) : nullptr;
}

HORODEX_CURL_HIDDEN void curl_slist_free_all(curl_slist* list) {
  if (const auto* f = Loaded(); f != nullptr) {
    f->slist_free_all(list);
  }
}

HORODEX_CURL_HIDDEN curl_version_info_data* curl_version_info(CURLversion version) {
  const auto* f = Loaded();
  return f != nullptr ? f->version_info(version) : nullptr;
}

}  // extern "C"
