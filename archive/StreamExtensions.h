#pragma once
// Read-only windows onto another stream. Every read first moves the inner
// stream to the view's own position, so several views may share one inner
// stream on one thread.
#include <cstdint>

#include "Streams.h"

class TStreamCover : public TStream {
 public:
  // The view begins where AStream is positioned now.
  TStreamCover(TStream* AStream, bool AOwned);
  ~TStreamCover() override;

  int64_t GetSize() override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  // Copies inner stream, begin and offset; the copy never owns the inner
  // stream, so it is released exactly once, by the view that owned it.
  virtual void Assign(const TStreamCover& AStream);
  // Releases a previously owned inner stream before taking the new one.
  virtual void ReconectStream(TStream* AStream, bool AOwned);

 protected:
  void FixPosition();

  TStream* FOwnStream = nullptr;
  bool FOwned = false;
  int64_t FBeginPosition = 0;
  int64_t FCurrentOffset = 0;
};

// A view of exactly ASize bytes, whatever the inner stream's size; reads stop
// at the bound and seeks outside 0..ASize are ignored.
class TPartialStream : public TStreamCover {
 public:
  TPartialStream(TStream* AMainStream, int64_t ASize, bool AOwned);

  int64_t GetSize() override { return FBoundSize; }
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

 private:
  int64_t FBoundSize;
};
