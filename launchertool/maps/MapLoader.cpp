// Placeholder until the map loader lands.
#include "maps/MapLoader.h"

#include "Exceptions.h"

TMapLoader::TMapLoader(std::wstring name) : FMapName(std::move(name)) {}
TMapLoader::~TMapLoader() = default;
void TMapLoader::BeginLoading() { throw ENotSupportedException(L"Map loading is not available"); }
void TMapLoader::PackMap() { throw ENotSupportedException(L"Map packing is not available"); }
