#pragma once
// The package: a plain gzip stream (RFC 1952) of an archive's bytes, made
// and read with zlib's gzip file functions at the default level.
//
// Each failure writes one line to the log before its code is returned; a
// partial target stays on disk.

#include <string>

#include "platform/log_sink.h"
#include "platform/result_codes.h"

namespace skiv {

// Ok, CannotOpenFile (the source), CannotOpenGzip (the target), ReadFailed
// or GzWriteFailed.
ResultCode CompressFile(const std::string& source, const std::string& target, LogSink& log);
// Ok, CannotOpenGzip (the source), CannotOpenFile (the target), WriteFailed
// or GzReadFailed. Data that is not gzip is copied unchanged.
ResultCode DecompressFile(const std::string& source, const std::string& target, LogSink& log);

}  // namespace skiv
