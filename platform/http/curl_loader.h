// libcurl opened on first use (see curl_loader.cpp): the HTTP layer calls libcurl's functions as
// usual, and the first call maps the library.
#pragma once

namespace Velmora::Platform {

// Opens libcurl if it is not open yet; whether it and every function the layer calls are there.
bool CurlLoaded() noexcept;

// libcurl's version ("8.14.1"), loading it; null when it cannot be loaded.
const char* CurlVersionText() noexcept;

}  // namespace Velmora::Platform
