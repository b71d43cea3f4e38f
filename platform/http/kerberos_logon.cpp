#include "platform/http/kerberos_logon.h"
#include "platform/http/dl_symbol.h"

#include <dlfcn.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5/krb5.h>

#include <memory>
#include <optional>

namespace Velmora::Platform {

namespace {

struct KerberosFunctions {
  decltype(&krb5_init_context) init_context;
  decltype(&krb5_free_context) free_context;
  decltype(&krb5_parse_name) parse_name;
  decltype(&krb5_free_principal) free_principal;
  decltype(&krb5_get_init_creds_password) get_init_creds_password;
  decltype(&krb5_free_cred_contents) free_cred_contents;
  decltype(&krb5_cc_new_unique) cc_new_unique;
  decltype(&krb5_cc_initialize) cc_initialize;
  decltype(&krb5_cc_store_cred) cc_store_cred;
  decltype(&krb5_cc_get_name) cc_get_name;
  decltype(&krb5_cc_destroy) cc_destroy;
  decltype(&krb5_cc_default_name) cc_default_name;
  decltype(&gss_krb5_ccache_name) gss_ccache_name;
};

// Opened once and kept for the process; null when a library or one of its functions is missing.
const KerberosFunctions* Loaded() noexcept {
  static const KerberosFunctions* const loaded = []() -> const KerberosFunctions* {
    void* krb5 = dlopen("libkrb5.so.3", RTLD_NOW | RTLD_LOCAL);
    void* gss = dlopen("libgssapi_krb5.so.2", RTLD_NOW | RTLD_LOCAL);
    static KerberosFunctions f{};
    const bool all =
        ResolveSymbol(krb5, "krb5_init_context", f.init_context) &&
        ResolveSymbol(krb5, "krb5_free_context", f.free_context) &&
        ResolveSymbol(krb5, "krb5_parse_name", f.parse_name) &&
        ResolveSymbol(krb5, "krb5_free_principal", f.free_principal) &&
        ResolveSymbol(krb5, "krb5_get_init_creds_password", f.get_init_creds_password) &&
        ResolveSymbol(krb5, "krb5_free_cred_contents", f.free_cred_contents) &&
        ResolveSymbol(krb5, "krb5_cc_new_unique", f.cc_new_unique) &&
        ResolveSymbol(krb5, "krb5_cc_initialize", f.cc_initialize) &&
        ResolveSymbol(krb5, "krb5_cc_store_cred", f.cc_store_cred) &&
        ResolveSymbol(krb5, "krb5_cc_get_name", f.cc_get_name) &&
        ResolveSymbol(krb5, "krb5_cc_destroy", f.cc_destroy) &&
        ResolveSymbol(krb5, "krb5_cc_default_name", f.cc_default_name) &&
        ResolveSymbol(gss, "gss_krb5_ccache_name", f.gss_ccache_name);
    return all ? &f : nullptr;
  }();
  return loaded;
}

}  // namespace

struct KerberosLogon::State {
  const KerberosFunctions& f;
  krb5_context context = nullptr;
  krb5_ccache cache = nullptr;
  std::optional<std::string> previous;  // the thread's own cache name before, if it had one

  explicit State(const KerberosFunctions& functions) : f(functions) {}
  ~State() {
    if (cache != nullptr) {
      f.cc_destroy(context, cache);
    }
    if (context != nullptr) {
      f.free_context(context);
    }
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // The named user's ticket into the cache, when the KDC grants it; the cache stays empty
  // otherwise.
  void GetTicket(const std::string& user, const std::string& password) const {
    krb5_principal principal = nullptr;
    if (f.parse_name(context, user.c_str(), &principal) != 0) {
      return;
    }
    krb5_creds creds{};
    if (f.get_init_creds_password(context, &creds, principal, password.c_str(), nullptr, nullptr, 0,
                                  nullptr, nullptr) == 0) {
      if (f.cc_initialize(context, cache, principal) == 0) {
        f.cc_store_cred(context, cache, &creds);
      }
      f.free_cred_contents(context, &creds);
    }
    f.free_principal(context, principal);
  }
};

KerberosLogon::KerberosLogon(const std::string& user, const std::string& password) noexcept {
  const KerberosFunctions* f = Loaded();
  if (f == nullptr) {
    return;
  }
  try {
    m_state = std::make_unique<State>(*f);
    if (f->init_context(&m_state->context) != 0 ||
        f->cc_new_unique(m_state->context, "MEMORY", nullptr, &m_state->cache) != 0) {
      return;
    }
    m_state->GetTicket(user, password);
    const std::string name =
        std::string("MEMORY:") + f->cc_get_name(m_state->context, m_state->cache);
    OM_uint32 minor = 0;
    const char* before = nullptr;
    if (f->gss_ccache_name(&minor, name.c_str(), &before) == GSS_S_COMPLETE) {
      m_switched = true;
      // GSS-API reports the default cache when the thread had none of its own: then the thread
      // goes back to following the default (KRB5CCNAME), not to that cache for good.
      const char* fallback = f->cc_default_name(m_state->context);
      if (before != nullptr && (fallback == nullptr || std::string(before) != fallback)) {
        m_state->previous = before;
      }
    }
  } catch (...) {
    // Out of memory: not switched, so no token goes out.
  }
}

KerberosLogon::~KerberosLogon() {
  if (m_switched) {
    OM_uint32 minor = 0;
    m_state->f.gss_ccache_name(&minor, m_state->previous ? m_state->previous->c_str() : nullptr,
                               nullptr);
  }
}

}  // namespace Velmora::Platform
