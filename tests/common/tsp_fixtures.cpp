#include "tests/common/tsp_fixtures.h"

#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "tests/common/scratch.h"

namespace Velmora::Testing {

CBlob ToBlob(const std::vector<unsigned char>& bytes) {
  return CBlob(std::span<const unsigned char>(bytes));
}

ContextPtr ContextOf(const CBlob& der) {
  return ContextPtr(Platform::CertCreateCertificateContext(
      Platform::X509_ASN_ENCODING, der.pbData(), static_cast<Platform::DWORD>(der.cbData())));
}

CDateTime GeneralizedTimeInstant(const std::string& text) {
  std::tm tm{};
  tm.tm_year = std::stoi(text.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(text.substr(4, 2)) - 1;
  tm.tm_mday = std::stoi(text.substr(6, 2));
  tm.tm_hour = std::stoi(text.substr(8, 2));
  tm.tm_min = std::stoi(text.substr(10, 2));
  tm.tm_sec = std::stoi(text.substr(12, 2));
  std::uint32_t micros = 0;
  if (text.size() > 15 && text[14] == '.') {
    std::string fraction = text.substr(15, text.size() - 16);
    fraction.resize(6, '0');
    micros = static_cast<std::uint32_t>(std::stoul(fraction));
  }
  return CDateTime(timegm(&tm), micros);
}

const std::filesystem::path& OpenSslTsaDir() {
  static std::unique_ptr<TempDir> dir;
  static std::once_flag once;
  std::call_once(once, [] {
    auto made = std::make_unique<TempDir>();
    const std::string script = std::string(HORODEX_SOURCE_DIR) + "/tests/data/openssl/make_tsa.sh";
    const CommandResult result =
        RunCommand("sh " + ShellQuote(script) + " " + ShellQuote(made->path().string()));
    if (result.exitCode != 0) {
      throw std::runtime_error("make_tsa.sh failed:\n" + result.output);
    }
    dir = std::move(made);
  });
  if (!dir) {
    throw std::runtime_error("the OpenSSL fixtures could not be made");
  }
  return dir->path();
}

CBlob OpenSslTsaFile(const std::string& name) {
  return ToBlob(ReadFileBytes(OpenSslTsaDir() / name));
}

std::filesystem::path InteropDir() {
  const char* override = std::getenv("HORODEX_INTEROP_DIR");
  const std::filesystem::path dir =
      override != nullptr && *override != '\0' ? override : HORODEX_INTEROP_DIR;
  if (!std::filesystem::is_regular_file(dir / "MANIFEST.md")) {
    throw std::runtime_error("the interop corpus is missing: no MANIFEST.md in " + dir.string());
  }
  return dir;
}

CBlob InteropFile(const std::string& relativePath) {
  return ToBlob(ReadFileBytes(InteropDir() / relativePath));
}

}  // namespace Velmora::Testing
