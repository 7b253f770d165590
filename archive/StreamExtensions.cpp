#include "StreamExtensions.h"

TStreamCover::TStreamCover(TStream* AStream, bool AOwned) { ReconectStream(AStream, AOwned); }

TStreamCover::~TStreamCover() {
  if (FOwned) delete FOwnStream;
}

void TStreamCover::ReconectStream(TStream* AStream, bool AOwned) {
  if (FOwned && FOwnStream != AStream) delete FOwnStream;
  FOwnStream = AStream;
  FOwned = AOwned;
  FBeginPosition = AStream->GetPosition();
  FCurrentOffset = 0;
}

void TStreamCover::Assign(const TStreamCover& AStream) {
  if (&AStream == this) return;
  if (FOwned && FOwnStream != AStream.FOwnStream) delete FOwnStream;
  FOwnStream = AStream.FOwnStream;
  FOwned = false;
  FBeginPosition = AStream.FBeginPosition;
  FCurrentOffset = AStream.FCurrentOffset;
}

int64_t TStreamCover::GetSize() { return FOwnStream->GetSize() - FBeginPosition; }

void TStreamCover::FixPosition() {
  int64_t wanted = FBeginPosition + FCurrentOffset;
  if (FOwnStream->GetPosition() != wanted) FOwnStream->SetPosition(wanted);
}

int32_t TStreamCover::Read(void* Buffer, int32_t Count) {
  FixPosition();
  int32_t n = FOwnStream->Read(Buffer, Count);
  if (n > 0) FCurrentOffset += n;
  return n;
}

int64_t TStreamCover::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case TSeekOrigin::soBeginning:
      FCurrentOffset = Offset < 0 ? 0 : Offset;
      break;
    case TSeekOrigin::soCurrent:
      if (Offset <= 0) {
        FCurrentOffset += Offset;
        if (FCurrentOffset < 0) FCurrentOffset = 0;
      } else {
        FixPosition();
        FCurrentOffset = FOwnStream->Seek(Offset, TSeekOrigin::soCurrent) - FBeginPosition;
      }
      break;
    case TSeekOrigin::soEnd:
      FCurrentOffset = FOwnStream->Seek(Offset, TSeekOrigin::soEnd) - FBeginPosition;
      break;
  }
  return FCurrentOffset;
}

TPartialStream::TPartialStream(TStream* AMainStream, int64_t ASize, bool AOwned)
    : TStreamCover(AMainStream, AOwned), FBoundSize(ASize) {}

int32_t TPartialStream::Read(void* Buffer, int32_t Count) {
  int64_t remaining = FBoundSize - FCurrentOffset;
  if (remaining <= 0) return 0;
  if (Count > remaining) Count = static_cast<int32_t>(remaining);
  return TStreamCover::Read(Buffer, Count);
}

int64_t TPartialStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t target;
  switch (Origin) {
    case TSeekOrigin::soBeginning: target = Offset; break;
    case TSeekOrigin::soCurrent: target = FCurrentOffset + Offset; break;
    default: target = FBoundSize + Offset; break;
  }
  if (target < 0 || target > FBoundSize) return FCurrentOffset;
  FCurrentOffset = target;
  return target;
}
