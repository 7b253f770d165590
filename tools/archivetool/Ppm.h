#pragma once
// Binary PPM (P6, 8-bit) files, the plain pixel format of the Linux tools.
#include <string>

#include "images/Bitmap24.h"

TBitmap24 ReadPpm(const std::wstring& fileName);
void WritePpm(const TBitmap24& bitmap, const std::wstring& fileName);
