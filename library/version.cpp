// The library's version, compiled into libhorodex.so.1 itself.
namespace Velmora::Support {
extern "C" const char* HorodexVersion() {
  return HORODEX_VERSION_TEXT;
}
}  // namespace Velmora::Support
