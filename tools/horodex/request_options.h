// The options of every command that sends a request to a TSA (stamp, stamp --evidence, ers stamp,
// renew): the TSAs, the connection (credentials, proxy, client certificate, TLS roots, time-out),
// the request (policy, nonce, certReq) and the verification of the stamp (--no-verify, --ca,
// --offline, --crl). One set, put on each such command's OptionReader, so they all take them alike.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TSP/horodex/CapiHandles.h"
#include "horodex/TSPRequest.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

struct RequestOptions {
  std::vector<std::string> tsas, caFiles, crlFiles;
  std::string timeout, user, password, auth, proxy, proxyUser, proxyPassword, proxyAuth;
  std::string clientCert, clientKey, tlsCa, policy;
  std::optional<bool> certReq;
  bool noNonce = false, verify = true, offline = false;
  std::optional<unsigned long> timeoutMs;  // set by FinishRequestOptions
};

// Puts these options on the command's reader.
void AddRequestOptions(OptionReader& reader, RequestOptions& o);

// Checks the values and fills in what the command line does not give from the user's settings
// (TSAs, CA files, certReq, time-out); certReq is on unless --no-cert-req or the settings say no.
// 0, or the exit code after a message.
int FinishRequestOptions(RequestOptions& o, const UserSettings& settings, const std::string& who,
                         std::ostream& err);

// The input files the options name (CA and CRL files, TLS roots, client certificate and key).
std::vector<std::string> RequestInputFiles(const RequestOptions& o);

// Trusts the --ca roots and puts the connection and request options on `request` (all but the TSA
// address and the hash); the client certificate's context is kept in `clientCert`. 0, or the exit
// code after a message.
int ApplyRequestOptions(Velmora::PKI::TSP::Client::CRequest& request, const RequestOptions& o,
                        Velmora::PKI::TSP::Client::CertContextPtr& clientCert,
                        const std::string& who, std::ostream& err);

}  // namespace Horodex
