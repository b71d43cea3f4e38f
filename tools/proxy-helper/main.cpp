// horodex-proxy-helper: the parts of proxy discovery that the library keeps out of its own
// process. "gnome" prints the desktop's proxy settings; "pac" runs a proxy auto-configuration
// script and answers questions about it. The library starts it on first use, so that programs
// that never look for a proxy never load the GLib and script-engine libraries, and so that a
// script that loops or allocates without end can be stopped.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "tools/proxy-helper/gnome_settings.h"

#if defined(__SANITIZE_ADDRESS__)
#define HORODEX_HELPER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HORODEX_HELPER_SANITIZED 1
#endif
#endif
#include "tools/proxy-helper/pac_engine.h"

int main(int argc, char** argv) try {
  // Nothing but standard input, output and error reaches the script or the settings reader.
  close_range(3, ~0U, 0);
  if (argc != 2) {
    std::fprintf(stderr, "usage: horodex-proxy-helper gnome|pac\n");
    return 2;
  }
  if (std::strcmp(argv[1], "gnome") == 0) {
    return Horodex::ProxyHelper::PrintGnomeSettings(stdout);
  }
  if (std::strcmp(argv[1], "pac") == 0) {
#if !defined(HORODEX_HELPER_SANITIZED)
    // A second bound under the engine's own heap limit (AddressSanitizer's shadow memory
    // cannot live under it).
    const rlimit memory{512u << 20, 512u << 20};
    setrlimit(RLIMIT_AS, &memory);
#endif
    return Horodex::ProxyHelper::RunPacEngine(stdin, stdout);
  }
  std::fprintf(stderr, "horodex-proxy-helper: unknown mode %s\n", argv[1]);
  return 2;
} catch (const std::exception& failure) {
  std::fprintf(stderr, "horodex-proxy-helper: internal error: %s\n", failure.what());
  return 70;  // EX_SOFTWARE, as the other tools
} catch (...) {
  std::fprintf(stderr, "horodex-proxy-helper: internal error: an exception of no known kind\n");
  return 70;
}
