#include "tools/proxy-helper/pac_engine.h"

#include <arpa/inet.h>
#include <duktape.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/proxy-helper/frames.h"
#include "tools/proxy-helper/pac_functions.h"

namespace Horodex::ProxyHelper {

namespace {

constexpr std::size_t kMaxScriptBytes = 1u << 20;
constexpr std::size_t kMaxQuestionBytes = 64u << 10;
constexpr std::size_t kHeapLimit = 64u << 20;  // a script that allocates without end stops here

// The engine's allocator keeps a count of what the heap holds and refuses past the limit; the
// engine turns a refusal into a script error.
struct HeapCount {
  std::size_t used = 0;
};

void* Allocate(void* udata, duk_size_t size) {
  auto* count = static_cast<HeapCount*>(udata);
  if (size > kHeapLimit || count->used + size > kHeapLimit) {
    return nullptr;
  }
  auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
  if (block == nullptr) {
    return nullptr;
  }
  *block = size;
  count->used += size;
  return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}

void Release(void* udata, void* pointer) {
  if (pointer == nullptr) {
    return;
  }
  auto* block =
      reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::max_align_t));
  static_cast<HeapCount*>(udata)->used -= *block;
  std::free(block);
}

void* Reallocate(void* udata, void* pointer, duk_size_t size) {
  if (pointer == nullptr) {
    return Allocate(udata, size);
  }
  if (size == 0) {
    Release(udata, pointer);
    return nullptr;
  }
  const std::size_t old =
      *reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::max_align_t));
  void* fresh = Allocate(udata, size);
  if (fresh == nullptr) {
    return nullptr;
  }
  std::memcpy(fresh, pointer, old < size ? old : size);
  Release(udata, pointer);
  return fresh;
}

[[noreturn]] void Fatal(void*, const char* message) {
  std::fprintf(stderr, "horodex-proxy-helper: script engine failed: %s\n",
               message != nullptr ? message : "");
  std::_Exit(3);
}

struct HeapDeleter {
  void operator()(duk_context* context) const noexcept { duk_destroy_heap(context); }
};

std::vector<std::string> Addresses(const char* host, bool ipv4Only) {
  std::vector<std::string> found;
  addrinfo hints{};
  hints.ai_family = ipv4Only ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (host == nullptr || *host == '\0' || getaddrinfo(host, nullptr, &hints, &list) != 0) {
    return found;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* address =
        entry->ai_family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr)
            : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(entry->ai_addr)->sin6_addr);
    if (inet_ntop(entry->ai_family, address, text, sizeof text) != nullptr) {
      bool seen = false;
      for (const std::string& known : found) {
        seen = seen || known == text;
      }
      if (!seen) {
        found.emplace_back(text);
      }
    }
  }
  freeaddrinfo(list);
  return found;
}

std::vector<std::string> OwnAddresses(bool ipv4Only) {
  std::vector<std::string> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0 ||
          (entry->ifa_addr->sa_family != AF_INET &&
           (ipv4Only || entry->ifa_addr->sa_family != AF_INET6))) {
        continue;
      }
      char text[INET6_ADDRSTRLEN] = {};
      const void* address =
          entry->ifa_addr->sa_family == AF_INET
              ? static_cast<const void*>(
                    &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr)
              : static_cast<const void*>(
                    &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr);
      if (inet_ntop(entry->ifa_addr->sa_family, address, text, sizeof text) != nullptr) {
        found.emplace_back(text);
      }
    }
    freeifaddrs(list);
  }
  if (found.empty()) {
    found.emplace_back("127.0.0.1");
  }
  return found;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    out += (out.empty() ? "" : ";") + item;
  }
  return out;
}

duk_ret_t DnsResolve(duk_context* context) {
  const std::vector<std::string> found = Addresses(duk_safe_to_string(context, 0), true);
  if (found.empty()) {
    duk_push_null(context);
  } else {
    duk_push_string(context, found.front().c_str());
  }
  return 1;
}

duk_ret_t DnsResolveEx(duk_context* context) {
  duk_push_string(context, Joined(Addresses(duk_safe_to_string(context, 0), false)).c_str());
  return 1;
}

duk_ret_t MyIpAddress(duk_context* context) {
  duk_push_string(context, OwnAddresses(true).front().c_str());
  return 1;
}

duk_ret_t MyIpAddressEx(duk_context* context) {
  duk_push_string(context, Joined(OwnAddresses(false)).c_str());
  return 1;
}

// The error on top of the stack as one line of text.
std::string ErrorText(duk_context* context) {
  std::string text = duk_safe_to_string(context, -1);
  for (char& c : text) {
    c = c == '\n' || c == '\r' ? ' ' : c;
  }
  return text.substr(0, 512);
}

// Compiles and runs the script; the first answer of the conversation.
std::string LoadScript(duk_context* context, const std::string& script) {
  static const struct {
    const char* name;
    duk_c_function function;
    duk_idx_t arguments;
  } natives[] = {{"dnsResolve", DnsResolve, 1},
                 {"dnsResolveEx", DnsResolveEx, 1},
                 {"myIpAddress", MyIpAddress, 0},
                 {"myIpAddressEx", MyIpAddressEx, 0}};
  for (const auto& native : natives) {
    duk_push_c_function(context, native.function, native.arguments);
    duk_put_global_string(context, native.name);
  }
  if (duk_peval_string(context, kPacFunctions) != 0) {
    return "ERROR " + ErrorText(context);
  }
  duk_pop(context);
  if (script.find('\0') != std::string::npos) {
    return "SYNTAX the script holds a NUL character";
  }
  duk_push_string(context, "proxy.pac");
  if (duk_pcompile_lstring_filename(context, 0, script.data(), script.size()) != 0) {
    return "SYNTAX " + ErrorText(context);
  }
  if (duk_pcall(context, 0) != 0) {
    return "ERROR " + ErrorText(context);
  }
  duk_pop(context);
  duk_get_global_string(context, "FindProxyForURL");
  const bool found = duk_is_function(context, -1) != 0;
  duk_pop(context);
  return found ? "OK" : "NOFUNC";
}

std::string Answer(duk_context* context, const std::string& question) {
  const std::size_t newline = question.find('\n');
  if (newline == std::string::npos) {
    return "ERROR malformed question";
  }
  duk_get_global_string(context, "FindProxyForURL");
  duk_push_lstring(context, question.data(), newline);
  duk_push_lstring(context, question.data() + newline + 1, question.size() - newline - 1);
  if (duk_pcall(context, 2) != 0) {
    std::string error = "ERROR " + ErrorText(context);
    duk_pop(context);
    return error;
  }
  std::string answer;
  if (duk_is_string(context, -1)) {
    duk_size_t length = 0;
    const char* text = duk_get_lstring(context, -1, &length);
    answer = "ANSWER " + std::string(text, length);
  } else {
    static const char* const kTypes[] = {"none",   "undefined", "null",   "boolean", "number",
                                         "string", "object",    "buffer", "pointer", "lightfunc"};
    const duk_int_t type = duk_get_type(context, -1);
    answer =
        std::string("TYPE ") +
        (type >= 0 && type < static_cast<duk_int_t>(std::size(kTypes)) ? kTypes[type] : "unknown");
  }
  duk_pop(context);
  return answer;
}

}  // namespace

int RunPacEngine(std::FILE* in, std::FILE* out) {
  const std::optional<std::string> script = ReadFrame(in, kMaxScriptBytes);
  if (!script) {
    return 2;
  }
  HeapCount count;
  std::unique_ptr<duk_context, HeapDeleter> context(
      duk_create_heap(Allocate, Reallocate, Release, &count, Fatal));
  if (!context) {
    WriteFrame(out, "ERROR the script engine could not start");
    return 3;
  }
  const std::string loaded = LoadScript(context.get(), *script);
  if (!WriteFrame(out, loaded) || loaded != "OK") {
    return 0;
  }
  while (const std::optional<std::string> question = ReadFrame(in, kMaxQuestionBytes)) {
    if (!WriteFrame(out, Answer(context.get(), *question))) {
      break;
    }
  }
  return 0;
}

}  // namespace Horodex::ProxyHelper
