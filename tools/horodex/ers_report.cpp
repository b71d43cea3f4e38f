// What the ers commands print, as text and as JSON (through FieldList).
#include "tools/horodex/ers_report.h"

#include <cstdint>
#include <vector>

#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/time_text.h"

namespace Horodex {

namespace ERS = Velmora::PKI::ERS;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CEvidenceCheck;
using Velmora::PKI::TSP::Client::CEvidenceReport;

namespace {

std::string Hex(const CBlob& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (const unsigned char b : bytes.bytes()) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

void WriteRecordText(const ERS::CEvidenceRecord& record, std::ostream& out) {
  std::string algorithms;
  for (const auto& algorithm : record.get_digestAlgorithms()) {
    algorithms += (algorithms.empty() ? "" : ", ") + std::string(algorithm.get_algorithm());
  }
  out << "Evidence record (RFC 4998), version 1\n  digest algorithms: " << algorithms << "\n";
  const auto& chains = record.get_sequence().get_chains();
  for (std::size_t c = 0; c < chains.size(); ++c) {
    out << "  chain " << c + 1 << ":\n";
    const auto& items = chains[c].get_items();
    for (std::size_t s = 0; s < items.size(); ++s) {
      const auto& token = items[s].get_timeStamp();
      out << "    stamp " << s + 1 << ": genTime " << JsonTime(token.get_genTime()) << ", "
          << TreeAlgorithm(items[s]) << ", " << items[s].get_reducedHashtree().size()
          << " tree levels, imprint " << Hex(token.get_hashedMessage()) << ", policy "
          << token.get_policy() << "\n";
    }
  }
}

void WriteRecordJson(const ERS::CEvidenceRecord& record, std::ostream& out) {
  std::vector<std::string> algorithms, chains;
  for (const auto& algorithm : record.get_digestAlgorithms()) {
    algorithms.push_back(JsonAlgorithm(algorithm.get_algorithm()));
  }
  for (const auto& chain : record.get_sequence().get_chains()) {
    std::vector<std::string> stamps;
    for (const ERS::CArchiveTimeStamp& stamp : chain.get_items()) {
      const auto& token = stamp.get_timeStamp();
      FieldList fields;
      fields.algorithm("hashAlgorithm", "", TreeAlgorithm(stamp));
      fields.number("treeLevels", "",
                    static_cast<std::int64_t>(stamp.get_reducedHashtree().size()));
      fields.text("genTime", "", JsonTime(token.get_genTime()));
      fields.optionalText("policy", "", token.get_policy());
      fields.text("imprint", "", Hex(token.get_hashedMessage()));
      stamps.push_back(fields.json());
    }
    chains.push_back(JsonArray(stamps));
  }
  FieldList fields;
  fields.text("type", "", "EvidenceRecord");
  fields.number("version", "", 1);
  fields.jsonMember("digestAlgorithms", JsonArray(algorithms));
  fields.jsonMember("chains", JsonArray(chains));
  fields.writeJson(out);
}

}  // namespace

void WriteStamped(std::size_t count, const std::string& url, const std::string& folder, bool json,
                  std::ostream& out) {
  if (json) {
    FieldList fields;
    fields.number("stamped", "", static_cast<std::int64_t>(count));
    fields.text("tsa", "", url);
    fields.text("records", "", folder);
    fields.writeJson(out);
  } else {
    out << "stamped " << count << (count == 1 ? " file" : " files") << " under one time stamp from "
        << url << "; records in " << folder << "\n";
  }
}

void WriteRecordChecks(const std::string& record, const std::string& data, int exit,
                       const CEvidenceReport& report, bool json, std::ostream& out) {
  if (json) {
    std::vector<std::string> checks;
    for (const CEvidenceCheck& check : report.checks) {
      FieldList fields;
      fields.text("check", "", check.part);
      fields.flag("ok", "", check.result == 0);
      if (check.result != 0) {
        fields.text("error", "", ErrorText(check.result));
      } else {
        fields.absent("error", "");
      }
      fields.optionalText("detail", "", check.detail);
      checks.push_back(fields.json());
    }
    FieldList fields;
    fields.text("record", "", record);
    fields.text("data", "", data);
    fields.number("exit", "", exit);
    fields.jsonMember("checks", JsonArray(checks));
    fields.writeJson(out);
    return;
  }
  out << record << ":\n";
  for (const CEvidenceCheck& check : report.checks) {
    out << "  " << check.part << ": "
        << (check.result == 0 ? "ok" : "FAILED " + ErrorText(check.result));
    if (!check.detail.empty()) {
      out << " (" << check.detail << ")";
    }
    out << "\n";
  }
  out << (exit == kExitOk ? "  verified: " + data + " existed at the first stamp's time\n"
                          : "  not verified\n");
}

void WriteRenewed(const std::string& record, const std::string& how, const std::string& url,
                  bool json, std::ostream& out) {
  if (json) {
    FieldList fields;
    fields.text("record", "", record);
    fields.text("renewed", "", how);
    fields.text("tsa", "", url);
    fields.writeJson(out);
  } else {
    out << record << ": renewed by " << how << " from " << url << "\n";
  }
}

void WriteRecord(const ERS::CEvidenceRecord& record, bool json, std::ostream& out) {
  json ? WriteRecordJson(record, out) : WriteRecordText(record, out);
}

std::string TreeAlgorithm(const ERS::CArchiveTimeStamp& stamp) {
  return stamp.get_digestAlgorithm() != nullptr
             ? stamp.get_digestAlgorithm()->get_algorithm()
             : stamp.get_timeStamp().get_hashAlgorithm().get_algorithm();
}

}  // namespace Horodex
