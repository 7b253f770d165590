#include "update/PlayerWords.h"

#include "uDebugUtils.h"
#include "update/ConnectionRetry.h"
#include "update/DownloadError.h"
#include "update/MachineFaults.h"

namespace {

struct TSystemFault {
  uint32_t Code = 0;
  std::wstring FileName;
};

TSystemFault SystemFaultOf(const Exception& e) {
  if (const auto* os = dynamic_cast<const EOSError*>(&e)) return {os->ErrorCode, os->FileName};
  if (const auto* stream = dynamic_cast<const EStreamError*>(&e)) return {stream->ErrorCode, stream->FileName};
  return {};
}

}  // namespace

std::shared_ptr<Exception> InPlayersWords(const std::shared_ptr<Exception>& error,
                                          const std::wstring& installationFolder) {
  if (!error) return error;
  if (auto words = ConnectionFaultInPlayersWords(*error)) {
    LogMessage(L"Update", L"Connection fault told in the player's words: " + error->GetBaseException().Message());
    return words;
  }
  const Exception& cause = error->GetBaseException();
  const TSystemFault fault = SystemFaultOf(cause);
  const TMachineFault kind = MachineFaultOf(fault.Code);
  std::wstring text;
  switch (kind) {
    case TMachineFault::FileHeld:
      if (!fault.FileName.empty()) text = FileHeldMessage(PathForPlayer(installationFolder, fault.FileName));
      break;
    case TMachineFault::DiskFull:
      text = DiskFullMessage(DriveOf(fault.FileName.empty() ? installationFolder : fault.FileName));
      break;
    case TMachineFault::PathRefused:
      if (!fault.FileName.empty()) text = PathRefusedMessage(PathForPlayer(installationFolder, fault.FileName));
      break;
    case TMachineFault::Other:
      break;
  }
  if (text.empty()) return error;
  LogMessage(L"Update", L"System error told in the player's words: code " + std::to_wstring(fault.Code) + L" (" +
                            SysErrorMessage(fault.Code) + L"), " + fault.FileName + L": " + cause.Message());
  return std::make_shared<EDownloadError>(text);
}
