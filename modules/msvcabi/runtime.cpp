// The runtime of a module built with no standard library: operator new and
// delete over the process heap, the few functions the compiler may call on
// its own (memcpy, memset, _purecall), and the interface database's error
// report.
#include "runtime.h"

#include "interface/interfaceerror.h"

extern "C" {
__declspec(dllimport) void* GetProcessHeap();
__declspec(dllimport) void* HeapAlloc(void* hHeap, uint32_t dwFlags, size_t nBytes);
__declspec(dllimport) int HeapFree(void* hHeap, uint32_t dwFlags, void* pMem);
__declspec(dllimport) void OutputDebugStringA(const char* pszText);
__declspec(dllimport) void* CreateFileA(const char* pszName, uint32_t dwAccess, uint32_t dwShare,
                                        void* pSecurity, uint32_t dwDisposition, uint32_t dwFlags,
                                        void* hTemplate);
__declspec(dllimport) int WriteFile(void* hFile, const void* pData, uint32_t nBytes,
                                    uint32_t* pnWritten, void* pOverlapped);
__declspec(dllimport) int CloseHandle(void* hObject);
}

namespace {
int32_t s_nLive = 0;

void* Allocate(size_t nBytes) {
  void* p = HeapAlloc(GetProcessHeap(), 0, nBytes ? nBytes : 1);
  if (p) ++s_nLive;
  return p;
}

void Free(void* p) {
  if (!p) return;
  --s_nLive;
  HeapFree(GetProcessHeap(), 0, p);
}
}  // namespace

void* operator new(size_t nBytes) {
  return Allocate(nBytes);
}
void* operator new[](size_t nBytes) {
  return Allocate(nBytes);
}
void operator delete(void* p) noexcept {
  Free(p);
}
void operator delete[](void* p) noexcept {
  Free(p);
}
void operator delete(void* p, size_t) noexcept {
  Free(p);
}
void operator delete[](void* p, size_t) noexcept {
  Free(p);
}

extern "C" {
// The compiler turns copies and clears into these calls even here.
void* memcpy(void* pDest, const void* pSrc, size_t n) {
  auto* d = static_cast<volatile unsigned char*>(pDest);
  const auto* s = static_cast<const unsigned char*>(pSrc);
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
  return pDest;
}
void* memset(void* pDest, int nValue, size_t n) {
  auto* d = static_cast<volatile unsigned char*>(pDest);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(nValue);
  return pDest;
}
// The slot of a pure virtual operation in an abstract class's table; never
// called by code that works.
int _purecall() {
  OutputDebugStringA("msvcabi: pure virtual call\n");
  return 0;
}
// Marks an image that uses floating point; the linker asks for it.
int _fltused = 0;
}

void ReportInterfaceError(const char* pszText) {
  msvcabi::DebugLine(pszText);
}

namespace msvcabi {

int32_t LiveAllocations() {
  return s_nLive;
}

CText& CText::Add(const char* psz) {
  while (psz && *psz && n + 1 < sizeof(sz)) sz[n++] = *psz++;
  return *this;
}

CText& CText::Num(int64_t nValue) {
  if (nValue < 0) {
    Add("-");
    nValue = -nValue;
  }
  char szDigits[20];
  uint32_t nDigits = 0;
  uint64_t u = static_cast<uint64_t>(nValue);
  do {
    szDigits[nDigits++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  while (nDigits && n + 1 < sizeof(sz)) sz[n++] = szDigits[--nDigits];
  return *this;
}

bool WriteTextFile(const char* pszPath, const char* pszText) {
  constexpr uint32_t kGenericWrite = 0x40000000;
  constexpr uint32_t kCreateAlways = 2;
  constexpr uint32_t kNormal = 0x80;
  void* hFile = CreateFileA(pszPath, kGenericWrite, 0, nullptr, kCreateAlways, kNormal, nullptr);
  if (hFile == reinterpret_cast<void*>(static_cast<intptr_t>(-1))) return false;
  uint32_t nLen = 0;
  while (pszText[nLen]) ++nLen;
  uint32_t nWritten = 0;
  const bool bOk = WriteFile(hFile, pszText, nLen, &nWritten, nullptr) && nWritten == nLen &&
                   WriteFile(hFile, "\r\n", 2, &nWritten, nullptr);
  CloseHandle(hFile);
  return bOk;
}

void DebugLine(const char* pszText) {
  OutputDebugStringA(pszText);
  OutputDebugStringA("\n");
}

}  // namespace msvcabi
