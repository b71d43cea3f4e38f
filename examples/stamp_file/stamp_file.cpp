// stamp_file FILE URL: hashes FILE with SHA-256, gets a time stamp for it from the TSA at URL,
// verifies the stamp (signature and the TSA's certificate chain to a trusted root) and prints
// its time. The TSA's root is trusted when it is in the system's trust store or in
// $XDG_DATA_HOME/velmora/certstores/Root/.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "horodex/Errors.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: stamp_file FILE URL\n");
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "stamp_file: cannot open %s\n", argv[1]);
    return 1;
  }
  try {
    Velmora::PKI::TSP::Client::CRequest request;
    request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");  // SHA-256
    request.put_CertReq(true);  // the TSA's certificate comes with the stamp, to verify it
    std::vector<unsigned char> piece(1 << 16);
    request.AddData(nullptr, 0);  // an empty file has a hash too
    while (in.read(reinterpret_cast<char*>(piece.data()), static_cast<long>(piece.size())) ||
           in.gcount() > 0) {
      request.AddData(piece.data(), static_cast<unsigned long>(in.gcount()));
    }
    const std::string url = argv[2];
    request.put_TSAAddress(std::wstring(url.begin(), url.end()).c_str());

    const Velmora::PKI::TSP::Client::CStamp& stamp = request.Send(true);

    const Velmora::CDateTime& time = stamp.get_Time();
    const std::time_t seconds = static_cast<std::time_t>(time.seconds());
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    std::printf("%04d-%02d-%02dT%02d:%02d:%02d.%06uZ\n", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<unsigned>(time.microseconds()));
    return 0;
  } catch (const Velmora::Platform::CAtlException& e) {
    std::fprintf(stderr, "stamp_file: 0x%08X %s\n", static_cast<unsigned>(e.hr()),
                 Velmora::Support::GetErrorMessageNarrow(e.hr()).c_str());
    return 2;
  }
}
