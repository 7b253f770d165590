#pragma once
// Deflate on every core, the way pigz does it: the input is cut into blocks,
// each block is compressed on a worker thread with the 32 KiB before it as its
// dictionary and ends on a byte boundary (sync flush), the last one finishes
// the stream, so the blocks' outputs put one after another are one deflate
// stream. Only a window of blocks is in flight, so memory stays bounded
// whatever the input's size; the output is the same for any thread count.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "Exceptions.h"

DECLARE_EXCEPTION_CLASS(EDeflateError, Exception);

class TParallelDeflate {
 public:
  // Raw: the deflate data alone (zip members). Zlib: with the zlib header in
  // front and the Adler-32 of the input behind (PNG image data).
  enum class TFraming { Raw, Zlib };
  // Receives the compressed bytes in stream order, on the writing thread.
  using TSink = std::function<void(const uint8_t* data, size_t length)>;

  static constexpr size_t kDefaultBlockSize = 1024 * 1024;
  // std::thread::hardware_concurrency(), at least 1.
  static unsigned DefaultThreads();

  // level: zlib's 0-9 or Z_DEFAULT_COMPRESSION. threads 0: DefaultThreads().
  // Worker threads start only once the input outgrows one block, so a small
  // stream is compressed on the writing thread alone.
  TParallelDeflate(int level, TFraming framing, TSink sink, size_t blockSize = kDefaultBlockSize,
                   unsigned threads = 0);
  // A stream not finished is abandoned: the workers stop, the sink hears
  // nothing more.
  ~TParallelDeflate();
  TParallelDeflate(const TParallelDeflate&) = delete;
  TParallelDeflate& operator=(const TParallelDeflate&) = delete;

  void Write(const void* data, size_t length);
  // Compresses what is left, ends the stream and waits for every block.
  void Finish();
  bool Finished() const;
  uint64_t TotalIn() const;

 private:
  void WriteBytes(const void* data, size_t length);
  struct TState;
  std::unique_ptr<TState> F;
};
