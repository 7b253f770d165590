#include <gtest/gtest.h>

#include <functional>

#include <zlib.h>

#include "ArchiveTestSupport.h"
#include "uZipFixes.h"

namespace {
uint32_t Crc(const std::vector<uint8_t>& b) { return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size()))); }

void Stream(TCustomZipFile& zip, const std::wstring& name, uint16_t method, const std::vector<uint8_t>& data) {
  TStream* member = zip.PrepareAddFile(name, method);
  // Several writes, as a producer delivers them.
  for (size_t at = 0; at < data.size(); at += 1000)
    member->WriteBuffer(data.data() + at, static_cast<int32_t>(std::min<size_t>(1000, data.size() - at)));
  zip.EndAddFile();
}

std::vector<uint8_t> Member(TZipFile& zip, const std::wstring& name, TZipHeader* header = nullptr) {
  TZipHeader h;
  auto reader = zip.Read(name, h);
  if (header) *header = h;
  return ReadAll(*reader, 777);
}

template <class E>
std::wstring MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message();
  }
  return L"(nothing raised)";
}
}  // namespace

TEST(CustomZipFile, StreamedAndAddedMembersAreListedInOrderWithFinalHeaders) {
  TMemoryStream archive;
  auto first = Pattern(5000, 1), second = Pattern(70000, 2), third = Bytes("ordinary add");
  {
    TCustomZipFile zip;
    zip.Open(archive, TZipMode::zmWrite);
    Stream(zip, L"first.bin", zip::kMethodDeflated, first);
    Stream(zip, L"sub/second.bin", zip::kMethodStored, second);
    TMemoryStream source;
    Fill(source, third);
    zip.Add(source, L"third.txt", zip::kMethodDeflated);
    zip.Close();
  }
  std::vector<uint8_t> bytes(archive.Memory(), archive.Memory() + archive.GetSize());
  TZipFile reader;
  reader.Open(archive, TZipMode::zmRead);
  ASSERT_EQ(reader.FileNames(), (std::vector<std::wstring>{L"first.bin", L"sub/second.bin", L"third.txt"}));
  const std::vector<uint8_t>* expected[] = {&first, &second, &third};
  for (int i = 0; i < 3; ++i) {
    TZipHeader h;
    auto stream = reader.Read(i, h);
    EXPECT_EQ(ReadAll(*stream), *expected[i]);
    // The local header holds what the central directory holds.
    size_t at = h.LocalHeaderOffset;
    EXPECT_EQ(Le32(bytes, at), 0x04034B50u);
    EXPECT_EQ(Le16(bytes, at + 4), 20);
    EXPECT_EQ(Le16(bytes, at + 6), 0x0800);
    EXPECT_EQ(Le32(bytes, at + 14), Crc(*expected[i]));
    EXPECT_EQ(Le32(bytes, at + 18), h.CompressedSize);
    EXPECT_EQ(Le32(bytes, at + 22), expected[i]->size());
    EXPECT_EQ(h.CRC32, Crc(*expected[i]));
  }
}

TEST(CustomZipFile, EmptyMembers) {
  for (uint16_t method : {zip::kMethodStored, zip::kMethodDeflated}) {
    TMemoryStream archive;
    TCustomZipFile zip;
    zip.Open(archive, TZipMode::zmWrite);
    zip.PrepareAddFile(L"empty", method);
    zip.EndAddFile();
    const TZipHeader& h = zip.GetFiles().back();
    EXPECT_EQ(h.CRC32, 0u);
    EXPECT_EQ(h.UncompressedSize, 0u);
    EXPECT_EQ(h.CompressedSize, method == zip::kMethodStored ? 0u : 2u);  // 03 00: an empty final block
    zip.Close();
    TZipFile reader;
    reader.Open(archive, TZipMode::zmRead);
    EXPECT_TRUE(Member(reader, L"empty").empty());
  }
}

TEST(CustomZipFile, StoredMemberReadsBackBeforeCloseInReadWriteMode) {
  TScratchDir dir;
  std::wstring path = dir.File(L"map.download");
  { TFileStream create(path, fmCreate); }
  auto data = Pattern(12345);
  TCustomZipFile zip;
  zip.Open(path, TZipMode::zmReadWrite);
  Stream(zip, L"map.png", zip::kMethodStored, data);
  Stream(zip, L"settings.ini", zip::kMethodDeflated, Bytes("[main]\r\nMapFormat=png\r\n"));
  TZipHeader h;
  auto reader = zip.Read(L"MAP.PNG", h);
  EXPECT_EQ(reader->Size(), 12345);
  EXPECT_EQ(ReadAll(*reader), data);
  reader.reset();
  EXPECT_EQ(Member(zip, L"settings.ini"), Bytes("[main]\r\nMapFormat=png\r\n"));
  // Nor may a read while a member is being written.
  TStream* open = zip.PrepareAddFile(L"open.bin", zip::kMethodDeflated);
  open->WriteBuffer("abc", 3);
  EXPECT_THROW(Member(zip, L"map.png"), EZipException);
  zip.EndAddFile();
  EXPECT_EQ(Member(zip, L"open.bin"), Bytes("abc"));
  zip.Close();
  EXPECT_TRUE(TZipFile::IsValid(path));
}

TEST(CustomZipFile, MemberStreamCannotBeRead) {
  TMemoryStream archive;
  TCustomZipFile zip;
  zip.Open(archive, TZipMode::zmWrite);
  TStream* member = zip.PrepareAddFile(L"a", zip::kMethodDeflated);
  uint8_t b;
  EXPECT_EQ(MessageOf<ENotSupportedException>([&] { member->Read(&b, 1); }), L"TCRC32StreamWriteWrapper.Read");
  zip.EndAddFile();
}

TEST(CustomZipFile, NamesAreUtf8WithFlagOrCodePage437) {
  struct Case {
    bool utf8;
    std::wstring name;
    std::vector<uint8_t> stored;
    uint16_t flag;
  } cases[] = {
      {true, L"карта/Ёж.txt", Bytes("\xD0\xBA\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0/\xD0\x81\xD0\xB6.txt"), 0x0800},
      {false, L"Über ñ.txt", Bytes("\x9A" "ber \xA4.txt"), 0},
  };
  for (const Case& c : cases) {
    TMemoryStream archive;
    {
      TCustomZipFile zip;
      zip.UTF8Support = c.utf8;
      zip.Open(archive, TZipMode::zmWrite);
      Stream(zip, c.name, zip::kMethodDeflated, Bytes("x"));
      EXPECT_EQ(zip.GetFiles().back().FileName, c.stored);
      EXPECT_EQ(zip.GetFiles().back().Flag, c.flag);
    }
    TZipFile reader;
    reader.Open(archive, TZipMode::zmRead);
    EXPECT_EQ(reader.FileName(0), c.name);
  }
}

TEST(CustomZipFile, LookupIgnoresLetterCaseInAnyAlphabet) {
  TMemoryStream archive;
  TCustomZipFile zip;
  zip.Open(archive, TZipMode::zmWrite);
  Stream(zip, L"Settings.INI", zip::kMethodDeflated, Bytes("s"));
  Stream(zip, L"Карта.bmp", zip::kMethodDeflated, Bytes("k"));
  EXPECT_EQ(zip.IndexOf(L"settings.ini"), 0);
  EXPECT_EQ(zip.IndexOf(L"кАРТА.BMP"), 1);
  EXPECT_EQ(zip.IndexOf(L"map.bmp"), -1);
}

TEST(CustomZipFile, MisuseIsReportedWithItsMessage) {
  TMemoryStream archive;
  TCustomZipFile zip;
  EXPECT_EQ(MessageOf<EZipException>([&] { zip.PrepareAddFile(L"a", 0); }), L"File must be open for writing");
  EXPECT_EQ(MessageOf<Exception>([&] { zip.EndAddFile(); }), L"Попытка окончить неначатую запись!");
  zip.Open(archive, TZipMode::zmWrite);
  EXPECT_EQ(MessageOf<EZipException>([&] { zip.PrepareAddFile(L"", 0); }), L"File name must not be empty");
  EXPECT_EQ(MessageOf<EZipException>([&] { zip.PrepareAddFile(L"a", 9); }),
            L"Support for compression method not registered: Deflate64");
  TStream* open = zip.PrepareAddFile(L"open", zip::kMethodStored);
  open->WriteBuffer("abc", 3);
  EXPECT_EQ(MessageOf<Exception>([&] { zip.PrepareAddFile(L"b", 0); }),
            L"Невозможно добавлять одновременно несколько файлов в архив!");
  // An ordinary add may not move the archive under the open member.
  TMemoryStream other;
  EXPECT_EQ(MessageOf<Exception>([&] { zip.Add(other, L"c"); }),
            L"Невозможно добавлять одновременно несколько файлов в архив!");
  zip.EndAddFile();  // the open member was not disturbed
  EXPECT_EQ(zip.GetFiles().back().UncompressedSize, 3u);
  zip.Close();

  TZipFile readOnly;
  readOnly.Open(archive, TZipMode::zmRead);
  TMemoryStream data;
  EXPECT_EQ(MessageOf<EZipException>([&] { readOnly.Add(data, L"x"); }), L"File must be open for writing");
}

TEST(CustomZipFile, ShortWriteOfTheHeaderFails) {
  // Takes 10 bytes, then refuses.
  struct Full : TMemoryStream {
    int32_t Write(const void* b, int32_t n) override {
      int32_t room = static_cast<int32_t>(std::max<int64_t>(0, 10 - GetPosition()));
      return TMemoryStream::Write(b, std::min(n, room));
    }
  } archive;
  TCustomZipFile zip;
  zip.Open(archive, TZipMode::zmWrite);
  EXPECT_EQ(MessageOf<EZipException>([&] { zip.PrepareAddFile(L"a", 0); }), L"Error writing zip file");
  EXPECT_EQ(MessageOf<Exception>([&] { zip.EndAddFile(); }), L"Попытка окончить неначатую запись!");
}

// Archives damaged in one place each give an EZipException on open or read,
// never a crash or unbounded output.
TEST(ZipFile, DamagedArchivesAreRefused) {
  auto data = Pattern(3000);
  TMemoryStream good;
  {
    TCustomZipFile zip;
    zip.Open(good, TZipMode::zmWrite);
    Stream(zip, L"member", zip::kMethodDeflated, data);
  }
  const std::vector<uint8_t> original(good.Memory(), good.Memory() + good.GetSize());
  size_t cd = Le32(original, original.size() - 6);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  } cases[] = {
      {"cut before the end record", [](auto& b) { b.resize(b.size() - 10); }},
      {"data runs past the archive", [&](auto& b) { SetLe32(b, cd + 20, 0x7FFFFFF0); }},
      {"inflates beyond its size", [&](auto& b) { SetLe32(b, cd + 24, 100); }},
      {"shorter than its size", [&](auto& b) { SetLe32(b, cd + 24, 5000); }},
      {"corrupt deflate data", [](auto& b) { for (size_t i = 40; i < 60; ++i) b[i] ^= 0x5A; }},
      {"wrong CRC", [&](auto& b) { SetLe32(b, cd + 16, 0x12345678); }},
      {"bad local header", [](auto& b) { b[0] = 'X'; }},
      {"directory offset beyond end", [](auto& b) { SetLe32(b, b.size() - 6, 0x10000000); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = original;
    c.damage(bytes);
    TMemoryStream damaged;
    Fill(damaged, bytes);
    EXPECT_THROW(
        {
          TZipFile zip;
          zip.Open(damaged, TZipMode::zmRead);
          Member(zip, L"member");
        },
        EZipException)
        << c.what;
  }
}

// A one-member deflated archive as other tools write it: data descriptor
// (flag bit 3, zero sizes in the local header), maker, extra field, comment.
std::vector<uint8_t> ForeignArchive(const std::vector<uint8_t>& name, uint16_t madeBy, uint16_t flags,
                                    const std::vector<uint8_t>& extra, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> b;
  auto put16 = [&](uint16_t v) { b.push_back(v & 0xFF); b.push_back(v >> 8); };
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF); };
  auto append = [&](const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); };
  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(content.size())) + 16);
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = const_cast<Bytef*>(content.data());
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  uint32_t crc = Crc(content), csize = static_cast<uint32_t>(packed.size()), usize = static_cast<uint32_t>(content.size());
  flags |= 8;
  put32(0x04034B50); put16(20); put16(flags); put16(8); put32(0); put32(0); put32(0); put32(0);
  put16(static_cast<uint16_t>(name.size())); put16(static_cast<uint16_t>(extra.size()));
  append(name); append(extra); append(packed);
  put32(0x08074B50); put32(crc); put32(csize); put32(usize);
  uint32_t cdStart = static_cast<uint32_t>(b.size());
  put32(0x02014B50); put16(madeBy); put16(20); put16(flags); put16(8); put32(0); put32(crc); put32(csize); put32(usize);
  put16(static_cast<uint16_t>(name.size())); put16(static_cast<uint16_t>(extra.size())); put16(0); put16(0); put16(0);
  put32(0); put32(0);
  append(name); append(extra);
  uint32_t cdSize = static_cast<uint32_t>(b.size()) - cdStart;
  put32(0x06054B50); put16(0); put16(0); put16(1); put16(1); put32(cdSize); put32(cdStart); put16(7);
  append(Bytes("comment"));
  return b;
}

TEST(ZipFile, ReadsMembersOfOtherTools) {
  auto utf8 = Bytes("\xD0\xBA.txt");  // к.txt
  auto unicodePath = [&](uint32_t crc) {
    std::vector<uint8_t> x = {0x75, 0x70, static_cast<uint8_t>(5 + utf8.size()), 0, 1};
    for (int i = 0; i < 4; ++i) x.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    x.insert(x.end(), utf8.begin(), utf8.end());
    return x;
  };
  auto unrelated = std::vector<uint8_t>{0x55, 0x54, 1, 0, 3};  // a time stamp field
  struct Case {
    const char* what;
    std::vector<uint8_t> name;
    uint16_t madeBy, flags;
    std::vector<uint8_t> extra;
    std::wstring expected;
  } cases[] = {
      {"flagged UTF-8", utf8, 20, 0x800, {}, L"к.txt"},
      {"made on Unix", utf8, 0x031E, 0, unrelated, L"к.txt"},
      {"made on DOS", utf8, 20, 0, {}, L"╨║.txt"},
      {"Unicode path field", Bytes("k.txt"), 20, 0, unicodePath(Crc(Bytes("k.txt"))), L"к.txt"},
      {"stale Unicode path field", Bytes("k.txt"), 20, 0, unicodePath(1), L"k.txt"},
  };
  auto content = Bytes("hello, descriptor");
  for (const Case& c : cases) {
    TMemoryStream archive;
    Fill(archive, ForeignArchive(c.name, c.madeBy, c.flags, c.extra, content));
    TZipFile zip;
    zip.Open(archive, TZipMode::zmRead);
    EXPECT_EQ(zip.FileName(0), c.expected) << c.what;
    EXPECT_EQ(Member(zip, c.expected), content) << c.what;
  }
}

// Members larger than a deflate block are compressed on several threads; the
// facility's reader (which checks size and CRC-32) gets the bytes back.
TEST(CustomZipFile, DeflatedMembersOfSeveralBlocksReadBack) {
  std::vector<uint8_t> streamed, added;
  for (int i = 0; streamed.size() < 3 * 1024 * 1024 + 12345; ++i) {
    std::string line = "object " + std::to_string(i % 4099) + " at " + std::to_string(i * 7 % 1009) + "\r\n";
    streamed.insert(streamed.end(), line.begin(), line.end());
  }
  auto noise = Pattern(64 * 1024, 9);
  // 2.5 MiB that hardly compress: blocks come out larger than they went in.
  for (int i = 0; i < 40; ++i) added.insert(added.end(), noise.begin(), noise.end());
  TMemoryStream archive;
  {
    TCustomZipFile zip;
    zip.Open(archive, TZipMode::zmWrite);
    Stream(zip, L"objects.txt", zip::kMethodDeflated, streamed);
    TMemoryStream source;
    Fill(source, added);
    zip.Add(source, L"map.jpg", zip::kMethodDeflated);
    zip.Close();
  }
  TZipFile reader;
  reader.Open(archive, TZipMode::zmRead);
  TZipHeader h;
  EXPECT_EQ(Member(reader, L"objects.txt", &h), streamed);
  EXPECT_EQ(h.CRC32, Crc(streamed));
  EXPECT_LT(h.CompressedSize, streamed.size() / 4);
  EXPECT_EQ(Member(reader, L"map.jpg", &h), added);
  EXPECT_EQ(h.CRC32, Crc(added));
}
