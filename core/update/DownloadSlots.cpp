#include "update/DownloadSlots.h"

#include <stdexcept>

TDownloadSlots::TDownloadSlots(int32_t itemCount, int32_t maxParallel)
    : FItemCount(itemCount), FMaxParallel(maxParallel) {}

std::optional<int32_t> TDownloadSlots::Claim() {
  if (FStopped || FLoading >= FMaxParallel || FNext >= FItemCount) return std::nullopt;
  ++FLoading;
  return FNext++;
}

void TDownloadSlots::Release() {
  // A release without a slot would let the run end under running work.
  if (FLoading <= 0) throw std::logic_error("download slot released twice");
  --FLoading;
}

void TDownloadSlots::HandOn() {
  Release();
  ++FHandedOn;
}

void TDownloadSlots::WorkDone() {
  if (FHandedOn <= 0) throw std::logic_error("handed-on work ended twice");
  --FHandedOn;
}
