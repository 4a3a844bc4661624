#pragma once
// The package: a plain gzip stream (RFC 1952) of an archive's bytes, made
// and read with zlib's gzip file functions at the default level.
//
// Each failure writes one line to the log before its code is returned; a
// partial target stays on disk.

#include <string>

#include "platform/log_sink.h"

namespace skiv {

inline constexpr int kPkgCannotOpenFile = 1005;  // plain file cannot be opened
inline constexpr int kPkgCannotOpenGzip = 1006;  // gzip file cannot be opened
inline constexpr int kPkgReadFailed = 1007;      // reading the source failed
inline constexpr int kPkgGzWriteFailed = 1008;   // writing compressed data failed
inline constexpr int kPkgWriteFailed = 1013;     // writing the decompressed file failed
inline constexpr int kPkgGzReadFailed = 1014;    // reading compressed data failed

// 0, 1005, 1006, 1007 or 1008.
int CompressFile(const std::string& source, const std::string& target, LogSink& log);
// 0, 1005, 1006, 1013 or 1014. Data that is not gzip is copied unchanged.
int DecompressFile(const std::string& source, const std::string& target, LogSink& log);

}  // namespace skiv
