// Why a path cannot be read or written, in the system's own words ("Is a directory", "No such
// file or directory", "Permission denied"), for messages that name the file and the reason.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"

namespace Horodex {

// The reason `path` cannot be read as a file; empty when it can ("-" is standard input).
std::string ReadProblem(const std::string& path);
// The reason `path` cannot be written as a file (a folder, a missing or read-only folder, a
// read-only file); empty when it can ("-" is standard output). Nothing is created.
std::string WriteProblem(const std::string& path);

// "cannot read PATH: REASON" and "cannot write PATH: REASON"; `fallback` is the reason when the
// system gives none (the file went away, or what failed was its content).
std::string CannotRead(const std::string& path, const std::string& fallback = "read error");
std::string CannotWrite(const std::string& path, const std::string& fallback = "write error");

// Checks an output path before any work is done: 0 when it can be written and names none of the
// inputs; else the exit code after a message that starts with `who` ("horodex stamp").
int CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                const std::string& who, std::ostream& err);

// Writes the bytes to the file, or to standard output for "-"; false when they could not all be
// written. A file is written whole or not at all (WriteAtomically).
bool WriteOutput(const std::string& output, const Velmora::CBlob& bytes);
// Writes `size` bytes to `path` through a temporary file beside it, renamed over `path` once
// complete: a reader sees the old file or the new one, never a part; false on any failure, with
// the temporary file removed.
bool WriteAtomically(const std::string& path, const unsigned char* bytes, std::size_t size);
// The whole file's bytes; nothing when it cannot be opened or read.
std::optional<std::vector<unsigned char>> ReadFileBytes(const std::string& path);

// Whether `a` and `b` name the same existing file (hard links and other spellings included).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace Horodex
