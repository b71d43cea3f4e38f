// The throwaway PKI of the test TSA: a CA, the TSA's signing certificate, the TLS server's
// certificate, and client certificates for TLS client authentication (one under the CA, one
// under a stranger CA that the server does not trust).
#pragma once

#include <filesystem>
#include <string>

#include "gost.h"
#include "ossl_ptr.h"

namespace TestTsa {

struct Identity {
  X509Ptr cert;
  PkeyPtr key;
};

struct Pki {
  Identity ca;
  Identity tsa;
  Identity server;
  Identity client;
  Identity strangerCa;
  Identity strangerClient;
};

// Makes every certificate and key, valid from an hour ago for ten years: the CA's and the TSA's
// of `keyType`, the others EC P-256 (signed by the CA with its key's digest). With a
// `revocationUrl` ("http://127.0.0.1:PORT"), the TSA certificate names the CA's CRL there
// ("/ca.crl") and its OCSP responder ("/ocsp").
Pki MakePki(KeyType keyType = KeyType::ec, const std::string& revocationUrl = {});
// Writes ca.pem, tsa.pem, tsa.key, server.pem, server.key, client.pem, client.key, client.der,
// stranger-client.pem, stranger-client.key and stranger-ca.pem into `dir`.
void WritePki(const Pki& pki, const std::filesystem::path& dir);
// A TLS server certificate for the subject alternative `names` ("DNS:a,IP:1.2.3.4") under
// `issuer` (self-signed when null), valid from `notBefore` to `notAfter` seconds from now.
Identity IssueServer(const Identity* issuer, const char* names, long notBefore, long notAfter);
// Reads a TSA certificate and key given on the command line, and the CA file.
Identity ReadIdentity(const std::filesystem::path& certFile, const std::filesystem::path& keyFile);

}  // namespace TestTsa
