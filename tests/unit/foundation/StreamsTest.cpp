#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>

#include "Streams.h"
#include "TempFolder.h"

namespace {

// One stream variant holding 4 bytes, positioned at its start, that takes no
// writes where the variant allows that (read-only file, read-only handle).
struct TVariant {
  const char* Name;
  std::function<std::unique_ptr<TStream>(const TempFolder&, UniqueFileHandle&)> Make;
};

std::unique_ptr<TStream> MakeFile(const TempFolder& folder, UniqueFileHandle&) {
  folder.WriteFile(L"data.bin", "abcd");
  return std::make_unique<TFileStream>(folder.File(L"data.bin"), fmOpenRead | fmShareDenyWrite);
}

std::unique_ptr<TStream> MakeHandle(const TempFolder& folder, UniqueFileHandle& handle) {
  folder.WriteFile(L"data.bin", "abcd");
  handle.reset(CreateFileW(folder.File(L"data.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr));
  return std::make_unique<THandleStream>(handle.get());
}

std::unique_ptr<TStream> MakeMemory(const TempFolder&, UniqueFileHandle&) {
  auto memory = std::make_unique<TMemoryStream>();
  memory->WriteBuffer("abcd", 4);
  memory->SetPosition(0);
  return memory;
}

const TVariant kVariants[] = {{"file", &MakeFile}, {"handle", &MakeHandle}, {"memory", &MakeMemory}};

}  // namespace

TEST(Streams, ReadBufferRaisesOnAShortReadAndReadsWholeBuffersOtherwise) {
  for (const TVariant& v : kVariants) {
    SCOPED_TRACE(v.Name);
    TempFolder folder;
    UniqueFileHandle handle;
    auto stream = v.Make(folder, handle);
    char two[2] = {};
    stream->ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "ab");
    char three[3] = {};
    try {
      stream->ReadBuffer(three, 3);  // only 2 bytes left
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), L"Stream read error");
    }
  }
}

TEST(Streams, WriteBufferRaisesWhenTheBytesDoNotGoOut) {
  // File and handle variants are opened for reading only.
  for (const TVariant& v : {kVariants[0], kVariants[1]}) {
    SCOPED_TRACE(v.Name);
    TempFolder folder;
    UniqueFileHandle handle;
    auto stream = v.Make(folder, handle);
    try {
      stream->WriteBuffer("xy", 2);
      ADD_FAILURE() << "no exception";
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message(), L"Stream write error");
    }
  }
  // Memory takes writes past its end (it grows) but none before its start.
  TMemoryStream memory;
  memory.SetPosition(6);
  memory.WriteBuffer("xy", 2);
  EXPECT_EQ(memory.GetSize(), 8);
  memory.Seek(-20, TSeekOrigin::soEnd);
  EXPECT_THROW(memory.WriteBuffer("xy", 2), EWriteError);
}

TEST(Streams, MemoryPositionBeforeTheStartReadsNothing) {
  TMemoryStream memory;
  memory.WriteBuffer("abcd", 4);
  memory.SetPosition(-2);
  char buf[4] = {};
  EXPECT_EQ(memory.Read(buf, 4), 0);
  EXPECT_THROW(memory.ReadBuffer(buf, 1), EReadError);
}

TEST(Streams, ZeroLengthTransfersNeverRaise) {
  for (const TVariant& v : kVariants) {
    SCOPED_TRACE(v.Name);
    TempFolder folder;
    UniqueFileHandle handle;
    auto stream = v.Make(folder, handle);
    stream->SetPosition(4);
    EXPECT_NO_THROW(stream->ReadBuffer(nullptr, 0));
    EXPECT_NO_THROW(stream->WriteBuffer(nullptr, 0));
  }
}
