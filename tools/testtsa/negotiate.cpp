#include "negotiate.h"

#include <gssapi/gssapi.h>
#include <strings.h>

#include "auth.h"

namespace TestTsa {

namespace {

struct Accepted {
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  gss_buffer_desc output{0, nullptr};
  ~Accepted() {
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &output);
    gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
  }
};

}  // namespace

bool AcceptNegotiate(const std::string& authorization, std::string* reply) {
  constexpr std::size_t kWord = 10;  // "Negotiate "
  if (authorization.size() <= kWord ||
      strncasecmp(authorization.c_str(), "Negotiate ", kWord) != 0) {
    return false;
  }
  std::string token = Base64Decode(authorization.substr(kWord));
  if (token.empty()) {
    return false;
  }
  gss_buffer_desc input{token.size(), token.data()};
  Accepted accepted;
  OM_uint32 minor = 0;
  const OM_uint32 major = gss_accept_sec_context(
      &minor, &accepted.context, GSS_C_NO_CREDENTIAL, &input, GSS_C_NO_CHANNEL_BINDINGS, nullptr,
      nullptr, &accepted.output, nullptr, nullptr, nullptr);
  if (major != GSS_S_COMPLETE) {
    return false;  // a forged or foreign ticket, or a handshake of more than one leg
  }
  *reply = Base64Encode(
      std::string(static_cast<const char*>(accepted.output.value), accepted.output.length));
  return true;
}

}  // namespace TestTsa
