// Negotiate as a named user: a user name and password given for Negotiate get a ticket-granting
// ticket of their own from the KDC of the process's Kerberos configuration, in a credential cache
// in memory that GSS-API uses on this thread while the logon lives. So the named user's
// credentials go out, and never the logged-on user's in their place. libkrb5 and libgssapi_krb5
// are opened on first use, as libcurl is (which brings them into the process in any case).
#pragma once

#include <memory>
#include <string>

namespace Velmora::Platform {

class KerberosLogon {
 public:
  // `user` is "name" (the default realm) or "name@REALM".
  KerberosLogon(const std::string& user, const std::string& password) noexcept;
  ~KerberosLogon();
  KerberosLogon(const KerberosLogon&) = delete;
  KerberosLogon& operator=(const KerberosLogon&) = delete;

  // Whether GSS-API on this thread now sees only this logon's cache: the named user's ticket,
  // or nothing at all when the KDC refused the password or could not be reached. False when
  // the Kerberos libraries are missing; then no Negotiate token may be sent.
  bool InForce() const noexcept { return m_switched; }

 private:
  struct State;
  std::unique_ptr<State> m_state;
  bool m_switched = false;
};

}  // namespace Velmora::Platform
