// FreeWith<Free>: the deleter of a std::unique_ptr that owns an object of a C library (OpenSSL,
// libcurl ...) and releases it with that library's own free function:
//   using X509Ptr = std::unique_ptr<X509, Velmora::Platform::FreeWith<X509_free>>;
#pragma once

namespace Velmora::Platform {

template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* handle) const noexcept {
    Free(handle);
  }
};

}  // namespace Velmora::Platform
