#include "tools/proxy-helper/gnome_settings.h"

#include <gio/gio.h>

#include <memory>
#include <string>

namespace Horodex::ProxyHelper {

namespace {

struct ObjectUnref {
  void operator()(void* object) const noexcept { g_object_unref(object); }
};
using Settings = std::unique_ptr<GSettings, ObjectUnref>;

struct Freer {
  void operator()(gchar* text) const noexcept { g_free(text); }
};
struct StrvFreer {
  void operator()(gchar** list) const noexcept { g_strfreev(list); }
};

void Print(std::FILE* out, const char* key, std::string value) {
  for (char& c : value) {
    c = c == '\n' || c == '\r' ? ' ' : c;
  }
  std::fprintf(out, "%s=%s\n", key, value.c_str());
}

void PrintString(std::FILE* out, GSettings* settings, const char* key, const char* name) {
  const std::unique_ptr<gchar, Freer> value(g_settings_get_string(settings, key));
  Print(out, name, value ? value.get() : "");
}

void PrintHost(std::FILE* out, GSettings* parent, const char* child, const std::string& prefix) {
  const Settings settings(g_settings_get_child(parent, child));
  if (!settings) {
    return;
  }
  PrintString(out, settings.get(), "host", (prefix + "-host").c_str());
  Print(out, (prefix + "-port").c_str(),
        std::to_string(g_settings_get_int(settings.get(), "port")));
}

}  // namespace

int PrintGnomeSettings(std::FILE* out) {
  constexpr const char* kSchema = "org.gnome.system.proxy";
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source != nullptr ? g_settings_schema_source_lookup(source, kSchema, TRUE) : nullptr;
  if (schema == nullptr) {
    return 4;
  }
  g_settings_schema_unref(schema);
  const Settings settings(g_settings_new(kSchema));
  PrintString(out, settings.get(), "mode", "mode");
  PrintString(out, settings.get(), "autoconfig-url", "autoconfig-url");
  const std::unique_ptr<gchar*, StrvFreer> hosts(
      g_settings_get_strv(settings.get(), "ignore-hosts"));
  std::string joined;
  for (gchar** host = hosts.get(); host != nullptr && *host != nullptr; ++host) {
    joined += (joined.empty() ? "" : ";") + std::string(*host);
  }
  Print(out, "ignore-hosts", joined);
  PrintHost(out, settings.get(), "http", "http");
  PrintHost(out, settings.get(), "https", "https");
  PrintHost(out, settings.get(), "socks", "socks");
  return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace Horodex::ProxyHelper
