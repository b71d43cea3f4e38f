// A logged-on Kerberos user for the Negotiate tests, without a KDC: a krb5.conf for the realm
// HORODEX.TEST (every lookup off, its KDC an unused loopback port) and a credential cache (the
// FILE format, version 4) holding a service ticket for HTTP/127.0.0.1. GSS-API then builds an
// AP-REQ from that ticket by itself, so a client that uses the user's credentials sends
// "Negotiate <token>"; nothing can verify the token, which is fine for a test of who sends what.
// The ticket's encrypted part is random bytes.
#pragma once

#include <openssl/rand.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <string>

#include "tests/common/scratch.h"

namespace Velmora::Testing {

class KerberosUser {
 public:
  // With `withTicket` false the cache holds the user but no ticket: there is nothing to send.
  explicit KerberosUser(bool withTicket = true) {
    {
      std::ofstream config(m_dir / "krb5.conf");
      config << "[libdefaults]\n default_realm = HORODEX.TEST\n dns_lookup_kdc = false\n"
                " dns_lookup_realm = false\n rdns = false\n dns_canonicalize_hostname = false\n"
                "[realms]\n HORODEX.TEST = {\n  kdc = 127.0.0.1:1\n }\n"
                "[domain_realm]\n 127.0.0.1 = HORODEX.TEST\n";
    }
    std::ofstream cache(m_dir / "ccache", std::ios::binary);
    const std::string client = Principal(1, {"alice"});
    std::string file = U16(0x0504) + U16(0) + client;
    if (withTicket) {
      const auto now = static_cast<std::uint32_t>(std::time(nullptr));
      file += client + Principal(2, {"HTTP", "127.0.0.1"});
      file += U16(18) + Data(Random(32));  // aes256-cts-hmac-sha1-96 session key
      file += U32(now - 60) + U32(now - 60) + U32(now + 36000) + U32(0);
      file += std::string(1, '\0') + U32(0x00400000) + U32(0) + U32(0);  // flags, no addresses
      file += Data(Ticket()) + Data("");
    }
    cache << file;
  }
  ~KerberosUser() {
    unsetenv("KRB5_CONFIG");
    unsetenv("KRB5CCNAME");
  }
  KerberosUser(const KerberosUser&) = delete;
  KerberosUser& operator=(const KerberosUser&) = delete;

  // Makes this the user of the process (KRB5_CONFIG, KRB5CCNAME).
  void LogOn() const {
    setenv("KRB5_CONFIG", (m_dir / "krb5.conf").c_str(), 1);
    setenv("KRB5CCNAME", ("FILE:" + (m_dir / "ccache").string()).c_str(), 1);
  }

 private:
  static std::string U16(std::uint32_t v) {
    return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
  }
  static std::string U32(std::uint32_t v) { return U16(v >> 16) + U16(v & 0xFFFF); }
  static std::string Data(const std::string& bytes) {
    return U32(static_cast<std::uint32_t>(bytes.size())) + bytes;
  }
  static std::string Principal(std::uint32_t type, std::initializer_list<std::string> parts) {
    std::string out = U32(type) + U32(static_cast<std::uint32_t>(parts.size())) + Data(kRealm);
    for (const std::string& part : parts) {
      out += Data(part);
    }
    return out;
  }
  static std::string Random(std::size_t n) {
    std::string bytes(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(n));
    return bytes;
  }
  static std::string Der(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    if (content.size() < 128) {
      out += static_cast<char>(content.size());
    } else {
      out += static_cast<char>(0x82);
      out += U16(static_cast<std::uint32_t>(content.size()));
    }
    return out + content;
  }
  static std::string Integer(unsigned char v) {
    return Der(0x02, std::string(1, static_cast<char>(v)));
  }
  // Ticket ::= [APPLICATION 1] SEQUENCE { tkt-vno [0] 5, realm [1], sname [2], enc-part [3] }
  static std::string Ticket() {
    const std::string sname =
        Der(0x30, Der(0xA0, Integer(2)) +
                      Der(0xA1, Der(0x30, Der(0x1B, "HTTP") + Der(0x1B, "127.0.0.1"))));
    const std::string encPart = Der(
        0x30, Der(0xA0, Integer(18)) + Der(0xA1, Integer(1)) + Der(0xA2, Der(0x04, Random(64))));
    return Der(0x61, Der(0x30, Der(0xA0, Integer(5)) + Der(0xA1, Der(0x1B, kRealm)) +
                                   Der(0xA2, sname) + Der(0xA3, encPart)));
  }

  static constexpr const char* kRealm = "HORODEX.TEST";
  TempDir m_dir;
};

}  // namespace Velmora::Testing
