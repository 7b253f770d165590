#pragma once
// Names inside a map folder: image pieces (".part_<column>_<row>.<ext>") and
// the checks that keep repository names from reaching outside the map.
#include <cstdint>
#include <optional>
#include <string>

// Pieces are at most this many pixels on a side and lie on a grid that fits
// the raw canvas.
inline constexpr int32_t kMapPieceSide = 4000;
// No encoding of a full piece is longer than its raw rows (PNG's stored
// blocks) with a mebibyte to spare.
inline constexpr int64_t kLargestPieceBytes =
    static_cast<int64_t>(kMapPieceSide) * (kMapPieceSide * 3 + 1) + 1024 * 1024;
inline constexpr int32_t kMapPieceGrid = 4;

struct TMapPieceName {
  int32_t Column = 0;
  int32_t Row = 0;
  // Lower case, without the dot.
  std::wstring Extension;
};

// The prefix test is case-sensitive: ".PART_1_0.png" is an ordinary file.
bool IsMapPiece(const std::wstring& name);
// The lower-cased text after the last "." (empty without one).
std::wstring MapFileExtension(const std::wstring& name);
// Column and row from a piece name; empty when a field is missing or not a
// decimal number. Fields after the row are ignored. Grid limits are not
// checked here.
std::optional<TMapPieceName> ParseMapPieceName(const std::wstring& name);

// A map folder name: one path segment, usable as a file name.
bool IsSafeMapName(const std::wstring& name);
// A file name relative to the map folder: "/" between folders, no "\" and no
// ".." segment, no empty segment.
bool IsSafeMapFileName(const std::wstring& name);
