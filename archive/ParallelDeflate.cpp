#include "ParallelDeflate.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

namespace {
constexpr size_t kDictionarySize = 32 * 1024;

// One block: the dictionary (the stream's bytes just before the block) and
// the block's own bytes in one buffer, and its compressed output.
struct TBlock {
  std::vector<uint8_t> In;
  size_t DictLength = 0;
  size_t Length = 0;  // the block's own bytes, after the dictionary
  bool Last = false;
  std::vector<uint8_t> Out;
  size_t OutLength = 0;
  uint32_t Adler = 1;
  bool Done = false;  // guarded by the state's lock once submitted
  std::exception_ptr Error;
};

// A raw deflate stream of its own, reused from block to block.
class TDeflater {
 public:
  TDeflater(int level) {
    if (deflateInit2(&FZ, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EDeflateError(L"Cannot start the deflate compressor");
  }
  ~TDeflater() { deflateEnd(&FZ); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  void Compress(TBlock& b, bool withAdler) {
    if (deflateReset(&FZ) != Z_OK) throw EDeflateError(L"Deflate failed");
    if (b.DictLength && deflateSetDictionary(&FZ, b.In.data(), static_cast<uInt>(b.DictLength)) != Z_OK)
      throw EDeflateError(L"Deflate failed");
    // A sync flush adds a few bytes beyond the bound of a finished stream.
    size_t bound = deflateBound(&FZ, static_cast<uLong>(b.Length)) + 64;
    if (b.Out.size() < bound) b.Out.resize(bound);
    FZ.next_in = b.In.data() + b.DictLength;
    FZ.avail_in = static_cast<uInt>(b.Length);
    FZ.next_out = b.Out.data();
    FZ.avail_out = static_cast<uInt>(b.Out.size());
    const int flush = b.Last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
      int rc = deflate(&FZ, flush);
      if (rc == Z_STREAM_ERROR) throw EDeflateError(L"Deflate failed");
      if (b.Last ? rc == Z_STREAM_END : (FZ.avail_in == 0 && FZ.avail_out != 0)) break;
      if (FZ.avail_out == 0) {
        size_t used = b.Out.size();
        b.Out.resize(used * 2);
        FZ.next_out = b.Out.data() + used;
        FZ.avail_out = static_cast<uInt>(b.Out.size() - used);
      }
    }
    b.OutLength = b.Out.size() - FZ.avail_out;
    if (withAdler) b.Adler = static_cast<uint32_t>(adler32(1, b.In.data() + b.DictLength, static_cast<uInt>(b.Length)));
  }

 private:
  z_stream FZ{};
};

// The two bytes zlib itself would write for this level.
void ZlibHeader(int level, uint8_t out[2]) {
  if (level == Z_DEFAULT_COMPRESSION) level = 6;
  unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (flags << 6);
  header += 31 - header % 31;
  out[0] = static_cast<uint8_t>(header >> 8);
  out[1] = static_cast<uint8_t>(header);
}
}  // namespace

struct TParallelDeflate::TState {
  int Level;
  TFraming Framing;
  TSink Sink;
  size_t BlockSize;
  unsigned Threads;
  size_t Window;  // blocks submitted and not yet written

  std::unique_ptr<TBlock> Filling;
  std::vector<uint8_t> History;  // the stream's last bytes, up to a dictionary
  std::vector<std::unique_ptr<TBlock>> Spare;
  std::unique_ptr<TDeflater> Inline;
  uint64_t TotalIn = 0;
  uint32_t Adler = 1;
  bool HeaderWritten = false;
  bool Finished = false;
  bool Failed = false;  // the stream's state after a failure is no stream

  std::mutex Lock;
  std::condition_variable WorkReady, BlockDone;
  std::deque<std::unique_ptr<TBlock>> InFlight;  // stream order
  std::deque<TBlock*> Queue;                     // waiting for a worker
  bool Stop = false;
  std::exception_ptr WorkerFailure;  // a worker that could not go on
  std::vector<std::thread> Workers;

  // Nothing may leave a thread's entry: a worker that fails outside a block
  // fails the stream.
  void WorkerEntry() {
    try {
      Work();
    } catch (...) {
      {
        std::lock_guard<std::mutex> lock(Lock);
        WorkerFailure = std::current_exception();
      }
      BlockDone.notify_all();
    }
  }

  void Work() {
    std::unique_ptr<TDeflater> deflater;
    for (;;) {
      TBlock* b;
      {
        std::unique_lock<std::mutex> lock(Lock);
        WorkReady.wait(lock, [&] { return Stop || !Queue.empty(); });
        if (Stop) return;
        b = Queue.front();
        Queue.pop_front();
      }
      // A block's failure travels with the block.
      try {
        if (!deflater) deflater = std::make_unique<TDeflater>(Level);
        deflater->Compress(*b, Framing == TFraming::Zlib);
      } catch (...) {
        b->Error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(Lock);
        b->Done = true;
      }
      BlockDone.notify_all();
    }
  }

  void StopWorkers() {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Stop = true;
    }
    WorkReady.notify_all();
    for (std::thread& t : Workers) t.join();
    Workers.clear();
  }

  void StartBlock() {
    if (Spare.empty()) {
      Filling = std::make_unique<TBlock>();
    } else {
      Filling = std::move(Spare.back());
      Spare.pop_back();
    }
    TBlock& b = *Filling;
    b.In.resize(kDictionarySize + BlockSize);
    std::memcpy(b.In.data(), History.data(), History.size());
    b.DictLength = History.size();
    b.Length = 0;
    b.Last = false;
    b.OutLength = 0;
    b.Adler = 1;
    b.Done = false;
    b.Error = nullptr;
  }

  void Submit(bool last) {
    std::unique_ptr<TBlock> block = std::move(Filling);
    block->Last = last;
    size_t keep = std::min(kDictionarySize, block->DictLength + block->Length);
    const uint8_t* end = block->In.data() + block->DictLength + block->Length;
    History.assign(end - keep, end);
    if (last && Workers.empty()) {
      // A stream of one block: no thread is worth starting.
      if (!Inline) Inline = std::make_unique<TDeflater>(Level);
      Inline->Compress(*block, Framing == TFraming::Zlib);
      block->Done = true;
      std::lock_guard<std::mutex> lock(Lock);
      InFlight.push_back(std::move(block));
    } else {
      while (Workers.size() < Threads) Workers.emplace_back([this] { WorkerEntry(); });
      {
        std::lock_guard<std::mutex> lock(Lock);
        Queue.push_back(block.get());
        InFlight.push_back(std::move(block));
      }
      WorkReady.notify_one();
    }
    WriteDone(last);
  }

  // Writes the finished blocks at the front in order; waits for the oldest
  // while the window is full, or for all of them.
  void WriteDone(bool all) {
    for (;;) {
      std::unique_ptr<TBlock> b;
      {
        std::unique_lock<std::mutex> lock(Lock);
        if (InFlight.empty()) return;
        if (!InFlight.front()->Done) {
          if (!all && InFlight.size() < Window) return;
          BlockDone.wait(lock, [&] { return InFlight.front()->Done || WorkerFailure; });
          if (!InFlight.front()->Done) std::rethrow_exception(WorkerFailure);
        }
        b = std::move(InFlight.front());
        InFlight.pop_front();
      }
      if (b->Error) std::rethrow_exception(b->Error);
      if (Framing == TFraming::Zlib) Adler = static_cast<uint32_t>(adler32_combine(Adler, b->Adler, b->Length));
      if (b->OutLength) Sink(b->Out.data(), b->OutLength);
      Spare.push_back(std::move(b));
    }
  }
};

unsigned TParallelDeflate::DefaultThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

TParallelDeflate::TParallelDeflate(int level, TFraming framing, TSink sink, size_t blockSize, unsigned threads)
    : F(std::make_unique<TState>()) {
  if (blockSize == 0) throw EDeflateError(L"Deflate block size must not be 0");
  F->Level = level;
  F->Framing = framing;
  F->Sink = std::move(sink);
  F->BlockSize = blockSize;
  F->Threads = threads ? threads : DefaultThreads();
  // Every worker busy, one block ready to write and one being filled.
  F->Window = F->Threads + 2;
}

TParallelDeflate::~TParallelDeflate() { F->StopWorkers(); }

void TParallelDeflate::Write(const void* data, size_t length) {
  if (F->Finished) throw EDeflateError(L"Write after the end of a deflate stream");
  if (F->Failed) throw EDeflateError(L"Deflate stream failed before");
  try {
    WriteBytes(data, length);
  } catch (...) {
    F->Failed = true;
    throw;
  }
}

void TParallelDeflate::WriteBytes(const void* data, size_t length) {
  if (F->Framing == TFraming::Zlib && !F->HeaderWritten) {
    uint8_t header[2];
    ZlibHeader(F->Level, header);
    F->Sink(header, 2);
    F->HeaderWritten = true;
  }
  auto* in = static_cast<const uint8_t*>(data);
  while (length > 0) {
    if (!F->Filling) F->StartBlock();
    // A full block goes only once more bytes follow: the last block must end
    // the stream.
    if (F->Filling->Length == F->BlockSize) {
      F->Submit(false);
      F->StartBlock();
    }
    TBlock& b = *F->Filling;
    size_t take = std::min(length, F->BlockSize - b.Length);
    std::memcpy(b.In.data() + b.DictLength + b.Length, in, take);
    b.Length += take;
    in += take;
    length -= take;
    F->TotalIn += take;
  }
}

void TParallelDeflate::Finish() {
  if (F->Finished) return;
  Write(nullptr, 0);  // the header of an empty stream
  try {
    if (!F->Filling) F->StartBlock();
    F->Submit(true);
    F->WriteDone(true);
    F->StopWorkers();
    if (F->Framing == TFraming::Zlib) {
      const uint32_t a = F->Adler;
      uint8_t trailer[4] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 8),
                            static_cast<uint8_t>(a)};
      F->Sink(trailer, 4);
    }
  } catch (...) {
    F->Failed = true;
    throw;
  }
  F->Finished = true;
}

bool TParallelDeflate::Finished() const { return F->Finished; }
uint64_t TParallelDeflate::TotalIn() const { return F->TotalIn; }
