#include "ExceptionStackTrace.h"

#include <windows.h>

#include <mutex>

#include "uDebugUtils.h"

namespace {

constexpr unsigned kStackSlots = TStackInfo::MaxReturnAddresses + 1;

// One RunGuarded call in progress on a thread; the innermost is the thread's
// TLS value and links to the one it is nested in. The handler fills the fault
// fields; it may not allocate, since the fault may have hit the heap itself.
struct TGuardFrame {
  void* Jump[5];  // __builtin_setjmp buffer
  TGuardFrame* Outer = nullptr;
  void* SehList = nullptr;  // i686: the thread's handler chain when the guard began
  DWORD Code = 0;
  uintptr_t Address = 0;
  ULONG_PTR Info[2] = {};
  DWORD InfoCount = 0;
  uintptr_t Stack[kStackSlots] = {};
  unsigned StackCount = 0;
};

struct TRange {
  uintptr_t Begin = 0, End = 0;
  bool Contains(uintptr_t a) const { return a >= Begin && a < End; }
};

DWORD gTlsIndex = TLS_OUT_OF_INDEXES;
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

// Where a faulting thread resumes: back to the innermost guard's frame.
[[noreturn]] __attribute__((noinline)) void ResumeAtGuard() {
  auto* frame = static_cast<TGuardFrame*>(TlsGetValue(gTlsIndex));
  __builtin_longjmp(frame->Jump, 1);
}

LONG CALLBACK OnProcessorFault(EXCEPTION_POINTERS* info) {
  DWORD lastError = GetLastError();  // TlsGetValue resets it
  auto* frame = static_cast<TGuardFrame*>(TlsGetValue(gTlsIndex));
  SetLastError(lastError);
  const EXCEPTION_RECORD* rec = info->ExceptionRecord;
  auto address = reinterpret_cast<uintptr_t>(rec->ExceptionAddress);
  if (!frame || !IsProcessorFault(rec->ExceptionCode) || !InOwnCode(address)) return EXCEPTION_CONTINUE_SEARCH;

  frame->Code = rec->ExceptionCode;
  frame->Address = address;
  frame->InfoCount = rec->NumberParameters < 2 ? rec->NumberParameters : 2;
  for (DWORD i = 0; i < frame->InfoCount; ++i) frame->Info[i] = rec->ExceptionInformation[i];
  frame->StackCount = WalkFromContext(*info->ContextRecord, frame->Stack);

  // Resume in ResumeAtGuard on fresh stack space below the faulting frame, as
  // if it had been called there (return-address slot, aligned like a call).
  CONTEXT* ctx = info->ContextRecord;
#if defined(__x86_64__)
  ctx->Rsp = ((ctx->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
  ctx->Rip = reinterpret_cast<DWORD64>(&ResumeAtGuard);
#else
  ctx->Esp = ((ctx->Esp - 256) & ~static_cast<DWORD>(15)) - 4;
  ctx->Eip = reinterpret_cast<DWORD>(&ResumeAtGuard);
#endif
  ctx->EFlags &= ~0x400u;  // direction flag clear, as compiled code expects
  return EXCEPTION_CONTINUE_EXECUTION;
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

[[noreturn]] void RaiseFault(const TGuardFrame& frame) {
  TStackInfo stack;
  stack.Addresses.assign(frame.Stack, frame.Stack + frame.StackCount);
  if (frame.Code == EXCEPTION_ACCESS_VIOLATION && frame.InfoCount == 2) {
    const wchar_t* operation = frame.Info[0] == 1 ? L"Write" : frame.Info[0] == 8 ? L"Execution" : L"Read";
    EAccessViolation e(L"Access violation at address " + FormatAddress(frame.Address) + L" in module '" +
                       ModuleBaseName(frame.Address) + L"'. " + operation + L" of address " +
                       FormatAddress(frame.Info[1]));
    e.SetStackInfo(std::move(stack));
    throw e;
  }
  EExternalException e(L"External exception " + FormatAddress(frame.Code));
  e.SetStackInfo(std::move(stack));
  throw e;
}

}  // namespace

void InstallExceptionStackTrace() {
  static std::once_flag once;
  std::call_once(once, [] {
    gTlsIndex = TlsAlloc();
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

void RunGuarded(const std::function<void()>& body) {
  InstallExceptionStackTrace();
  if (gTlsIndex == TLS_OUT_OF_INDEXES) {
    body();
    return;
  }
  TGuardFrame frame;
  frame.Outer = static_cast<TGuardFrame*>(TlsGetValue(gTlsIndex));
#if defined(__i386__)
  frame.SehList = ThreadInfoBlock()->ExceptionList;
#endif
  if (__builtin_setjmp(frame.Jump) == 0) {
    TlsSetValue(gTlsIndex, &frame);
    try {
      body();
    } catch (...) {
      TlsSetValue(gTlsIndex, frame.Outer);
      throw;
    }
    TlsSetValue(gTlsIndex, frame.Outer);
    return;
  }
  // Back from ResumeAtGuard after a fault inside body.
#if defined(__i386__)
  // Handler records of the abandoned frames must not stay on the chain.
  ThreadInfoBlock()->ExceptionList =
      static_cast<_EXCEPTION_REGISTRATION_RECORD*>(frame.SehList);
#endif
  TlsSetValue(gTlsIndex, frame.Outer);
  RaiseFault(frame);
}

std::shared_ptr<Exception> CallAtBoundary(const std::function<void()>& body) noexcept {
  try {
    RunGuarded(body);
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
