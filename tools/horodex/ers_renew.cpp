// ers renew: records renewed by a new time stamp over their last, or by a new hash tree.
#include <filesystem>
#include <optional>
#include <vector>

#include "codec/evidence/evidence_record.h"
#include "horodex/EvidenceRecord.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/ers_report.h"
#include "tools/horodex/ers_root_stamp.h"
#include "tools/horodex/ers_subcommands.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/help_text.h"

namespace Horodex {

namespace P = Velmora::Platform;
namespace ERS = Velmora::PKI::ERS;
namespace fs = std::filesystem;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

int RenewRecords(const ErsOptions& given, std::ostream& out, std::ostream& err) {
  ErsOptions o = given;
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
  if (const int code = PrepareErsRequest("renew", o, request, clientCert, err); code != kExitOk) {
    return code;
  }
  std::string oid;
  try {
    if (o.hash.empty()) {
      // Timestamp renewal keeps the algorithm of the record's last chain.
      ERS::CEvidenceRecord first;
      first.decode(CBlob(records[0]));
      oid = TreeAlgorithm(first.get_sequence().get_chains().back().get_items().front());
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
        StampTreeRoot(tree, oid, request, o, "horodex ers renew", "no record renewed", err, status);
    if (!url) {
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
      WriteRenewed(target.string(), how, *url, o.json, out);
    }
  } catch (const P::CAtlException& e) {
    err << "horodex ers renew: " << ErrorText(e.hr()) << "\n";
    return kExitBadMessage;
  }
  return kExitOk;
}

}  // namespace Horodex
