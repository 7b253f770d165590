// Placeholder until the map packer lands.
#include "maps/uMapPacker.h"

TMapPacker::TMapPacker() = default;
TMapPacker::~TMapPacker() = default;
void TMapPacker::Add(TMapLoader*) {}
