#pragma once
// One move-only owner per kind of system handle; an empty owner holds its
// invalid value and releases nothing.
#include <windows.h>
#include <objbase.h>

#include <utility>

template <class T, void (*Close)(T), bool InvalidIsMinusOne = false>
class UniqueAny {
 public:
  static T Invalid() {
    if constexpr (InvalidIsMinusOne) return reinterpret_cast<T>(static_cast<intptr_t>(-1));
    else return T{};
  }
  UniqueAny() = default;
  explicit UniqueAny(T value) : FValue(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : FValue(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  T get() const { return FValue; }
  explicit operator bool() const { return FValue != Invalid() && FValue != T{}; }
  T release() { return std::exchange(FValue, Invalid()); }
  void reset(T value = Invalid()) {
    T old = std::exchange(FValue, value);
    if (old != Invalid() && old != T{}) Close(old);
  }
  // For APIs that fill a handle through a pointer.
  T* put() { reset(); return &FValue; }

 private:
  T FValue = Invalid();
};

namespace handle_close {
inline void Handle(HANDLE h) { ::CloseHandle(h); }
inline void Find(HANDLE h) { ::FindClose(h); }
inline void Key(HKEY k) { ::RegCloseKey(k); }
inline void Module(HMODULE m) { ::FreeLibrary(m); }
inline void Icon(HICON i) { ::DestroyIcon(i); }
inline void GdiObject(HGDIOBJ o) { ::DeleteObject(o); }
inline void Dc(HDC dc) { ::DeleteDC(dc); }
inline void TaskMem(wchar_t* text) { ::CoTaskMemFree(text); }
}  // namespace handle_close

// Kernel objects that use null for "none" (processes, threads, events, mutexes).
using UniqueHandle = UniqueAny<HANDLE, handle_close::Handle>;
// Files and pipes use INVALID_HANDLE_VALUE for "none".
using UniqueFileHandle = UniqueAny<HANDLE, handle_close::Handle, true>;
using UniqueFindHandle = UniqueAny<HANDLE, handle_close::Find, true>;
using UniqueHKEY = UniqueAny<HKEY, handle_close::Key>;
using UniqueHMODULE = UniqueAny<HMODULE, handle_close::Module>;
using UniqueHICON = UniqueAny<HICON, handle_close::Icon>;
using UniqueGdiObject = UniqueAny<HGDIOBJ, handle_close::GdiObject>;
using UniqueHDC = UniqueAny<HDC, handle_close::Dc>;
// Strings the shell allocates for the caller.
using UniqueCoTaskString = UniqueAny<wchar_t*, handle_close::TaskMem>;

// A device context borrowed from a window and given back to it.
class TWindowDC {
 public:
  explicit TWindowDC(HWND window) : FWindow(window), FDC(GetDC(window)) {}
  ~TWindowDC() {
    if (FDC) ReleaseDC(FWindow, FDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC get() const { return FDC; }

 private:
  HWND FWindow;
  HDC FDC;
};

// One reference to a COM object, released with its owner.
template <class T>
class TUniqueCom {
 public:
  TUniqueCom() = default;
  TUniqueCom(const TUniqueCom&) = delete;
  TUniqueCom& operator=(const TUniqueCom&) = delete;
  ~TUniqueCom() { reset(); }
  T* get() const { return FObject; }
  T* operator->() const { return FObject; }
  explicit operator bool() const { return FObject != nullptr; }
  void reset() {
    if (FObject) std::exchange(FObject, nullptr)->Release();
  }
  // For creation functions that fill an interface pointer.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&FObject);
  }

 private:
  T* FObject = nullptr;
};
