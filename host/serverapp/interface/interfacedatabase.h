// CInterfaceDatabase: one image's registry of interfaces by name.
//
// Host and module each have one; when the module is loaded the host hands
// its database to the module as the master (SetMasterDatabase) and the module
// moves its registrations into it, so both sides see one registry. The
// operations are virtual on purpose: whichever image calls them, the code of
// the image that created the database runs, on that image's heap. Their
// order, the explicit deleting-destructor slot and the plain fields are the
// contract with modules built by any compiler (docs/building-a-module.md).
#pragma once

#include <stdint.h>

#include "interface/apiholder.h"
#include "interface/interfaceimpl.h"
#include "interface/interfaceptrarray.h"

class CInterfaceNameMgr;

// Deliberately not final: a final class lets the compiler call its
// operations directly instead of through the table, and the module's
// pMaster->Merge(own) would then run the module's code (and heap) on the
// host's database.
class CInterfaceDatabase {
 public:
  CInterfaceDatabase() = default;
  // Public for owners that keep a database on the stack (tests); an image
  // that did not create a database deletes it only with DeleteThis(1).
  ~CInterfaceDatabase();
  CInterfaceDatabase(const CInterfaceDatabase&) = delete;
  CInterfaceDatabase& operator=(const CInterfaceDatabase&) = delete;

  // Moves every entry of pOther (which may belong to another image) here,
  // name by name from its last to its first, re-registering each through
  // this database's own operations. A name whose version differs here is
  // rejected (reported) and stays in pOther; every other name manager of
  // pOther is left empty (count 0) for its own image to free. Answers false
  // when some name was rejected.
  virtual bool Merge(CInterfaceDatabase* pOther);
  // The deleting destructor's slot: deletes every name manager, then the
  // array, and with bit 0 of nFlags set frees the database itself.
  virtual void* DeleteThis(unsigned int nFlags);
  // Each Add answers false, reports a programming error and changes nothing
  // when the name is known with another version.
  virtual bool AddHook(CAPIHookBase* pHook);
  virtual bool AddHolder(CAPIHolderBase* pHolder);
  virtual bool AddImplementation(IInterfaceImpl* pImpl, const char* pszName, uint32_t nVersion);
  // Each Remove answers whether the entry was found; a name manager left
  // empty is deleted.
  virtual bool RemoveHook(CAPIHookBase* pHook);
  virtual bool RemoveHolder(CAPIHolderBase* pHolder);
  virtual bool RemoveImplementation(IInterfaceImpl* pImpl, const char* pszName);
  // 2 when the hook's name is unknown, else CInterfaceNameMgr::Choose.
  static constexpr int32_t kChooseNoSuchName = 2;
  virtual int32_t Choose(CAPIHookBase* pHook);
  virtual bool IsEmpty() const;

  // The manager of a name (binary search), or null. Not virtual: it only
  // reads the plain fields, so it works on either image's database.
  CInterfaceNameMgr* FindNameMgr(const char* pszName) const;

  // Set by an image that ends while this database (its own) still holds
  // another image's entries: that image may then delete it once it is empty.
  // Not virtual: a plain flag both images read.
  bool IsAbandoned() const { return m_bAbandoned != 0; }
  void SetAbandoned() { m_bAbandoned = 1; }

 private:
  // The manager of the name, created with nVersion when missing; null (and
  // reported) when the name is known with another version.
  CInterfaceNameMgr* FindOrCreate(const char* pszName, uint32_t nVersion, const char* pszWhat);
  uint32_t LowerBound(const char* pszName) const;
  void EraseIfEmpty(CInterfaceNameMgr* pMgr);

  CInterfacePtrArray<CInterfaceNameMgr> m_NameMgrs;  // sorted by strcmp of names
  uint8_t m_bAbandoned = 0;
  [[maybe_unused]] uint8_t m_byReserved[7] = {};
};
static_assert(sizeof(CInterfaceDatabase) == 32, "the layout both images read");
