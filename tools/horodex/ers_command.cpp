#include "tools/horodex/ers_command.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "codec/evidence/evidence_record.h"
#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt.h"
#include "platform/text/atl_exception.h"
#include "platform/text/convert.h"
#include "platform/text/winerror.h"
#include "support/errors.h"
#include "tools/horodex/command_options.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/help_text.h"
#include "tools/horodex/request_options.h"
#include "tools/horodex/time_text.h"
#include "tools/horodex/trusted_roots.h"
#include "tools/horodex/tsa_exchange.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace P = Velmora::Platform;
namespace ERS = Velmora::PKI::ERS;
namespace fs = std::filesystem;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

namespace {

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

struct Options {
  std::vector<std::string> operands, dataFiles;
  std::string out, hash, filesFrom;
  bool json = false, nulSeparated = false;
  RequestOptions request;  // the TSAs, the connection, the request and its verification
};

// Parses the options the ers commands share; false with a message on a bad one.
bool Parse(const std::string& command, const std::vector<std::string>& args, Options& o,
           std::ostream& err) {
  OptionReader reader("horodex ers " + command, err,
                      {.unknownOption = "unknown option {}",
                       .usage = CommandHelp("ers"),
                       .usageAfterMissingValue = false});
  AddRequestOptions(reader, o.request);
  reader.value("--data", o.dataFiles);
  reader.values({{"-o", &o.out}, {"--hash", &o.hash}, {"--files-from", &o.filesFrom}});
  reader.flags({{"--json", &o.json}, {"-0", &o.nulSeparated}});
  reader.operands(o.operands);
  return reader.read(args, 1);
}

bool TrustRoots(const std::string& command, const Options& o, std::ostream& err) {
  return TrustRootFiles(o.request.caFiles, "horodex ers " + command, err);
}

// The request options on a new request, the user's settings under them, and the output folder
// made (a record is written there, so it must take files): 0, or the exit code after a message,
// before anything is hashed or sent.
int PrepareRequest(const std::string& command, Options& o, CRequest& request,
                   CertContextPtr& clientCert, std::ostream& err) {
  const std::string who = "horodex ers " + command;
  const std::optional<UserSettings> settings = LoadUserSettings(command, err);
  if (!settings) {
    return kExitFile;
  }
  if (const int code = FinishRequestOptions(o.request, *settings, who, err); code != kExitOk) {
    return code;
  }
  if (!o.out.empty()) {
    std::error_code ec;
    fs::create_directories(o.out, ec);
    const std::string probe = (fs::path(o.out) / ".probe").string();
    if (const std::string problem = ec ? ec.message() : WriteProblem(probe); !problem.empty()) {
      err << who << ": cannot write in " << o.out << ": " << problem << "; nothing sent\n";
      return kExitFile;
    }
  }
  if (const int code = ApplyRequestOptions(request, o.request, clientCert, who, err);
      code != kExitOk) {
    return code;
  }
  if (o.request.tsas.empty() && request.get_TSAAddress()[0] == L'\0') {
    err << who << ": no TSA: give --tsa URL, or tsa = URL in " << UserSettingsPath() << "\n";
    return kExitUsage;
  }
  return kExitOk;
}

// Stamps the tree's root through the TSAs in turn (the request's options set), verifies the stamp
// unless --no-verify, and puts it under the tree. The URL that answered, or nothing with the exit
// code in `status` after the failure was told.
std::optional<std::string> StampTree(CEvidenceTree& tree, const std::string& oid, CRequest& request,
                                     const Options& o, const std::string& who, std::ostream& err,
                                     int& status) {
  const CBlob root = tree.Root();
  request.put_DataHashAlg(oid.c_str());
  request.put_DataHash(root.pbData(), root.cbData());
  const StampOutcome outcome = SendToTsas(request, o.request, who, err);
  if (outcome.stamp == nullptr) {
    if (!outcome.told) {
      outcome.failure.write(err, o.json);
    }
    status = outcome.exit;
    return std::nullopt;
  }
  const CBlob response = request.get_Response();
  tree.PutTimeStamp(response.pbData(), response.cbData());
  return outcome.answeredBy;
}

// The paths of --files-from: one a line, or NUL-separated with -0; "-" is standard input.
bool ListedFiles(const Options& o, std::vector<std::string>& files, std::ostream& err) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (o.filesFrom != "-") {
    file.open(o.filesFrom, std::ios::binary);
    if (!file) {
      err << "horodex ers stamp: " << CannotRead(o.filesFrom) << "\n";
      return false;
    }
    in = &file;
  }
  std::string path;
  while (std::getline(*in, path, o.nulSeparated ? '\0' : '\n')) {
    if (!path.empty()) {
      files.push_back(path);
    }
  }
  return true;
}

int Stamp(const Options& given, std::ostream& out, std::ostream& err) {
  Options o = given;
  if (!o.filesFrom.empty() && !ListedFiles(o, o.operands, err)) {
    return kExitFile;
  }
  if (o.operands.empty() || o.out.empty()) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  const std::string oid = o.hash.empty() ? kSha256 : HashOid(o.hash);
  if (oid.empty()) {
    err << "horodex ers stamp: unknown hash algorithm " << o.hash << "\n";
    return kExitUsage;
  }
  WarnWeakHash(oid, "ers stamp", err);
  // Every record's name is its file's: two files of one name are refused before anything is sent.
  std::map<std::string, std::string> names;
  for (const std::string& path : o.operands) {
    const std::string name = fs::path(path).filename().string();
    const auto [it, fresh] = names.emplace(name, path);
    if (!fresh) {
      err << "horodex ers stamp: " << path << " and " << it->second << " would both be written to "
          << (fs::path(o.out) / (name + ".ers")).string() << "\n";
      return kExitUsage;
    }
  }
  CRequest request;
  CertContextPtr clientCert;
  if (const int code = PrepareRequest("stamp", o, request, clientCert, err); code != kExitOk) {
    return code;
  }
  // Hash the files in parallel, at most one thread per core; the first failure stops the batch.
  CEvidenceTree tree(oid.c_str());
  const std::size_t count = o.operands.size();
  std::vector<CBlob> hashes(count);
  std::atomic<std::size_t> next{0}, done{0};
  std::atomic<bool> failed{false};
  std::mutex failure;
  std::string failureText;
  const bool terminal = isatty(STDERR_FILENO) == 1 && count > 1;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < std::min<std::size_t>(cores, count); ++t) {
    workers.emplace_back([&] {
      for (std::size_t i = next++; i < count && !failed; i = next++) {
        const std::optional<std::vector<unsigned char>> data = ReadFileBytes(o.operands[i]);
        if (!data) {
          const std::lock_guard<std::mutex> lock(failure);
          if (!failed.exchange(true)) {
            failureText = CannotRead(o.operands[i]);
          }
          return;
        }
        hashes[i] = EvidenceHash(oid.c_str(), data->data(), data->size());
        ++done;
      }
    });
  }
  while (terminal && done < count && !failed) {
    err << "\rhashing " << done << "/" << count << std::flush;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  if (terminal) {
    err << "\rhashed " << done << "/" << count << "\n";
  }
  if (failed) {
    err << "horodex ers stamp: " << failureText << "; nothing sent\n";
    return kExitFile;
  }
  for (const CBlob& hash : hashes) {
    tree.AddHash(hash.pbData(), hash.cbData());
  }
  int status = 0;
  const std::optional<std::string> url =
      StampTree(tree, oid, request, o, "horodex ers stamp", err, status);
  if (!url) {
    if (!o.json) {  // the failure's JSON object says so
      err << "horodex ers stamp: no record written\n";
    }
    return status;
  }
  std::error_code ec;
  fs::create_directories(o.out, ec);
  bool written = true;
  tree.ForEachRecord([&](std::size_t i, const unsigned char* der, std::size_t size) {
    const fs::path path = fs::path(o.out) / (fs::path(o.operands[i]).filename().string() + ".ers");
    if (written && !WriteAtomically(path.string(), der, size)) {
      err << "horodex ers stamp: " << CannotWrite(path.string()) << "\n";
      written = false;
    }
  });
  if (!written) {
    return kExitFile;
  }
  if (o.json) {
    out << "{\"stamped\": " << count << ", \"tsa\": " << JsonQuote(*url)
        << ", \"records\": " << JsonQuote(o.out) << "}\n";
  } else {
    out << "stamped " << count << (count == 1 ? " file" : " files") << " under one time stamp from "
        << *url << "; records in " << o.out << "\n";
  }
  return kExitOk;
}

int ExitOf(const std::string& part, P::HRESULT hr) {
  if (part == "record") {
    return kExitBadMessage;
  }
  if (part.ends_with("path")) {
    return hr == P::NTE_BAD_ALGID ? kExitBadMessage : kExitStampMismatch;
  }
  if (part.ends_with("signature")) {
    return hr == P::CRYPT_E_NOT_FOUND ? kExitNoTsaCertificate : kExitBadSignature;
  }
  if (part.ends_with("TSA chain")) {
    return kExitChainRefused;
  }
  return kExitNotVerified;  // order
}

int Verify(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.operands.empty() || o.dataFiles.size() != 1) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  if (!TrustRoots("verify", o, err)) {
    return kExitFile;
  }
  const std::optional<std::vector<unsigned char>> data = ReadFileBytes(o.dataFiles[0]);
  if (!data) {
    err << "horodex ers verify: " << CannotRead(o.dataFiles[0]) << "\n";
    return kExitFile;
  }
  int status = kExitOk;
  for (const std::string& path : o.operands) {
    const std::optional<std::vector<unsigned char>> record = ReadFileBytes(path);
    if (!record) {
      err << "horodex ers verify: " << CannotRead(path) << "\n";
      status = status == kExitOk ? kExitFile : status;
      continue;
    }
    const CEvidenceReport report =
        VerifyEvidenceRecordData(record->data(), static_cast<unsigned long>(record->size()),
                                 data->data(), data->size(), nullptr, 0);
    int own = kExitOk;
    for (const CEvidenceCheck& check : report.checks) {
      if (check.result != 0 && own == kExitOk) {
        own = ExitOf(check.part, check.result);
      }
    }
    if (o.json) {
      out << "{\"record\": " << JsonQuote(path) << ", \"data\": " << JsonQuote(o.dataFiles[0])
          << ", \"exit\": " << own << ", \"checks\": [";
      for (std::size_t i = 0; i < report.checks.size(); ++i) {
        const CEvidenceCheck& check = report.checks[i];
        out << (i ? ", " : "") << "{\"check\": " << JsonQuote(check.part)
            << ", \"ok\": " << (check.result == 0 ? "true" : "false")
            << ", \"error\": " << (check.result != 0 ? JsonQuote(ErrorText(check.result)) : "null")
            << ", \"detail\": " << JsonQuoteOrNull(check.detail) << "}";
      }
      out << "]}\n";
    } else {
      out << path << ":\n";
      for (const CEvidenceCheck& check : report.checks) {
        out << "  " << check.part << ": "
            << (check.result == 0 ? "ok" : "FAILED " + ErrorText(check.result));
        if (!check.detail.empty()) {
          out << " (" << check.detail << ")";
        }
        out << "\n";
      }
      out << (own == kExitOk
                  ? "  verified: " + o.dataFiles[0] + " existed at the first stamp's time\n"
                  : "  not verified\n");
    }
    if (status == kExitOk) {
      status = own;
    }
  }
  return status;
}

int Renew(const Options& given, std::ostream& out, std::ostream& err) {
  Options o = given;
  if (o.operands.empty() || (!o.hash.empty() && o.dataFiles.size() != o.operands.size()) ||
      (o.hash.empty() && !o.dataFiles.empty())) {
    err << "horodex ers renew: RECORD... --tsa URL, and with --hash ALG one --data FILE per "
           "record\n"
        << CommandHelp("ers");
    return kExitUsage;
  }
  std::vector<std::vector<unsigned char>> records;
  for (const std::string& path : o.operands) {
    std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(path);
    if (!bytes) {
      err << "horodex ers renew: " << CannotRead(path) << "\n";
      return kExitFile;
    }
    records.push_back(std::move(*bytes));
  }
  CRequest request;
  CertContextPtr clientCert;
  if (const int code = PrepareRequest("renew", o, request, clientCert, err); code != kExitOk) {
    return code;
  }
  std::string oid;
  try {
    if (o.hash.empty()) {
      // Timestamp renewal keeps the algorithm of the record's last chain.
      ERS::CEvidenceRecord first;
      first.decode(CBlob(records[0]));
      const ERS::CArchiveTimeStamp& stamp =
          first.get_sequence().get_chains().back().get_items().front();
      oid = stamp.get_digestAlgorithm() != nullptr
                ? stamp.get_digestAlgorithm()->get_algorithm()
                : stamp.get_timeStamp().get_hashAlgorithm().get_algorithm();
    } else {
      oid = HashOid(o.hash);
      if (oid.empty()) {
        err << "horodex ers renew: unknown hash algorithm " << o.hash << "\n";
        return kExitUsage;
      }
    }
    CEvidenceTree tree(oid.c_str());
    for (std::size_t i = 0; i < records.size(); ++i) {
      const auto size = static_cast<unsigned long>(records[i].size());
      try {
        if (o.hash.empty()) {
          tree.AddTimeStampRenewal(records[i].data(), size);
        } else {
          const std::optional<std::vector<unsigned char>> data = ReadFileBytes(o.dataFiles[i]);
          if (!data) {
            err << "horodex ers renew: " << CannotRead(o.dataFiles[i]) << "; nothing sent\n";
            return kExitFile;
          }
          const CBlob hash = EvidenceHash(oid.c_str(), data->data(), data->size());
          tree.AddHashTreeRenewal(records[i].data(), size, &hash, 1);
        }
      } catch (const P::CAtlException& e) {
        err << "horodex ers renew: " << o.operands[i] << ": " << ErrorText(e.hr())
            << "; nothing sent\n";
        return kExitBadMessage;
      }
    }
    int status = 0;
    const std::optional<std::string> url =
        StampTree(tree, oid, request, o, "horodex ers renew", err, status);
    if (!url) {
      if (!o.json) {  // the failure's JSON object says so
        err << "horodex ers renew: no record renewed\n";
      }
      return status;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
      const CBlob renewed = tree.Record(i);
      const fs::path target = o.out.empty() ? fs::path(o.operands[i])
                                            : fs::path(o.out) / fs::path(o.operands[i]).filename();
      if (!WriteAtomically(target.string(), renewed.pbData(), renewed.cbData())) {
        err << "horodex ers renew: " << CannotWrite(target.string()) << "\n";
        return kExitFile;
      }
      const std::string how = o.hash.empty() ? "time stamp" : "hash tree (" + o.hash + ")";
      if (o.json) {
        out << "{\"record\": " << JsonQuote(target.string()) << ", \"renewed\": " << JsonQuote(how)
            << ", \"tsa\": " << JsonQuote(*url) << "}\n";
      } else {
        out << target.string() << ": renewed by " << how << " from " << *url << "\n";
      }
    }
  } catch (const P::CAtlException& e) {
    err << "horodex ers renew: " << ErrorText(e.hr()) << "\n";
    return kExitBadMessage;
  }
  return kExitOk;
}

std::string Hex(const CBlob& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (const unsigned char b : bytes.bytes()) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

int Show(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.operands.size() != 1) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  const std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(o.operands[0]);
  if (!bytes) {
    err << "horodex ers show: " << CannotRead(o.operands[0]) << "\n";
    return kExitFile;
  }
  ERS::CEvidenceRecord record;
  try {
    record.decode(CBlob(*bytes));
  } catch (const P::CAtlException& e) {
    err << "horodex ers show: " << o.operands[0] << ": " << ErrorText(e.hr()) << "\n";
    return kExitBadMessage;
  }
  std::string algorithms;
  for (const auto& algorithm : record.get_digestAlgorithms()) {
    algorithms += (algorithms.empty() ? "" : ", ") + std::string(algorithm.get_algorithm());
  }
  const auto& chains = record.get_sequence().get_chains();
  if (o.json) {
    out << "{\"type\": \"EvidenceRecord\", \"version\": 1, \"digestAlgorithms\": [";
    for (std::size_t i = 0; i < record.get_digestAlgorithms().size(); ++i) {
      out << (i ? ", " : "") << JsonAlgorithm(record.get_digestAlgorithms()[i].get_algorithm());
    }
    out << "], \"chains\": [";
  } else {
    out << "Evidence record (RFC 4998), version 1\n  digest algorithms: " << algorithms << "\n";
  }
  for (std::size_t c = 0; c < chains.size(); ++c) {
    const auto& items = chains[c].get_items();
    if (o.json) {
      out << (c ? ", " : "") << "[";
    } else {
      out << "  chain " << c + 1 << ":\n";
    }
    for (std::size_t s = 0; s < items.size(); ++s) {
      const ERS::CArchiveTimeStamp& stamp = items[s];
      const auto& token = stamp.get_timeStamp();
      const std::string algorithm = stamp.get_digestAlgorithm() != nullptr
                                        ? stamp.get_digestAlgorithm()->get_algorithm()
                                        : token.get_hashAlgorithm().get_algorithm();
      const std::string genTime = JsonTime(token.get_genTime());
      if (o.json) {
        out << (s ? ", " : "") << "{\"hashAlgorithm\": " << JsonAlgorithm(algorithm)
            << ", \"treeLevels\": " << stamp.get_reducedHashtree().size()
            << ", \"genTime\": " << JsonQuote(genTime)
            << ", \"policy\": " << JsonQuoteOrNull(token.get_policy())
            << ", \"imprint\": " << JsonQuote(Hex(token.get_hashedMessage())) << "}";
      } else {
        out << "    stamp " << s + 1 << ": genTime " << genTime << ", " << algorithm << ", "
            << stamp.get_reducedHashtree().size() << " tree levels, imprint "
            << Hex(token.get_hashedMessage()) << ", policy " << token.get_policy() << "\n";
      }
    }
    if (o.json) {
      out << "]";
    }
  }
  if (o.json) {
    out << "]}\n";
  }
  return kExitOk;
}

}  // namespace

bool IsEvidenceCommand(const std::string& command, const std::vector<std::string>& args) {
  if (command == "stamp") {
    return std::find(args.begin(), args.end(), "--evidence") != args.end();
  }
  if (command == "verify" || command == "show") {
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i].empty() || args[i][0] == '-') {
        if (TakesValue(command, args[i])) {
          ++i;
        }
        continue;
      }
      return args[i].ends_with(".ers");
    }
  }
  return false;
}

int RunErs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  const std::string& command = args[0];
  std::vector<std::string> rest;
  for (const std::string& arg : args) {
    if (arg != "--evidence") {
      rest.push_back(arg);
    }
  }
  Options o;
  if (!Parse(command, rest, o, err)) {
    return kExitUsage;
  }
  try {
    if (command == "stamp") {
      return Stamp(o, out, err);
    }
    if (command == "verify") {
      return Verify(o, out, err);
    }
    if (command == "renew") {
      return Renew(o, out, err);
    }
    if (command == "show") {
      return Show(o, out, err);
    }
  } catch (const P::CAtlException& e) {
    err << "horodex ers " << command << ": " << ErrorText(e.hr()) << "\n";
    return kExitBadMessage;
  }
  err << "horodex ers: unknown subcommand '" << command << "'\n" << CommandHelp("ers");
  return kExitUsage;
}

}  // namespace Horodex
