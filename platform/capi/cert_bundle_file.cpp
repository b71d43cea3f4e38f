#include "platform/capi/cert_bundle_file.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>

#include "platform/base/free_with.h"

namespace Velmora::Platform::Capi {

std::vector<BundleObject> ReadBundleObjects(std::span<const BYTE> bytes) {
  static constexpr char kPem[] = "-----BEGIN ";
  if (std::search(bytes.begin(), bytes.end(), kPem, kPem + sizeof kPem - 1) == bytes.end()) {
    return {BundleObject{{}, std::vector<BYTE>(bytes.begin(), bytes.end())}};
  }
  const std::unique_ptr<BIO, FreeWith<BIO_free>> bio(
      BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) {
    throw std::bad_alloc();
  }
  std::vector<BundleObject> objects;
  char* name = nullptr;
  char* header = nullptr;
  unsigned char* data = nullptr;
  long length = 0;
  while (PEM_read_bio(bio.get(), &name, &header, &data, &length) == 1) {
    objects.push_back(BundleObject{name, std::vector<BYTE>(data, data + length)});
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
  }
  ERR_clear_error();  // the end of the text
  return objects;
}

std::error_code ReadBundleFile(const std::filesystem::path& path, std::uintmax_t limit,
                               std::vector<BYTE>& bytes) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    return error;
  }
  if (size > limit) {
    return std::make_error_code(std::errc::file_too_large);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::error_code(errno != 0 ? errno : EACCES, std::generic_category());
  }
  // One read of the size the file had (the system bundle is a few hundred KiB: reading it a
  // character at a time cost more than the rest of a verification); a file that grew meanwhile
  // is read to its end.
  bytes.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    return std::make_error_code(std::errc::io_error);
  }
  if (in) {
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (bytes.size() > limit) {
    return std::make_error_code(std::errc::file_too_large);
  }
  return {};
}

}  // namespace Velmora::Platform::Capi
