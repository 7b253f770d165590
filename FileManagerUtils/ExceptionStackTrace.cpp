#include "ExceptionStackTrace.h"

#include <windows.h>

#include <mutex>

#include "uDebugUtils.h"

namespace {

constexpr unsigned kStackSlots = TStackInfo::MaxReturnAddresses + 1;

struct TRange {
  uintptr_t Begin = 0, End = 0;
  bool Contains(uintptr_t a) const { return a >= Begin && a < End; }
};

// The program's own module and the C runtime it calls for memcpy and friends.
TRange gCodeRanges[3];

TRange ModuleRange(HMODULE module) {
  TRange r;
  if (!module) return r;
  auto base = reinterpret_cast<uintptr_t>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<uintptr_t>(dos->e_lfanew));
  r.Begin = base;
  r.End = base + nt->OptionalHeader.SizeOfImage;
  return r;
}

// GCC 12 takes the segment read inside NtCurrentTeb for an out-of-bounds access.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
NT_TIB* ThreadInfoBlock() { return reinterpret_cast<NT_TIB*>(NtCurrentTeb()); }
#pragma GCC diagnostic pop

bool InOwnCode(uintptr_t address) {
  for (const TRange& r : gCodeRanges)
    if (r.Contains(address)) return true;
  return false;
}

bool IsProcessorFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case 0xC00002B4:  // STATUS_FLOAT_MULTIPLE_FAULTS
    case 0xC00002B5:  // STATUS_FLOAT_MULTIPLE_TRAPS
      return true;
    default:
      // Stack overflow is left out: the thread has no stack left to recover on.
      return false;
  }
}

// The fault address, then the return addresses found by walking the stack
// from the fault's context, never reading outside the thread's stack.
unsigned WalkFromContext(const CONTEXT& fault, uintptr_t* out) {
  const NT_TIB* tib = ThreadInfoBlock();
  auto low = reinterpret_cast<uintptr_t>(tib->StackLimit);
  auto high = reinterpret_cast<uintptr_t>(tib->StackBase);
  unsigned n = 0;
#if defined(__x86_64__)
  CONTEXT ctx = fault;
  out[n++] = ctx.Rip;
  while (n < kStackSlots) {
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION fn = RtlLookupFunctionEntry(ctx.Rip, &imageBase, nullptr);
    if (fn) {
      PVOID handlerData = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, ctx.Rip, fn, &ctx, &handlerData, &establisher, nullptr);
    } else {
      // A leaf function without unwind data: the return address is on top.
      if (ctx.Rsp < low || ctx.Rsp + 8 > high) break;
      ctx.Rip = *reinterpret_cast<const DWORD64*>(ctx.Rsp);
      ctx.Rsp += 8;
    }
    if (ctx.Rip == 0 || ctx.Rsp < low || ctx.Rsp >= high) break;
    out[n++] = ctx.Rip;
  }
#elif defined(__i386__)
  out[n++] = fault.Eip;
  // The code is built with frame pointers: [ebp] links frames, [ebp+4] returns.
  uintptr_t ebp = fault.Ebp;
  while (n < kStackSlots) {
    if (ebp < low || ebp + 2 * sizeof(uintptr_t) > high || (ebp & 3) != 0) break;
    auto* slot = reinterpret_cast<const uintptr_t*>(ebp);
    if (slot[1] == 0) break;
    out[n++] = slot[1];
    if (slot[0] <= ebp) break;  // frames only grow towards the stack base
    ebp = slot[0];
  }
#else
#error "Unsupported processor"
#endif
  return n;
}

std::wstring ModuleBaseName(uintptr_t address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(address), &module))
    return L"";
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring name(path, n);
  size_t cut = name.find_last_of(L"\\/");
  return cut == std::wstring::npos ? name : name.substr(cut + 1);
}

// The exception object that describes a fault, its stack starting at the
// faulting instruction.
std::unique_ptr<Exception> DescribeFault(const EXCEPTION_RECORD& rec, const CONTEXT& context) {
  uintptr_t addresses[kStackSlots] = {};
  const unsigned count = WalkFromContext(context, addresses);
  TStackInfo stack;
  stack.Addresses.assign(addresses, addresses + count);
  const auto address = reinterpret_cast<uintptr_t>(rec.ExceptionAddress);
  std::unique_ptr<Exception> e;
  if (rec.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && rec.NumberParameters >= 2) {
    const ULONG_PTR kind = rec.ExceptionInformation[0];
    const wchar_t* operation = kind == 1 ? L"Write" : kind == 8 ? L"Execution" : L"Read";
    e = std::make_unique<EAccessViolation>(L"Access violation at address " + FormatAddress(address) +
                                           L" in module '" + ModuleBaseName(address) + L"'. " + operation +
                                           L" of address " + FormatAddress(rec.ExceptionInformation[1]));
  } else {
    e = std::make_unique<EExternalException>(L"External exception " + FormatAddress(rec.ExceptionCode));
  }
  e->SetStackInfo(std::move(stack));
  return e;
}

LONG CALLBACK OnProcessorFault(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* rec = info->ExceptionRecord;
  auto address = reinterpret_cast<uintptr_t>(rec->ExceptionAddress);
  if (!IsProcessorFault(rec->ExceptionCode) || !InOwnCode(address)) return EXCEPTION_CONTINUE_SEARCH;
  // Best effort: the heap may be what failed, so the log may not make it.
  try {
    LogError(*DescribeFault(*rec, *info->ContextRecord));
  } catch (...) {
  }
  TerminateProcess(GetCurrentProcess(), rec->ExceptionCode);
  return EXCEPTION_CONTINUE_SEARCH;
}

// Installed with the program's start, before any thread of its own runs.
[[maybe_unused]] const bool gInstalled = (InstallExceptionStackTrace(), true);

}  // namespace

void InstallExceptionStackTrace() {
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE own = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&InstallExceptionStackTrace), &own);
    gCodeRanges[0] = ModuleRange(own);
    gCodeRanges[1] = ModuleRange(GetModuleHandleW(L"msvcrt.dll"));
    gCodeRanges[2] = ModuleRange(GetModuleHandleW(L"ucrtbase.dll"));
    // First in line, so that the fault is seen before any frame handler.
    AddVectoredExceptionHandler(1, OnProcessorFault);
  });
}

std::shared_ptr<Exception> CallAtBoundary(const std::function<void()>& body) noexcept {
  try {
    body();
    return nullptr;
  } catch (...) {
    return CurrentExceptionAsObject();
  }
}

bool CallAndLogAtBoundary(const std::function<void()>& body) noexcept {
  std::shared_ptr<Exception> e = CallAtBoundary(body);
  if (!e) return true;
  if (!e->Is<EAbort>()) LogError(*e);
  return false;
}
