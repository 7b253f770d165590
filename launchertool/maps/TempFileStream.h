#pragma once
// Scratch files of the map loader (the raw canvas, downloaded pieces): a
// unique file in the user's temporary folder, opened exclusively and
// delete-on-close, so it disappears with its stream on every path.
#include <memory>
#include <string>

#include "Handles.h"
#include "Streams.h"

class TTempFileStream : public THandleStream {
 public:
  explicit TTempFileStream(UniqueFileHandle handle) : THandleStream(handle.get()), FOwned(std::move(handle)) {}

 private:
  UniqueFileHandle FOwned;
};

// Raises EOSError when the folder, the name or the file cannot be had. The
// file is sparse where the file system allows it, so a large canvas costs
// only the bytes written.
std::unique_ptr<TStream> CreateTempStream();
// The user's temporary folder, with its trailing separator.
std::wstring TemporaryFolder();
// Removes the files of such streams that a killed process or a power cut
// left behind; one still open is in use and stays.
void RemoveTempStreamLeftovers();
