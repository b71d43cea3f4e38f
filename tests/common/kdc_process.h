// Debian's MIT Kerberos KDC for the Negotiate tests: a throwaway realm HORODEX.TEST in a
// temporary folder (krb5.conf, kdc.conf, database with its stash), the user "alice" with a
// password, the service principals HTTP/127.0.0.1 and HTTP/localhost with their keys in a
// keytab, krb5kdc on a free loopback port, and alice's ticket-granting ticket from kinit in a
// credential cache of her own. The KDC stops when the owner goes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/common/child_process.h"
#include "tests/common/scratch.h"

namespace Velmora::Testing {

class KdcProcess {
 public:
  KdcProcess();  // throws std::runtime_error with the step that failed

  // Makes alice the logged-on user of this process and of the programs it starts from now on
  // (KRB5_CONFIG, KRB5CCNAME); without tickets, a user with an empty credential cache.
  void LogOn(bool withTickets = true) const;
  // The service keys, for a server that accepts Negotiate (horodex-testtsa --keytab).
  std::filesystem::path Keytab() const { return m_dir / "http.keytab"; }

  // Whether the KDC programs are installed; tests that need them say so when they are not.
  static bool Available();

 private:
  TempDir m_dir;
  std::unique_ptr<ChildProcess> m_kdc;
};

}  // namespace Velmora::Testing
