// HTTP authentication as the test TSA checks it: Basic, Digest (MD5, qop=auth) and NTLM
// (NTLMv2 responses, verified against the password), with one user name and password.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace TestTsa {

struct Credentials {
  std::string user = "tsa-user";
  std::string password = "tsa-pass";
};

std::string Base64Encode(const std::string& bytes);
// Empty when the text is not Base64.
std::string Base64Decode(const std::string& text);

// Whether an Authorization value "Basic ..." carries exactly the user name and password.
bool CheckBasic(const std::string& authorization, const Credentials& credentials);

class DigestAuth {
 public:
  // The value of a WWW-Authenticate header with a fresh nonce.
  std::string Challenge();
  // Whether an Authorization value "Digest ..." answers one of our nonces with the right
  // user name, password, method and URI.
  bool Check(const std::string& authorization, const std::string& method,
             const Credentials& credentials);

 private:
  std::mutex m_lock;
  std::set<std::string> m_nonces;
};

// The NTLM handshake of one connection.
class NtlmHandshake {
 public:
  enum class Outcome { challenge, accepted, refused };
  // Reads an Authorization value "NTLM <message>": a negotiate message gets a challenge
  // (`reply` is then the WWW-Authenticate value to send), an authenticate message is checked.
  Outcome Step(const std::string& authorization, const Credentials& credentials,
               std::string* reply);
  const std::string& userSeen() const { return m_user; }

 private:
  std::string m_challenge;  // 8 bytes
  std::string m_user;
};

}  // namespace TestTsa
