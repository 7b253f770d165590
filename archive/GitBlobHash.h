#pragma once
// Git blob hashing: SHA-1 over "blob " + size in decimal + a zero byte +
// the content, written as 40 lower-case hexadecimal digits.
#include <cstdint>
#include <memory>
#include <string>

#include "Streams.h"

// Hashes the stream from its current position to its end; the size in the
// header is the stream's Size. Reads until the stream reports its end (a
// read of 0), so a decompressing stream that returns short blocks is hashed
// whole. Raises EReadError when the content is not Size bytes long.
std::string GitBlobHash(TStream& Stream);
// The SHA-1 of a complete byte string, as hexadecimal digits.
std::string Sha1Hex(const void* Data, size_t Size);

// Whether the stream holds the blob of that size and hash; sizes are compared
// before any byte is read. The stream is released in every case.
bool GitBlobMatches(std::unique_ptr<TStream> Stream, int64_t ExpectedSize, const std::string& ExpectedSha);
