#include <gtest/gtest.h>

#include <zlib.h>

#include <stdexcept>

#include "ArchiveTestSupport.h"
#include "ParallelDeflate.h"

namespace {
using TFraming = TParallelDeflate::TFraming;

// Random bytes repeated with a period longer than the blocks of the tests:
// back-references cross block borders, so a block primed with the wrong
// dictionary inflates to wrong bytes.
std::vector<uint8_t> Repeating(size_t size, size_t period) {
  auto unit = Pattern(period, 77);
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = unit[i % period];
  return out;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& input, TFraming framing, size_t block, unsigned threads,
                             size_t piece = 5000) {
  std::vector<uint8_t> out;
  TParallelDeflate deflate(7, framing, [&out](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); },
                           block, threads);
  // Written in uneven pieces, as an encoder writes its rows.
  for (size_t at = 0; at < input.size(); at += piece)
    deflate.Write(input.data() + at, std::min(piece, input.size() - at));
  deflate.Finish();
  return out;
}

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& stream, TFraming framing, size_t expected) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, framing == TFraming::Raw ? -15 : 15), Z_OK);
  std::vector<uint8_t> out(expected + 1);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  // The stream ends exactly where the bytes end, its Adler-32 checked.
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}
}  // namespace

// Sizes around the block: none, less than one, exactly one, an exact
// multiple, not a multiple, and blocks smaller than the 32 KiB dictionary.
TEST(ParallelDeflate, BlocksMakeOneStreamThatInflatesToTheInput) {
  struct Case {
    size_t size, block;
  } cases[] = {{0, 4096},         {1, 4096},          {4095, 4096},         {4096, 4096},
               {3 * 4096, 4096},  {3 * 4096 + 17, 4096}, {200000, 65536},   {200000, 1000}};
  for (const Case& c : cases)
    for (TFraming framing : {TFraming::Raw, TFraming::Zlib}) {
      auto input = Repeating(c.size, 40000);
      auto stream = Deflate(input, framing, c.block, 3);
      EXPECT_EQ(Inflate(stream, framing, input.size()), input)
          << c.size << " bytes in blocks of " << c.block << (framing == TFraming::Raw ? " raw" : " zlib");
    }
}

TEST(ParallelDeflate, ZlibFramingCarriesTheLevelAndTheAdlerOfTheInput) {
  auto input = Repeating(300000, 50000);
  auto stream = Deflate(input, TFraming::Zlib, 65536, 2);
  ASSERT_GE(stream.size(), 6u);
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0xDA);  // what zlib writes for levels 7 to 9
  uint32_t adler = static_cast<uint32_t>(adler32(1, input.data(), static_cast<uInt>(input.size())));
  size_t at = stream.size() - 4;
  uint32_t trailer = (static_cast<uint32_t>(stream[at]) << 24) | (stream[at + 1] << 16) | (stream[at + 2] << 8) |
                     stream[at + 3];
  EXPECT_EQ(trailer, adler);
}

// Blocks finish in any order on the workers; the stream is the same.
TEST(ParallelDeflate, OutputDoesNotDependOnThreadsOrWritePieces) {
  auto input = Repeating(500000, 70000);
  auto one = Deflate(input, TFraming::Zlib, 32768, 1, 5000);
  EXPECT_EQ(Deflate(input, TFraming::Zlib, 32768, 4, 5000), one);
  EXPECT_EQ(Deflate(input, TFraming::Zlib, 32768, 3, 1), one);
  EXPECT_EQ(Deflate(input, TFraming::Zlib, 32768, 2, 500000), one);
}

// Compressible input stays compressed: each block keeps most of its gain.
TEST(ParallelDeflate, BlocksKeepTheCompression) {
  std::vector<uint8_t> text;
  for (int i = 0; i < 40000; ++i) {
    std::string line = "row " + std::to_string(i % 997) + " of the map objects\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  auto parallel = Deflate(text, TFraming::Raw, 65536, 2);
  std::vector<uint8_t> whole(compressBound(static_cast<uLong>(text.size())));
  uLongf size = static_cast<uLongf>(whole.size());
  ASSERT_EQ(compress2(whole.data(), &size, text.data(), static_cast<uLong>(text.size()), 7), Z_OK);
  EXPECT_LT(parallel.size(), size + size / 20);
}

// A sink that fails (a full disk) fails the writer, and the stream is
// abandoned without waiting forever for its workers.
TEST(ParallelDeflate, SinkFailureReachesTheWriterAndEndsTheStream) {
  auto input = Repeating(400000, 30000);
  int calls = 0;
  auto deflate = std::make_unique<TParallelDeflate>(
      7, TFraming::Raw,
      [&calls](const uint8_t*, size_t) {
        if (++calls == 2) throw EInOutError(L"disk full");
      },
      8192, 2);
  EXPECT_THROW(
      {
        for (size_t at = 0; at < input.size(); at += 10000) deflate->Write(input.data() + at, 10000);
        deflate->Finish();
      },
      EInOutError);
  EXPECT_THROW(deflate->Finish(), EDeflateError);
  EXPECT_THROW(deflate->Write(input.data(), 1), EDeflateError);
  deflate.reset();
  EXPECT_EQ(calls, 2);
}
