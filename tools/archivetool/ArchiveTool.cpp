// archivetool COMMAND ARGS... (paths are Windows paths; text files UTF-8)
//   zip-write ZIP MANIFEST [cp437]   members from MANIFEST lines
//                                    "stream|add <TAB> method <TAB> name <TAB> source file"
//   zip-read ZIP OUTDIR              OUTDIR\listing.tsv ("index <TAB> name <TAB> size <TAB> crc
//                                    <TAB> method <TAB> flags") and OUTDIR\<index>.bin
//   hash FILE...                     Git blob hash of each file, one a line
//   hash-member ZIP NAME             Git blob hash of a member, read through its decompressing stream
//   encode FORMAT PPM OUT            image file of FORMAT (bmp, jpg, png) from a PPM file
//   encode-canvas FORMAT CANVAS W H OUT   image of the W x H corner of a raw canvas file
//   decode FORMAT IN PPM             a PPM file of what the codec of FORMAT reads from IN
//   make-canvas CANVAS PPM           a full raw canvas of a generated map-like picture, and
//                                    the same pixels as a PPM file (for the benchmarks)
// Failures print "error: <class>: <message>" and exit with 1. encode and
// encode-canvas print "peak-memory-bytes <n>" (the process's peak commit);
// encode-canvas also prints "encode-seconds <s>" (the encoding alone).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "GitBlobHash.h"
#include "Ppm.h"
#include "StreamExtensions.h"
#include "ZipNames.h"
#include "images/Graphics.h"
#include "images/RawCanvas.h"
#include "uZipFixes.h"

namespace {
std::string Utf8(const std::wstring& text) {
  auto bytes = zip::EncodeUtf8(text);
  return {bytes.begin(), bytes.end()};
}

std::vector<std::wstring> Split(const std::wstring& line, wchar_t sep) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    size_t at = line.find(sep, start);
    parts.push_back(line.substr(start, at - start));
    if (at == std::wstring::npos) return parts;
    start = at + 1;
  }
}

std::wstring ReadUtf8File(const std::wstring& fileName) {
  TMemoryStream m;
  m.LoadFromFile(fileName);
  return zip::DecodeUtf8(std::vector<uint8_t>(m.Memory(), m.Memory() + m.GetSize()));
}

void WriteText(TStream& out, const std::string& text) {
  if (!text.empty()) out.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

const TGraphicClass& Kind(const std::wstring& format) {
  const TGraphicClass* kind = GraphicClassForFormat(format);
  if (!kind) throw EArgumentException(L"Unknown image format " + format);
  return *kind;
}

void PrintPeakMemory() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters))
    std::printf("peak-memory-bytes %llu\n", static_cast<unsigned long long>(counters.PeakPagefileUsage));
}

void ZipWrite(const std::wstring& zipName, const std::wstring& manifest, bool cp437) {
  TCustomZipFile zip;
  zip.UTF8Support = !cp437;
  zip.Open(zipName, TZipMode::zmWrite);
  for (const std::wstring& raw : Split(ReadUtf8File(manifest), L'\n')) {
    std::wstring line = raw;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty()) continue;
    auto f = Split(line, L'\t');
    if (f.size() != 4) throw EArgumentException(L"Bad manifest line: " + line);
    auto method = static_cast<uint16_t>(std::stoi(f[1]));
    TFileStream source(f[3], fmOpenRead | fmShareDenyWrite);
    if (f[0] == L"stream") {
      // Written in uneven pieces, as a download delivers them.
      TStream* member = zip.PrepareAddFile(f[2], method);
      std::vector<uint8_t> buffer(7000);
      for (;;) {
        int32_t n = source.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (n <= 0) break;
        member->WriteBuffer(buffer.data(), n);
      }
      zip.EndAddFile();
    } else {
      zip.Add(source, f[2], method);
    }
  }
  zip.Close();
}

void ZipRead(const std::wstring& zipName, const std::wstring& outDir) {
  TZipFile zip;
  zip.Open(zipName, TZipMode::zmRead);
  TFileStream listing(outDir + L"\\listing.tsv", fmCreate);
  for (int i = 0; i < zip.FileCount(); ++i) {
    TZipHeader h;
    auto reader = zip.Read(i, h);
    TFileStream out(outDir + L"\\" + std::to_wstring(i) + L".bin", fmCreate);
    std::vector<uint8_t> buffer(65536);
    for (;;) {
      int32_t n = reader->Read(buffer.data(), static_cast<int32_t>(buffer.size()));
      if (n <= 0) break;
      out.WriteBuffer(buffer.data(), n);
    }
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", h.CRC32);
    WriteText(listing, std::to_string(i) + "\t" + Utf8(zip.FileName(i)) + "\t" + std::to_string(h.UncompressedSize) +
                           "\t" + crc + "\t" + std::to_string(h.CompressionMethod) + "\t" + std::to_string(h.Flag) +
                           "\n");
  }
}

void Encode(const std::wstring& format, const std::wstring& ppm, const std::wstring& outName) {
  auto image = Kind(format).Create();
  {
    TBitmap24 bitmap = ReadPpm(ppm);
    image->Assign(bitmap);
  }
  TFileStream out(outName, fmCreate);
  image->SaveToStream(out);
  PrintPeakMemory();
}

void EncodeCanvas(const std::wstring& format, const std::wstring& canvasName, int w, int h, const std::wstring& outName) {
  TFileStream canvas(canvasName, fmOpenRead | fmShareDenyWrite);
  auto image = Kind(format).Create();
  image->Assign(std::make_unique<TRawCanvasRowSource>(canvas, w, h));
  TFileStream out(outName, fmCreate);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  image->SaveToStream(out);
  QueryPerformanceCounter(&end);
  std::printf("encode-seconds %.2f\n", static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  PrintPeakMemory();
}

void Decode(const std::wstring& format, const std::wstring& inName, const std::wstring& ppm) {
  TFileStream in(inName, fmOpenRead | fmShareDenyWrite);
  auto image = Kind(format).Create();
  image->LoadFromStream(in);
  WritePpm(*GraphicToBitmap(*image), ppm);
}

// Smooth terrain-like colours with a little noise: neither flat nor random.
void MakeCanvas(const std::wstring& canvasName, const std::wstring& ppmName) {
  const int side = raw_canvas::kSide;
  TFileStream canvas(canvasName, fmCreate);
  TFileStream ppm(ppmName, fmCreate);
  std::string head = "P6\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
  ppm.WriteBuffer(head.data(), static_cast<int32_t>(head.size()));
  std::vector<uint8_t> bgr(static_cast<size_t>(side) * 3), rgb(bgr.size());
  uint32_t seed = 12345;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      seed = seed * 1103515245u + 12345u;
      int noise = static_cast<int>((seed >> 16) & 7);
      int r = ((x / 9 + y / 23) & 255), g = (((x >> 4) * (y >> 4)) >> 6) & 255, b = ((x ^ y) >> 5) & 255;
      uint8_t* p = bgr.data() + static_cast<size_t>(x) * 3;
      p[0] = static_cast<uint8_t>((b + noise) & 255);
      p[1] = static_cast<uint8_t>((g + noise) & 255);
      p[2] = static_cast<uint8_t>((r + noise) & 255);
      uint8_t* q = rgb.data() + static_cast<size_t>(x) * 3;
      q[0] = p[2];
      q[1] = p[1];
      q[2] = p[0];
    }
    canvas.WriteBuffer(bgr.data(), static_cast<int32_t>(bgr.size()));
    ppm.WriteBuffer(rgb.data(), static_cast<int32_t>(rgb.size()));
  }
}

int Run(int argc, wchar_t** argv) {
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"zip-write" && (argc == 4 || argc == 5)) {
    ZipWrite(argv[2], argv[3], argc == 5 && std::wstring(argv[4]) == L"cp437");
  } else if (command == L"zip-read" && argc == 4) {
    ZipRead(argv[2], argv[3]);
  } else if (command == L"hash" && argc >= 3) {
    for (int i = 2; i < argc; ++i) {
      TFileStream file(argv[i], fmOpenRead | fmShareDenyWrite);
      std::printf("%s\n", GitBlobHash(file).c_str());
    }
  } else if (command == L"hash-member" && argc == 4) {
    TZipFile zip;
    zip.Open(argv[2], TZipMode::zmRead);
    TZipHeader h;
    auto reader = zip.Read(argv[3], h);
    TPartialStream view(reader.release(), h.UncompressedSize, true);
    std::printf("%s\n", GitBlobHash(view).c_str());
  } else if (command == L"encode" && argc == 5) {
    Encode(argv[2], argv[3], argv[4]);
  } else if (command == L"encode-canvas" && argc == 7) {
    EncodeCanvas(argv[2], argv[3], std::stoi(argv[4]), std::stoi(argv[5]), argv[6]);
  } else if (command == L"make-canvas" && argc == 4) {
    MakeCanvas(argv[2], argv[3]);
  } else if (command == L"decode" && argc == 5) {
    Decode(argv[2], argv[3], argv[4]);
  } else {
    std::fprintf(stderr, "usage: see the head of ArchiveTool.cpp\n");
    return 2;
  }
  return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const Exception& e) {
    std::printf("error: %s: %s\n", Utf8(e.ClassName()).c_str(), Utf8(e.Message()).c_str());
  } catch (const std::exception& e) {
    std::printf("error: std::exception: %s\n", e.what());
  }
  std::fflush(stdout);
  return 1;
}
