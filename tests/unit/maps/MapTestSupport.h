#pragma once
// Helpers of the map tests: an installation folder of scratch files, a host
// that stands in for the window and serves map files from memory, access to
// the loader's private state, and image and archive builders.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "HttpResponse.h"
#include "Streams.h"
#include "Utf8.h"
#include "images/Graphics.h"
#include "maps/MapLoader.h"
#include "maps/MapLoaderHost.h"
#include "maps/MapPieceName.h"
#include "maps/TempFileStream.h"
#include "images/RawCanvas.h"
#include "uZipFixes.h"

// Sets what an exchange reads from the reply's headers.
class THTTPResponseTestAccess {
 public:
  static void SetStatus(THTTPResponse& response, int32_t status) { response.FHTTPStatus = status; }
};

class TMapLoaderTestAccess {
 public:
  // Closes the new archive so that a test can read it while the loader lives.
  static void CloseArchive(TMapLoader& loader) { loader.FArchive->Zip.reset(); }
  static void FileDone(TMapLoader& loader, std::shared_ptr<Exception> failure) { loader.FileDone(std::move(failure)); }
  static int32_t Width(const TMapLoader& loader) { return loader.FWidth; }
  static int32_t Height(const TMapLoader& loader) { return loader.FHeight; }
  static bool HasCanvas(const TMapLoader& loader) { return loader.FBitmapRawStream != nullptr; }
  // A canvas with an image of width by height already in it.
  static void GiveCanvas(TMapLoader& loader, int32_t width, int32_t height) {
    loader.FBitmapRawStream = CreateTempStream();
    loader.FBitmapRawStream->SetSize(raw_canvas::kSize);
    loader.FWidth = width;
    loader.FHeight = height;
  }
  static void PlacePiece(TMapLoader& loader, const std::wstring& name, TStream& piece) {
    loader.PlacePiece(name, piece);
  }
};

// The installation folder with its data\maps\ below it.
class TInstallFolder {
 public:
  TInstallFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    FPath = std::wstring(temp) + L"maps-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(FPath.c_str(), nullptr);
    CreateDirectoryW((FPath + L"\\data").c_str(), nullptr);
    CreateDirectoryW((FPath + L"\\data\\maps").c_str(), nullptr);
  }
  ~TInstallFolder() {
    std::wstring maps = FPath + L"\\data\\maps";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((maps + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((maps + L"\\" + fd.cFileName).c_str());
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryW(maps.c_str());
    RemoveDirectoryW((FPath + L"\\data").c_str());
    RemoveDirectoryW(FPath.c_str());
  }
  const std::wstring& Path() const { return FPath; }
  std::wstring Map(const std::wstring& fileName) const { return FPath + L"\\data\\maps\\" + fileName; }

 private:
  std::wstring FPath;
};

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> ReadAll(TStream& stream) {
  std::vector<uint8_t> out, buf(65536);
  for (;;) {
    int32_t n = stream.Read(buf.data(), static_cast<int32_t>(buf.size()));
    if (n <= 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

inline std::vector<uint8_t> FileBytes(const std::wstring& path) {
  TFileStream file(path, fmOpenRead | fmShareDenyNone);
  return ReadAll(file);
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A pixel pattern that differs between images (seed) and places.
inline void PatternPixel(uint32_t seed, int32_t x, int32_t y, uint8_t* bgr) {
  bgr[0] = static_cast<uint8_t>(seed * 40 + x);
  bgr[1] = static_cast<uint8_t>(seed * 7 + y * 3);
  bgr[2] = static_cast<uint8_t>(seed + (x >> 8) * 17 + y);
}

inline TBitmap24 PatternBitmap(int32_t width, int32_t height, uint32_t seed) {
  TBitmap24 bitmap(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) PatternPixel(seed, x, y, bitmap.Row(y) + x * 3);
  return bitmap;
}

inline std::vector<uint8_t> EncodeImage(const TGraphicClass& kind, const TBitmap24& bitmap) {
  std::unique_ptr<TGraphic> image = kind.Create();
  image->Assign(bitmap);
  TMemoryStream out;
  image->SaveToStream(out);
  return out.Bytes();
}

inline TBitmap24 DecodeImage(const TGraphicClass& kind, const std::vector<uint8_t>& bytes) {
  TMemoryStream in;
  if (!bytes.empty()) in.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  in.SetPosition(0);
  std::unique_ptr<TGraphic> image = kind.Create();
  image->LoadFromStream(in);
  return *GraphicToBitmap(*image);
}

inline std::string IniText(const std::string& format) { return "[main]\r\nName=North\r\nMapFormat=" + format + "\r\n"; }

struct TMember {
  std::wstring Name;
  std::vector<uint8_t> Data;
  uint16_t Method = 0;
};

inline void WriteArchive(const std::wstring& path, const std::vector<TMember>& members) {
  TZipFile archive;
  archive.Open(path, TZipMode::zmWrite);
  for (const TMember& m : members) {
    TMemoryStream data;
    if (!m.Data.empty()) data.WriteBuffer(m.Data.data(), static_cast<int32_t>(m.Data.size()));
    data.SetPosition(0);
    archive.Add(data, m.Name, m.Method ? m.Method : zip::kMethodDeflated);
  }
  archive.Close();
}

inline std::vector<TMember> ReadArchive(const std::wstring& path) {
  TZipFile archive;
  archive.Open(path, TZipMode::zmRead);
  std::vector<TMember> members;
  for (int i = 0; i < archive.FileCount(); ++i) {
    TZipHeader header;
    std::unique_ptr<TStream> reader = archive.Read(i, header);
    members.push_back({archive.FileName(i), ReadAll(*reader), header.CompressionMethod});
  }
  return members;
}

inline std::vector<std::wstring> Names(const std::vector<TMember>& members) {
  std::vector<std::wstring> names;
  for (const TMember& m : members) names.push_back(m.Name);
  return names;
}

inline const TMember* Find(const std::vector<TMember>& members, const std::wstring& name) {
  for (const TMember& m : members)
    if (m.Name == name) return &m;
  return nullptr;
}

// Stands in for the update run: counts the progress, the maps handed on and
// the failures, and serves the map's files from memory when the test says so.
class TFakeMapHost : public TMapLoaderHost {
 public:
  struct TReplyData {
    int32_t Status = 200;
    std::vector<uint8_t> Body;
  };

  explicit TFakeMapHost(std::wstring localPath) : FLocalPath(std::move(localPath)) {}

  std::shared_ptr<TMapLoader> NewLoader(const std::wstring& name) {
    return std::make_shared<TMapLoader>(name, FLocalPath, *this);
  }

  const TSortedStringList& RunPaths() override { return FRunPaths; }
  std::function<bool()> AbortTest() override {
    return [this] { return Error.load(); };
  }
  void RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                      std::unique_ptr<THTTPResponse> response, TArrived arrived, TDone done) override {
    Requested.push_back(mapName + L"/" + fileName);
    FPending.push_back({fileName, std::move(response), std::move(arrived), std::move(done)});
  }
  void MapFileLoaded() override { ++Progress; }
  void MapDownloaded(std::shared_ptr<TMapLoader> map) override {
    Packed.push_back(map.get());
    ++Ends;
  }
  void MapFailed(std::shared_ptr<TMapLoader>, std::shared_ptr<Exception> error) override {
    Failures.push_back(std::move(error));
    ++Ends;
  }

  // Answers the waiting requests (and those they start) from Files, the way
  // the run does: the reply's bytes on the "worker", then the decision; a
  // name without an entry gets 404. Stops after limit replies.
  void Serve(TMapLoader& loader, int limit = 1000) {
    while (!FPending.empty() && limit-- > 0) {
      TPending pending = std::move(FPending.front());
      FPending.pop_front();
      auto found = Files.find(pending.Name);
      TReplyData reply = found == Files.end() ? TReplyData{404, {}} : found->second;
      std::shared_ptr<Exception> failure;
      try {
        SetStatus(*pending.Response, reply.Status);
        // A stream response of the loader takes only a successful reply's body.
        if (reply.Status == 200 && !reply.Body.empty())
          pending.Response->ReceiveData(reply.Body.data(), static_cast<uint32_t>(reply.Body.size()));
        pending.Arrived(*pending.Response);
      } catch (...) {
        failure = CurrentExceptionAsObject();
      }
      // The exchange goes before its report reaches the main thread.
      pending.Response.reset();
      pending.Done(std::move(failure));
    }
  }
  bool HasPending() const { return !FPending.empty(); }

  // The oldest waiting exchange, taken over by the test: its body may still
  // be written after the map has been told it failed.
  struct TPending {
    std::wstring Name;
    std::unique_ptr<THTTPResponse> Response;
    TArrived Arrived;
    TDone Done;
  };
  TPending TakePending() {
    TPending pending = std::move(FPending.front());
    FPending.pop_front();
    return pending;
  }
  // What the exchange's headers would have set.
  static void SetStatus(THTTPResponse& response, int32_t status) {
    THTTPResponseTestAccess::SetStatus(response, status);
  }

  std::map<std::wstring, TReplyData> Files;
  std::atomic<bool> Error{false};
  int Progress = 0;
  // Maps handed on (MapDownloaded) and failed: each map ends once.
  int Ends = 0;
  std::vector<TMapLoader*> Packed;
  std::vector<std::wstring> Requested;
  std::vector<std::shared_ptr<Exception>> Failures;

 private:
  std::wstring FLocalPath;
  TSortedStringList FRunPaths;
  std::deque<TPending> FPending;
};
