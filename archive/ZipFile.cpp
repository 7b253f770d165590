#include "ZipFile.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "StreamExtensions.h"
#include "ZipDeflateStreams.h"
#include "ZipNames.h"

namespace {
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

[[noreturn]] void Damaged(const std::wstring& what) { throw EZipException(L"Damaged zip archive: " + what); }

void WriteAll(TStream& stream, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return;
  if (stream.Write(bytes.data(), static_cast<int32_t>(bytes.size())) != static_cast<int32_t>(bytes.size()))
    throw EZipException(L"Error writing zip file");
}

std::unique_ptr<TStream> DeflateCompress(TStream& InStream, const TZipFile&, const TZipHeader&) {
  return std::make_unique<TZCompressionStream>(InStream, Z_DEFAULT_COMPRESSION);
}
std::unique_ptr<TStream> DeflateDecompress(TStream& InStream, const TZipFile&, const TZipHeader& Item) {
  auto compressed = std::make_unique<TPartialStream>(&InStream, Item.CompressedSize, false);
  return std::make_unique<TZDecompressionStream>(std::move(compressed), Item.UncompressedSize, Item.CRC32);
}
// The facility's own stored pair; the program start replaces it.
class TPassThroughStream : public TStream {
 public:
  explicit TPassThroughStream(TStream& target) : FTarget(target) {}
  int32_t Write(const void* buffer, int32_t count) override { return FTarget.Write(buffer, count); }
  int32_t Read(void*, int32_t) override { throw EStreamError(L"Invalid stream operation"); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FTarget.Seek(offset, origin); }

 private:
  TStream& FTarget;
};
std::unique_ptr<TStream> StoredCompress(TStream& InStream, const TZipFile&, const TZipHeader&) {
  return std::make_unique<TPassThroughStream>(InStream);
}
std::unique_ptr<TStream> StoredDecompress(TStream& InStream, const TZipFile&, const TZipHeader& Item) {
  return std::make_unique<TPartialStream>(&InStream, Item.CompressedSize, false);
}

std::map<uint16_t, TZipCompressionHandler>& Registry() {
  static std::map<uint16_t, TZipCompressionHandler> registry{
      {zip::kMethodStored, {StoredCompress, StoredDecompress}},
      {zip::kMethodDeflated, {DeflateCompress, DeflateDecompress}},
  };
  return registry;
}

// Counts and checksums what the facility's own add writes.
class TAddCounter : public TStream {
 public:
  explicit TAddCounter(TStream& target) : FTarget(target) {}
  int32_t Write(const void* buffer, int32_t count) override {
    FCrc = static_cast<uint32_t>(crc32(FCrc, static_cast<const Bytef*>(buffer), static_cast<uInt>(count)));
    FSize += count;
    return FTarget.Write(buffer, count);
  }
  int32_t Read(void*, int32_t) override { throw EStreamError(L"Invalid stream operation"); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FTarget.Seek(offset, origin); }
  uint32_t FCrc = 0;
  int64_t FSize = 0;

 private:
  TStream& FTarget;
};
}  // namespace

std::wstring zip::CompressionMethodName(uint16_t method) {
  static const wchar_t* const kNames[] = {L"Stored",   L"Shrunk",   L"Reduced1",      L"Reduced2", L"Reduced3",
                                          L"Reduced4", L"Imploded", L"Tokenized",     L"Deflated", L"Deflate64",
                                          L"ImplodedTERSE"};
  if (method < std::size(kNames)) return kNames[method];
  switch (method) {
    case 12: return L"BZIP2";
    case 14: return L"LZMA";
    case 18: return L"TERSE";
    case 19: return L"LZ77";
    case 95: return L"XZ";
    case 96: return L"JPEG";
    case 97: return L"WavPack";
    case 98: return L"PPMd";
    default: return L"Unknown (" + std::to_wstring(method) + L")";
  }
}

void TZipFile::RegisterCompressionHandler(uint16_t Method, TZipCompressionHandler Handler) {
  Registry()[Method] = Handler;
}
bool TZipFile::IsCompressionHandlerRegistered(uint16_t Method) { return Registry().count(Method) != 0; }
TZipCompressionHandler TZipFile::CompressionHandler(uint16_t Method) {
  auto it = Registry().find(Method);
  if (it == Registry().end())
    throw EZipException(L"Support for compression method not registered: " + zip::CompressionMethodName(Method));
  return it->second;
}

TZipFile::~TZipFile() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; an explicit Close does.
  }
}

bool TZipFile::IsValid(const std::wstring& FileName) {
  try {
    TZipFile probe;
    probe.Open(FileName, TZipMode::zmRead);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void TZipFile::Open(const std::wstring& FileName, TZipMode OpenMode) {
  Close();
  uint32_t mode = OpenMode == TZipMode::zmRead      ? (fmOpenRead | fmShareDenyWrite)
                  : OpenMode == TZipMode::zmWrite ? static_cast<uint32_t>(fmCreate)
                                                  : (fmOpenReadWrite | fmShareDenyWrite);
  auto stream = std::make_unique<TFileStream>(FileName, mode);
  Open(*stream, OpenMode);
  FOwnedStream = std::move(stream);
}

void TZipFile::Open(TStream& Stream, TZipMode OpenMode) {
  Close();
  if (OpenMode == TZipMode::zmClosed) return;
  FStream = &Stream;
  FFiles.clear();
  FEndFileData = 0;
  try {
    if (OpenMode == TZipMode::zmWrite) {
      FStream->SetSize(0);
    } else if (OpenMode == TZipMode::zmRead || FStream->GetSize() != 0) {
      ReadCentralDirectory();
    }
  } catch (...) {
    FStream = nullptr;
    FFiles.clear();
    throw;
  }
  FMode = OpenMode;
}

void TZipFile::ReadCentralDirectory() {
  int64_t size = FStream->GetSize();
  if (size < zip::kEndOfCentralDirSize) Damaged(L"too short for an end record");
  // The end record is followed only by the archive comment (at most 65535 bytes).
  int64_t tailSize = std::min<int64_t>(size, zip::kEndOfCentralDirSize + 0xFFFF);
  std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
  FStream->SetPosition(size - tailSize);
  FStream->ReadBuffer(tail.data(), static_cast<int32_t>(tailSize));
  int64_t eocd = -1;
  for (int64_t i = tailSize - zip::kEndOfCentralDirSize; i >= 0; --i) {
    const uint8_t* p = tail.data() + i;
    if (Get32(p) == zip::kEndOfCentralDirSignature &&
        i + zip::kEndOfCentralDirSize + Get16(p + 20) <= tailSize) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) Damaged(L"no end of central directory record");
  const uint8_t* e = tail.data() + eocd;
  int64_t eocdOffset = size - tailSize + eocd;
  uint16_t disk = Get16(e + 4), cdDisk = Get16(e + 6);
  uint16_t count = Get16(e + 10);
  uint32_t cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
  if (disk != 0 || cdDisk != 0 || Get16(e + 8) != count) Damaged(L"multi-disk archives are not supported");
  if (cdOffset == 0xFFFFFFFF || count == 0xFFFF) Damaged(L"ZIP64 archives are not supported");
  if (static_cast<int64_t>(cdOffset) + cdSize > eocdOffset) Damaged(L"central directory runs past its end record");

  std::vector<uint8_t> cd(cdSize);
  FStream->SetPosition(cdOffset);
  if (cdSize) FStream->ReadBuffer(cd.data(), static_cast<int32_t>(cdSize));
  size_t at = 0;
  for (uint16_t i = 0; i < count; ++i) {
    if (at + zip::kCentralHeaderSize > cd.size()) Damaged(L"central directory is cut short");
    const uint8_t* p = cd.data() + at;
    if (Get32(p) != zip::kCentralHeaderSignature) Damaged(L"bad central directory entry");
    TZipHeader h;
    h.MadeByVersion = Get16(p + 4);
    h.RequiredVersion = Get16(p + 6);
    h.Flag = Get16(p + 8);
    h.CompressionMethod = Get16(p + 10);
    h.ModifiedDateTime = Get32(p + 12);
    h.CRC32 = Get32(p + 16);
    h.CompressedSize = Get32(p + 20);
    h.UncompressedSize = Get32(p + 24);
    h.FileNameLength = Get16(p + 28);
    h.ExtraFieldLength = Get16(p + 30);
    h.FileCommentLength = Get16(p + 32);
    h.DiskNumberStart = Get16(p + 34);
    h.InternalAttributes = Get16(p + 36);
    h.ExternalAttributes = Get32(p + 38);
    h.LocalHeaderOffset = Get32(p + 42);
    size_t varSize = static_cast<size_t>(h.FileNameLength) + h.ExtraFieldLength + h.FileCommentLength;
    if (at + zip::kCentralHeaderSize + varSize > cd.size()) Damaged(L"central directory is cut short");
    const uint8_t* v = p + zip::kCentralHeaderSize;
    h.FileName.assign(v, v + h.FileNameLength);
    v += h.FileNameLength;
    h.ExtraField.assign(v, v + h.ExtraFieldLength);
    v += h.ExtraFieldLength;
    h.FileComment.assign(v, v + h.FileCommentLength);
    if (h.CompressedSize == 0xFFFFFFFF || h.UncompressedSize == 0xFFFFFFFF || h.LocalHeaderOffset == 0xFFFFFFFF)
      Damaged(L"ZIP64 members are not supported");
    if (h.LocalHeaderOffset >= cdOffset) Damaged(L"member header lies outside the member data");
    FFiles.push_back(std::move(h));
    at += zip::kCentralHeaderSize + varSize;
  }
  FEndFileData = cdOffset;
  FArchiveDataEnd = cdOffset;
}

void TZipFile::Close() {
  if (FMode == TZipMode::zmClosed) return;
  TZipMode mode = FMode;
  FMode = TZipMode::zmClosed;
  try {
    if (mode == TZipMode::zmWrite || mode == TZipMode::zmReadWrite) {
      if (FFiles.size() > 0xFFFF) throw EZipException(L"Too many members for a zip archive");
      std::vector<uint8_t> cd;
      for (const TZipHeader& h : FFiles) {
        Put32(cd, zip::kCentralHeaderSignature);
        Put16(cd, h.MadeByVersion);
        Put16(cd, h.RequiredVersion);
        Put16(cd, h.Flag);
        Put16(cd, h.CompressionMethod);
        Put32(cd, h.ModifiedDateTime);
        Put32(cd, h.CRC32);
        Put32(cd, h.CompressedSize);
        Put32(cd, h.UncompressedSize);
        Put16(cd, static_cast<uint16_t>(h.FileName.size()));
        Put16(cd, static_cast<uint16_t>(h.ExtraField.size()));
        Put16(cd, static_cast<uint16_t>(h.FileComment.size()));
        Put16(cd, h.DiskNumberStart);
        Put16(cd, h.InternalAttributes);
        Put32(cd, h.ExternalAttributes);
        Put32(cd, h.LocalHeaderOffset);
        PutBytes(cd, h.FileName);
        PutBytes(cd, h.ExtraField);
        PutBytes(cd, h.FileComment);
      }
      if (FEndFileData > 0xFFFFFFFFLL || FEndFileData + static_cast<int64_t>(cd.size()) > 0xFFFFFFFFLL)
        throw EZipException(L"Zip archive larger than 4 GiB");
      std::vector<uint8_t> end;
      Put32(end, zip::kEndOfCentralDirSignature);
      Put16(end, 0);
      Put16(end, 0);
      Put16(end, static_cast<uint16_t>(FFiles.size()));
      Put16(end, static_cast<uint16_t>(FFiles.size()));
      Put32(end, static_cast<uint32_t>(cd.size()));
      Put32(end, static_cast<uint32_t>(FEndFileData));
      Put16(end, 0);
      FStream->SetPosition(FEndFileData);
      WriteAll(*FStream, cd);
      WriteAll(*FStream, end);
      // Drop whatever an earlier directory left behind the new end record.
      if (FStream->GetSize() != FStream->GetPosition()) FStream->SetSize(FStream->GetPosition());
    }
  } catch (...) {
    FStream = nullptr;
    FOwnedStream.reset();
    FFiles.clear();
    throw;
  }
  FStream = nullptr;
  FOwnedStream.reset();
  FFiles.clear();
  FEndFileData = 0;
}

std::wstring TZipFile::FileName(int Index) const {
  const TZipHeader& h = FFiles.at(static_cast<size_t>(Index));
  if (h.Flag & zip::kFlagUtf8Names) return zip::DecodeUtf8(h.FileName);
  // Info-ZIP's Unicode path field, valid while it belongs to this very name.
  const std::vector<uint8_t>& x = h.ExtraField;
  for (size_t at = 0; at + 4 <= x.size();) {
    uint16_t id = Get16(x.data() + at), size = Get16(x.data() + at + 2);
    if (at + 4 + size > x.size()) break;
    if (id == 0x7075 && size >= 5 && x[at + 4] == 1 &&
        Get32(x.data() + at + 5) == crc32(0, h.FileName.data(), static_cast<uInt>(h.FileName.size())))
      return zip::DecodeUtf8(std::vector<uint8_t>(x.begin() + at + 9, x.begin() + at + 4 + size));
    at += 4 + size;
  }
  // Archives made on Unix carry the maker's (UTF-8) bytes without the flag.
  if ((h.MadeByVersion >> 8) == 3 && zip::IsValidUtf8(h.FileName)) return zip::DecodeUtf8(h.FileName);
  return zip::DecodeCp437(h.FileName);
}

std::vector<std::wstring> TZipFile::FileNames() const {
  std::vector<std::wstring> names;
  for (int i = 0; i < FileCount(); ++i) names.push_back(FileName(i));
  return names;
}

int TZipFile::IndexOf(const std::wstring& Name) const {
  for (int i = 0; i < FileCount(); ++i)
    if (zip::SameNameIgnoringCase(FileName(i), Name)) return i;
  return -1;
}

std::unique_ptr<TStream> TZipFile::Read(const std::wstring& Name, TZipHeader& LocalHeader) {
  int index = IndexOf(Name);
  if (index < 0) throw EZipException(L"File \"" + Name + L"\" not found in zip archive");
  return Read(index, LocalHeader);
}

std::unique_ptr<TStream> TZipFile::Read(int Index, TZipHeader& LocalHeader) {
  if (FMode == TZipMode::zmClosed || FMode == TZipMode::zmWrite)
    throw EZipException(L"File must be open for reading");
  if (Index < 0 || Index >= FileCount()) throw EZipException(L"Zip member index out of range");
  if (MemberOpen()) throw EZipException(L"Cannot read a member while another one is being written");
  const TZipHeader& h = FFiles[static_cast<size_t>(Index)];
  if (h.Flag & zip::kFlagEncrypted) throw EZipException(L"Encrypted zip members are not supported");
  TZipCompressionHandler handler = CompressionHandler(h.CompressionMethod);
  // Member data ends where the directory (or, while writing, the next free byte) begins.
  int64_t dataEnd = FMode == TZipMode::zmRead ? FArchiveDataEnd : FEndFileData;
  uint8_t local[zip::kLocalHeaderSize];
  if (static_cast<int64_t>(h.LocalHeaderOffset) + zip::kLocalHeaderSize > dataEnd)
    Damaged(L"member header lies outside the member data");
  FStream->SetPosition(h.LocalHeaderOffset);
  FStream->ReadBuffer(local, sizeof local);
  if (Get32(local) != zip::kLocalHeaderSignature) Damaged(L"bad local header");
  int64_t dataStart = static_cast<int64_t>(h.LocalHeaderOffset) + zip::kLocalHeaderSize + Get16(local + 26) +
                      Get16(local + 28);
  if (dataStart + h.CompressedSize > dataEnd) Damaged(L"member data runs past the end of the archive");
  if (h.CompressionMethod == zip::kMethodStored && h.CompressedSize != h.UncompressedSize)
    Damaged(L"stored member sizes differ");
  LocalHeader = h;
  FStream->SetPosition(dataStart);
  return handler.Decompress(*FStream, *this, h);
}

void TZipFile::CheckFileName(const std::wstring& ArchiveFileName) {
  if (ArchiveFileName.empty()) throw EZipException(L"File name must not be empty");
}

std::vector<uint8_t> TZipFile::EncodeName(const std::wstring& Name) const {
  return UTF8Support ? zip::EncodeUtf8(Name) : zip::EncodeCp437(Name);
}

void TZipFile::CheckWritable() const {
  if (FMode != TZipMode::zmWrite && FMode != TZipMode::zmReadWrite)
    throw EZipException(L"File must be open for writing");
}

uint32_t TZipFile::CurrentDosDateTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  uint32_t date = static_cast<uint32_t>(((t.wYear - 1980) << 9) | (t.wMonth << 5) | t.wDay);
  uint32_t time = static_cast<uint32_t>((t.wHour << 11) | (t.wMinute << 5) | (t.wSecond / 2));
  return (date << 16) | time;
}

// The local header after its signature: the part that is patched in place
// once a streamed member's CRC-32 and sizes are known.
static void PutLocalHeaderFields(std::vector<uint8_t>& out, const TZipHeader& h) {
  Put16(out, h.RequiredVersion);
  Put16(out, h.Flag);
  Put16(out, h.CompressionMethod);
  Put32(out, h.ModifiedDateTime);
  Put32(out, h.CRC32);
  Put32(out, h.CompressedSize);
  Put32(out, h.UncompressedSize);
  Put16(out, h.FileNameLength);
  Put16(out, h.ExtraFieldLength);
}

void TZipFile::WriteLocalHeader(const TZipHeader& h) {
  std::vector<uint8_t> out;
  Put32(out, zip::kLocalHeaderSignature);
  PutLocalHeaderFields(out, h);
  PutBytes(out, h.FileName);
  PutBytes(out, h.ExtraField);
  WriteAll(*FStream, out);
}

void TZipFile::PatchLocalHeader(const TZipHeader& h) {
  std::vector<uint8_t> out;
  PutLocalHeaderFields(out, h);
  FStream->SetPosition(static_cast<int64_t>(h.LocalHeaderOffset) + 4);
  FStream->WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
}

TZipFile::TMemberStart TZipFile::StartMember(const std::wstring& ArchiveFileName, uint16_t Compression) {
  CheckFileName(ArchiveFileName);
  CheckWritable();
  TMemberStart start{TZipHeader{}, CompressionHandler(Compression)};
  if (FEndFileData > 0xFFFFFFFFLL) throw EZipException(L"Zip archive larger than 4 GiB");
  TZipHeader& h = start.Header;
  h.MadeByVersion = zip::kVersion20;
  h.RequiredVersion = zip::kVersion20;
  h.Flag = UTF8Support ? zip::kFlagUtf8Names : 0;
  h.CompressionMethod = Compression;
  h.ModifiedDateTime = CurrentDosDateTime();
  h.FileName = EncodeName(ArchiveFileName);
  if (h.FileName.size() > 0xFFFF) throw EZipException(L"File name too long for a zip archive");
  h.FileNameLength = static_cast<uint16_t>(h.FileName.size());
  h.LocalHeaderOffset = static_cast<uint32_t>(FEndFileData);
  FStream->SetPosition(FEndFileData);
  WriteLocalHeader(h);
  return start;
}

void TZipFile::Add(TStream& Data, const std::wstring& ArchiveFileName, uint16_t Compression) {
  if (MemberOpen()) throw Exception(L"Невозможно добавлять одновременно несколько файлов в архив!");
  TMemberStart member = StartMember(ArchiveFileName, Compression);
  TZipHeader& h = member.Header;
  TZipCompressionHandler& handler = member.Handler;
  int64_t start = FStream->GetPosition();
  {
    std::unique_ptr<TStream> compressor = handler.Compress(*FStream, *this, h);
    TAddCounter counter(*compressor);
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
      int32_t n = Data.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
      if (n <= 0) break;
      counter.WriteBuffer(buffer.data(), n);
    }
    if (auto* deflater = dynamic_cast<TZCompressionStream*>(compressor.get())) deflater->Finish();
    h.CRC32 = counter.FCrc;
    if (counter.FSize > 0xFFFFFFFFLL) throw EZipException(L"Zip member larger than 4 GiB");
    h.UncompressedSize = static_cast<uint32_t>(counter.FSize);
  }
  int64_t end = FStream->GetPosition();
  h.CompressedSize = static_cast<uint32_t>(end - start);
  FEndFileData = end;
  PatchLocalHeader(h);
  FFiles.push_back(std::move(h));
}
