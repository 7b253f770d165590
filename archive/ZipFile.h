#pragma once
// The zip archive facility: open an archive for reading, for reading and
// writing, or create one; list and find members; read a member through a
// decompressing stream; add a member from a complete stream; close, which
// writes the central directory and the end record.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Streams.h"
#include "ZipTypes.h"

class TZipFile;

// A compression method's stream constructors. The compressing one gets the
// archive stream positioned at the member's first data byte and returns a
// stream the member's bytes are written into; the decompressing one gets the
// archive stream positioned at the member's data and returns a reader.
using TZipCompressStreamFn = std::unique_ptr<TStream> (*)(TStream& InStream, const TZipFile& ZipFile,
                                                         const TZipHeader& Item);
using TZipDecompressStreamFn = std::unique_ptr<TStream> (*)(TStream& InStream, const TZipFile& ZipFile,
                                                           const TZipHeader& Item);
struct TZipCompressionHandler {
  TZipCompressStreamFn Compress = nullptr;
  TZipDecompressStreamFn Decompress = nullptr;
};

class TZipFile {
 public:
  TZipFile() = default;
  TZipFile(const TZipFile&) = delete;
  TZipFile& operator=(const TZipFile&) = delete;
  virtual ~TZipFile();

  // Whether the file is a zip archive whose central directory can be read.
  static bool IsValid(const std::wstring& FileName);

  // zmRead and zmReadWrite open an existing file (an empty one is an empty
  // archive); zmWrite creates the file anew.
  void Open(const std::wstring& FileName, TZipMode OpenMode);
  // Opens over a stream the archive does not own.
  void Open(TStream& Stream, TZipMode OpenMode);
  // Writes the central directory and end record when open for writing.
  void Close();

  TZipMode Mode() const { return FMode; }
  int FileCount() const { return static_cast<int>(FFiles.size()); }
  std::vector<std::wstring> FileNames() const;
  std::wstring FileName(int Index) const;
  // Index of the member of that name, ignoring letter case; -1 when absent.
  int IndexOf(const std::wstring& FileName) const;

  // A reader of the member's uncompressed bytes, and its header.
  std::unique_ptr<TStream> Read(const std::wstring& FileName, TZipHeader& LocalHeader);
  std::unique_ptr<TStream> Read(int Index, TZipHeader& LocalHeader);

  // Adds the bytes of Data from its current position to its end.
  void Add(TStream& Data, const std::wstring& ArchiveFileName, uint16_t Compression = zip::kMethodDeflated);

  // Names are written as UTF-8 with flag bit 11 when on, else in code page 437.
  bool UTF8Support = true;

  static void RegisterCompressionHandler(uint16_t Method, TZipCompressionHandler Handler);
  static bool IsCompressionHandlerRegistered(uint16_t Method);
  static TZipCompressionHandler CompressionHandler(uint16_t Method);

 protected:
  // A streamed member being written owns the archive stream's position:
  // reads and other adds must wait for its end.
  virtual bool MemberOpen() const { return false; }
  static void CheckFileName(const std::wstring& ArchiveFileName);
  std::vector<uint8_t> EncodeName(const std::wstring& Name) const;
  void CheckWritable() const;
  // Writes a complete local header for Header at the stream's position.
  void WriteLocalHeader(const TZipHeader& Header);
  // Rewrites the fields known only at a member's end.
  void PatchLocalHeader(const TZipHeader& Header);
  // Starts a member at the end of the data: checks the name, the mode and the
  // archive's size, fills the header and writes it with its sizes still open.
  // The member's data goes to the stream's position next.
  struct TMemberStart {
    TZipHeader Header;
    TZipCompressionHandler Handler;
  };
  TMemberStart StartMember(const std::wstring& ArchiveFileName, uint16_t Compression);
  static uint32_t CurrentDosDateTime();

  TStream* FStream = nullptr;
  std::unique_ptr<TStream> FOwnedStream;
  std::vector<TZipHeader> FFiles;
  int64_t FEndFileData = 0;
  TZipMode FMode = TZipMode::zmClosed;

 private:
  void ReadCentralDirectory();
  int64_t FArchiveDataEnd = 0;
};
