// Runs a proxy auto-configuration script in an ECMAScript engine (duktape) that offers the
// script nothing but the language and the standard helper functions: no files, no network
// except name resolution through dnsResolve and its kin, a bounded heap.
#pragma once

#include <cstdio>

namespace Horodex::ProxyHelper {

// The conversation of `horodex-proxy-helper pac`: the script first, answered with "OK",
// "SYNTAX <message>", "NOFUNC" or "ERROR <message>"; then any number of "URL\nHOST" questions,
// each answered "ANSWER <text>", "TYPE <type of a non-text result>" or "ERROR <message>".
// Returns the process's exit status.
int RunPacEngine(std::FILE* in, std::FILE* out);

}  // namespace Horodex::ProxyHelper
