#include <gtest/gtest.h>

#include "ArchiveTestSupport.h"
#include "StreamExtensions.h"

namespace {
// An inner stream of 100 bytes 0..99.
struct Inner {
  TMemoryStream Stream;
  Inner() {
    std::vector<uint8_t> b(100);
    for (int i = 0; i < 100; ++i) b[i] = static_cast<uint8_t>(i);
    Fill(Stream, b);
  }
};
}  // namespace

TEST(PartialStream, ReadsStopAtTheBound) {
  Inner inner;
  inner.Stream.SetPosition(20);
  TPartialStream view(&inner.Stream, 10, false);
  EXPECT_EQ(view.Size(), 10);
  std::vector<uint8_t> buf(4096);
  ASSERT_EQ(view.Read(buf.data(), 4096), 10);
  EXPECT_EQ(buf[0], 20);
  EXPECT_EQ(buf[9], 29);
  EXPECT_EQ(view.Read(buf.data(), 4096), 0);
  uint8_t one;
  EXPECT_THROW(view.ReadBuffer(&one, 1), EReadError);
}

TEST(PartialStream, SeeksOutsideTheBoundAreIgnored) {
  struct Case {
    int64_t start, offset;
    TSeekOrigin origin;
    int64_t expected;
  } cases[] = {
      {0, 11, TSeekOrigin::soBeginning, 0},  {0, -1, TSeekOrigin::soCurrent, 0},
      {0, 10, TSeekOrigin::soBeginning, 10}, {0, -3, TSeekOrigin::soEnd, 7},
      {5, 6, TSeekOrigin::soCurrent, 5},     {5, 1, TSeekOrigin::soEnd, 5},
      {5, -5, TSeekOrigin::soCurrent, 0},
  };
  for (const Case& c : cases) {
    Inner inner;
    TPartialStream view(&inner.Stream, 10, false);
    view.SetPosition(c.start);
    EXPECT_EQ(view.Seek(c.offset, c.origin), c.expected) << c.start << " " << c.offset;
    EXPECT_EQ(view.Position(), c.expected);
  }
  Inner inner;
  TPartialStream view(&inner.Stream, 10, false);
  view.SetPosition(10);
  uint8_t b;
  EXPECT_EQ(view.Read(&b, 1), 0);
  view.Seek(-3, TSeekOrigin::soEnd);
  ASSERT_EQ(view.Read(&b, 1), 1);
  EXPECT_EQ(b, 7);
}

TEST(PartialStream, ViewsSharingAnInnerStreamKeepTheirOwnPlace) {
  Inner inner;
  TPartialStream first(&inner.Stream, 50, false);
  inner.Stream.SetPosition(60);
  TPartialStream second(&inner.Stream, 40, false);
  uint8_t a[3], b[3];
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(first.Read(a, 3), 3);
    ASSERT_EQ(second.Read(b, 3), 3);
    EXPECT_EQ(a[0], round * 3);
    EXPECT_EQ(b[2], 60 + round * 3 + 2);
  }
}

TEST(PartialStream, ShortInnerStreamIsNotPadded) {
  Inner inner;
  inner.Stream.SetPosition(95);
  TPartialStream view(&inner.Stream, 10, false);
  EXPECT_EQ(ReadAll(view).size(), 5u);
}

TEST(StreamCover, StartsWhereTheInnerStreamWas) {
  Inner inner;
  inner.Stream.SetPosition(40);
  TStreamCover view(&inner.Stream, false);
  EXPECT_EQ(view.Size(), 60);
  uint8_t b;
  ASSERT_EQ(view.Read(&b, 1), 1);
  EXPECT_EQ(b, 40);
  EXPECT_EQ(view.Seek(-5, TSeekOrigin::soBeginning), 0);
  view.SetPosition(2);
  EXPECT_EQ(view.Seek(-5, TSeekOrigin::soCurrent), 0);
  EXPECT_EQ(view.Seek(7, TSeekOrigin::soCurrent), 7);  // forward moves go through the inner stream
  ASSERT_EQ(view.Read(&b, 1), 1);
  EXPECT_EQ(b, 47);
  EXPECT_EQ(view.Seek(-10, TSeekOrigin::soEnd), 50);
  EXPECT_EQ(view.Write(&b, 1), 0);
  EXPECT_THROW(view.WriteBuffer(&b, 1), EWriteError);
}

TEST(StreamCover, OwnedInnerStreamIsReleasedOnce) {
  struct Counted : TMemoryStream {
    int* Deleted;
    explicit Counted(int* d) : Deleted(d) {}
    ~Counted() override { ++*Deleted; }
  };
  int deleted = 0;
  {
    auto* a = new Counted(&deleted);
    TStreamCover owner(a, true);
    TMemoryStream other;
    TStreamCover copy(&other, false);
    copy.Assign(owner);
    auto* b = new Counted(&deleted);
    owner.ReconectStream(b, true);
    EXPECT_EQ(deleted, 1);  // the first inner stream, dropped by the reconnect
  }
  EXPECT_EQ(deleted, 2);
}
