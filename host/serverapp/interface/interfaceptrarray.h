// CInterfacePtrArray: the plain array of pointers that interface databases
// and name managers keep their entries in.
//
// The other image reads these arrays directly (a hook's SelectImplementation,
// Merge), so the layout is three plain fields, never a standard container:
// a module built with another compiler or standard library reads them the
// same way. Only the image that owns an array grows or frees it, on its own
// heap; the other image at most reads it or sets its count to 0.
#pragma once

#include <stdint.h>

template <typename T>
struct CInterfacePtrArray {
  T** m_ppItems = nullptr;
  uint32_t m_nCount = 0;
  uint32_t m_nCapacity = 0;

  T* At(uint32_t nIndex) const { return nIndex < m_nCount ? m_ppItems[nIndex] : nullptr; }
  T* Back() const { return m_nCount ? m_ppItems[m_nCount - 1] : nullptr; }
  bool Empty() const { return m_nCount == 0; }

  // The position of pItem, or m_nCount.
  uint32_t IndexOf(const T* pItem) const {
    uint32_t i = 0;
    while (i < m_nCount && m_ppItems[i] != pItem) ++i;
    return i;
  }

  // Inserts at nPos (at most m_nCount), growing the array on this image's
  // heap.
  void Insert(uint32_t nPos, T* pItem) {
    if (m_nCount == m_nCapacity) {
      const uint32_t nNew = m_nCapacity ? m_nCapacity * 2 : 4;
      T** ppNew = new T*[nNew];
      for (uint32_t i = 0; i < m_nCount; ++i) ppNew[i] = m_ppItems[i];
      delete[] m_ppItems;
      m_ppItems = ppNew;
      m_nCapacity = nNew;
    }
    for (uint32_t i = m_nCount; i > nPos; --i) m_ppItems[i] = m_ppItems[i - 1];
    m_ppItems[nPos] = pItem;
    ++m_nCount;
  }
  void Append(T* pItem) { Insert(m_nCount, pItem); }

  void EraseAt(uint32_t nPos) {
    for (uint32_t i = nPos + 1; i < m_nCount; ++i) m_ppItems[i - 1] = m_ppItems[i];
    --m_nCount;
  }
  // Answers whether pItem was there.
  bool Erase(const T* pItem) {
    const uint32_t nPos = IndexOf(pItem);
    if (nPos == m_nCount) return false;
    EraseAt(nPos);
    return true;
  }

  // Frees the storage; only the image that grew the array calls it.
  void Free() {
    delete[] m_ppItems;
    m_ppItems = nullptr;
    m_nCount = 0;
    m_nCapacity = 0;
  }
};
static_assert(sizeof(CInterfacePtrArray<void>) == 16, "pointer, count, capacity");

// strcmp's order (bytes compared as unsigned char). Written out because the
// database code is also built without a C library (tests/interface/msvcabi).
inline int InterfaceNameCompare(const char* pszA, const char* pszB) {
  while (*pszA && *pszA == *pszB) {
    ++pszA;
    ++pszB;
  }
  return static_cast<int>(static_cast<unsigned char>(*pszA)) -
         static_cast<int>(static_cast<unsigned char>(*pszB));
}
