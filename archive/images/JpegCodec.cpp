// JPEG through libjpeg: decodes greyscale, colour and progressive files;
// encodes baseline colour at quality 90, one row at a time.
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <vector>

#include <jpeglib.h>

#include "Graphics.h"

namespace {
constexpr size_t kBufferSize = 64 * 1024;

// libjpeg reports failures by calling error_exit, which must not return: it
// jumps back to the setjmp of the call that started the work. No C++ object
// with a destructor lives in the frames it jumps over.
struct TJpegError {
  jpeg_error_mgr Manager;
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX] = {};
  std::exception_ptr Pending;  // a stream failure that caused the jump
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  if (!err->Message[0]) cinfo->err->format_message(cinfo, err->Message);
  longjmp(err->Jump, 1);
}
void OutputMessage(j_common_ptr) {}

[[noreturn]] void RaiseJpeg(TJpegError& err) {
  if (err.Pending) std::rethrow_exception(err.Pending);
  std::string text = err.Message;
  throw EInvalidGraphic(L"JPEG error: " + std::wstring(text.begin(), text.end()));
}

struct TJpegSource {
  jpeg_source_mgr Manager;
  TStream* Stream;
  std::vector<uint8_t> Buffer;
};

boolean FillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  int32_t n = 0;
  try {
    n = src->Stream->Read(src->Buffer.data(), static_cast<int32_t>(src->Buffer.size()));
  } catch (...) {
    reinterpret_cast<TJpegError*>(cinfo->err)->Pending = std::current_exception();
    n = -1;
  }
  if (n == 0) snprintf(reinterpret_cast<TJpegError*>(cinfo->err)->Message, JMSG_LENGTH_MAX, "data ends early");
  if (n <= 0) ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
  src->Manager.next_input_byte = src->Buffer.data();
  src->Manager.bytes_in_buffer = static_cast<size_t>(n);
  return TRUE;
}
void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}
void SkipInput(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  while (count > 0) {
    if (src->Manager.bytes_in_buffer == 0) FillInput(cinfo);
    size_t step = std::min<size_t>(static_cast<size_t>(count), src->Manager.bytes_in_buffer);
    src->Manager.next_input_byte += step;
    src->Manager.bytes_in_buffer -= step;
    count -= static_cast<long>(step);
  }
}

struct TJpegDestination {
  jpeg_destination_mgr Manager;
  TStream* Stream;
  std::vector<uint8_t> Buffer;
};

void InitDestination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  dst->Manager.next_output_byte = dst->Buffer.data();
  dst->Manager.free_in_buffer = dst->Buffer.size();
}
bool Flush(j_compress_ptr cinfo, size_t count) {
  auto* dst = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  try {
    dst->Stream->WriteBuffer(dst->Buffer.data(), static_cast<int32_t>(count));
    return true;
  } catch (...) {
    reinterpret_cast<TJpegError*>(cinfo->err)->Pending = std::current_exception();
    return false;
  }
}
boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  if (!Flush(cinfo, dst->Buffer.size())) ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
  InitDestination(cinfo);
  return TRUE;
}
void TermDestination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  if (!Flush(cinfo, dst->Buffer.size() - dst->Manager.free_in_buffer)) ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
}

struct TJpegDecoder {
  jpeg_decompress_struct Info{};
  TJpegError Error;
  TJpegSource Source{};
  std::vector<uint8_t> Row;
  ~TJpegDecoder() { jpeg_destroy_decompress(&Info); }
};

struct TJpegEncoder {
  jpeg_compress_struct Info{};
  TJpegError Error;
  TJpegDestination Destination{};
  ~TJpegEncoder() { jpeg_destroy_compress(&Info); }
};

// Runs the header step alone, so that the size can be checked before any
// pixel memory is taken.
bool ReadHeader(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  jpeg_read_header(&d.Info, TRUE);
  d.Info.out_color_space = JCS_EXT_BGR;
  return true;
}

bool StartPixels(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  jpeg_start_decompress(&d.Info);
  return true;
}

bool ReadRow(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  JSAMPROW row = d.Row.data();
  jpeg_read_scanlines(&d.Info, &row, 1);
  return true;
}

bool FinishPixels(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  jpeg_finish_decompress(&d.Info);
  return true;
}

bool StartCompress(TJpegEncoder& e) {
  if (setjmp(e.Error.Jump)) return false;
  jpeg_set_defaults(&e.Info);
  jpeg_set_quality(&e.Info, 90, TRUE);
  jpeg_start_compress(&e.Info, TRUE);
  return true;
}

bool WriteRow(TJpegEncoder& e, JSAMPROW row) {
  if (setjmp(e.Error.Jump)) return false;
  jpeg_write_scanlines(&e.Info, &row, 1);
  return true;
}

bool FinishCompress(TJpegEncoder& e) {
  if (setjmp(e.Error.Jump)) return false;
  jpeg_finish_compress(&e.Info);
  return true;
}
}  // namespace

void TJPEGImage::Decode(TStream& Stream, TImageRowSink& Sink) {
  auto d = std::make_unique<TJpegDecoder>();
  d->Info.err = jpeg_std_error(&d->Error.Manager);
  d->Error.Manager.error_exit = ErrorExit;
  d->Error.Manager.output_message = OutputMessage;
  jpeg_create_decompress(&d->Info);
  d->Source.Stream = &Stream;
  d->Source.Buffer.resize(kBufferSize);
  d->Source.Manager.init_source = InitSource;
  d->Source.Manager.fill_input_buffer = FillInput;
  d->Source.Manager.skip_input_data = SkipInput;
  d->Source.Manager.resync_to_restart = jpeg_resync_to_restart;
  d->Source.Manager.term_source = TermSource;
  d->Info.src = &d->Source.Manager;
  if (!ReadHeader(*d)) RaiseJpeg(d->Error);
  if (d->Info.image_width > static_cast<JDIMENSION>(kMaxImageSide) ||
      d->Info.image_height > static_cast<JDIMENSION>(kMaxImageSide))
    throw EInvalidGraphic(L"Image is too large");
  auto width = static_cast<int32_t>(d->Info.image_width), height = static_cast<int32_t>(d->Info.image_height);
  Sink.Start(width, height);
  d->Row.resize(static_cast<size_t>(width) * 3);
  if (!StartPixels(*d)) RaiseJpeg(d->Error);
  for (int32_t y = 0; y < height; ++y) {
    if (!ReadRow(*d)) RaiseJpeg(d->Error);
    Sink.WriteRow(y, d->Row.data());
  }
  if (!FinishPixels(*d)) RaiseJpeg(d->Error);
}

void TJPEGImage::Encode(TImageRowSource& Rows, TStream& Stream) {
  if (Rows.Width() <= 0 || Rows.Height() <= 0) throw EInvalidGraphic(L"Cannot save an empty JPEG image");
  auto e = std::make_unique<TJpegEncoder>();
  e->Info.err = jpeg_std_error(&e->Error.Manager);
  e->Error.Manager.error_exit = ErrorExit;
  e->Error.Manager.output_message = OutputMessage;
  jpeg_create_compress(&e->Info);
  e->Destination.Stream = &Stream;
  e->Destination.Buffer.resize(kBufferSize);
  e->Destination.Manager.init_destination = InitDestination;
  e->Destination.Manager.empty_output_buffer = EmptyOutput;
  e->Destination.Manager.term_destination = TermDestination;
  e->Info.dest = &e->Destination.Manager;
  e->Info.image_width = static_cast<JDIMENSION>(Rows.Width());
  e->Info.image_height = static_cast<JDIMENSION>(Rows.Height());
  e->Info.input_components = 3;
  e->Info.in_color_space = JCS_EXT_BGR;
  if (!StartCompress(*e)) RaiseJpeg(e->Error);
  std::vector<uint8_t> row(static_cast<size_t>(Rows.Width()) * 3);
  for (int32_t y = 0; y < Rows.Height(); ++y) {
    Rows.ReadRow(y, row.data());
    if (!WriteRow(*e, row.data())) RaiseJpeg(e->Error);
  }
  if (!FinishCompress(*e)) RaiseJpeg(e->Error);
}
