#include "install/LastFileWriter.h"

#include <windows.h>

#include "Streams.h"
#include "install/OwnedFiles.h"
#include "update/TemporaryFiles.h"

void WriteLastFileAtomically(const std::wstring& installationFolder, const std::string& bytes,
                             TTemporaryRecord* record) {
  const std::wstring target = installationFolder + L"\\.last";
  TTemporaryFile temporary = ClaimTemporaryFile(installationFolder, L"/.last", TSortedStringList(), record);
  try {
    TFileStream file(temporary.Path, std::move(temporary.File));
    file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    // On disk before it replaces the old record, not only in the cache.
    if (!FlushFileBuffers(file.Handle())) RaiseFileOSError(GetLastError(), temporary.Path);
  } catch (...) {
    DeleteFileW(temporary.Path.c_str());
    throw;
  }
  const DWORD error = ReplaceOwnedFile(temporary.Path, target);
  if (error == ERROR_SUCCESS) return;
  DeleteFileW(temporary.Path.c_str());
  RaiseFileOSError(error, target);
}
