// What the ers commands print, as text and as JSON: the records a stamp wrote, a record's checks
// against its data, a renewed record, and a record's chains of archive time stamps.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "codec/evidence/evidence_record.h"
#include "horodex/EvidenceRecord.h"

namespace Horodex {

void WriteStamped(std::size_t count, const std::string& url, const std::string& folder, bool json,
                  std::ostream& out);

// `exit` is the record's own exit status.
void WriteRecordChecks(const std::string& record, const std::string& data, int exit,
                       const Velmora::PKI::TSP::Client::CEvidenceReport& report, bool json,
                       std::ostream& out);

// `how`: "time stamp" or "hash tree (ALG)".
void WriteRenewed(const std::string& record, const std::string& how, const std::string& url,
                  bool json, std::ostream& out);

void WriteRecord(const Velmora::PKI::ERS::CEvidenceRecord& record, bool json, std::ostream& out);

// The hash algorithm an archive time stamp's tree uses: its own, else its token's imprint's.
std::string TreeAlgorithm(const Velmora::PKI::ERS::CArchiveTimeStamp& stamp);

}  // namespace Horodex
