// ers stamp: the files hashed in parallel into one tree, its root stamped, a record per file.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "horodex/EvidenceRecord.h"
#include "tools/horodex/ers_report.h"
#include "tools/horodex/ers_root_stamp.h"
#include "tools/horodex/ers_subcommands.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/help_text.h"

namespace Horodex {

namespace fs = std::filesystem;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

namespace {

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

// The paths of --files-from: one a line, or NUL-separated with -0; "-" is standard input.
bool ListedFiles(const ErsOptions& o, std::vector<std::string>& files, std::ostream& err) {
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

// The hashes of the files, read in parallel, at most one thread per core, with the count on a
// terminal; the first failure stops the batch and is told.
std::optional<std::vector<CBlob>> HashInParallel(const std::string& oid,
                                                 const std::vector<std::string>& paths,
                                                 std::ostream& err) {
  const std::size_t count = paths.size();
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
        const std::optional<std::vector<unsigned char>> data = ReadFileBytes(paths[i]);
        if (!data) {
          const std::lock_guard<std::mutex> lock(failure);
          if (!failed.exchange(true)) {
            failureText = CannotRead(paths[i]);
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
    return std::nullopt;
  }
  return hashes;
}

}  // namespace

int StampRecords(const ErsOptions& given, std::ostream& out, std::ostream& err) {
  ErsOptions o = given;
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
  if (const int code = PrepareErsRequest("stamp", o, request, clientCert, err); code != kExitOk) {
    return code;
  }
  CEvidenceTree tree(oid.c_str());
  const std::optional<std::vector<CBlob>> hashes = HashInParallel(oid, o.operands, err);
  if (!hashes) {
    return kExitFile;
  }
  for (const CBlob& hash : *hashes) {
    tree.AddHash(hash.pbData(), hash.cbData());
  }
  int status = 0;
  const std::optional<std::string> url =
      StampTreeRoot(tree, oid, request, o, "horodex ers stamp", "no record written", err, status);
  if (!url) {
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
  WriteStamped(o.operands.size(), *url, o.out, o.json, out);
  return kExitOk;
}

}  // namespace Horodex
