// Negotiate (SPNEGO with Kerberos) as the test TSA and its proxy check it: GSS-API accepts the
// client's token with the service keys of the keytab named by --keytab (KRB5_KTNAME). A
// Kerberos client completes in one leg, so every token stands alone.
#pragma once

#include <string>

namespace TestTsa {

// Whether an Authorization or Proxy-Authorization value "Negotiate <token>" is accepted; then
// *reply holds the Base64 of the token to send back (mutual authentication, may be empty).
bool AcceptNegotiate(const std::string& authorization, std::string* reply);

}  // namespace TestTsa
