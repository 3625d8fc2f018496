// The process-wide interface state: one per library image.
//
// Every image that contains this code (the host executable, each server
// module) has its own state, because the code is built with hidden
// visibility and modules bind their calls to their own copies. The state
// knows the image's own database, the master database handed over by
// SetMasterDatabase, and the current one that registrations go to.
#pragma once

#include <stdint.h>

#include "interface/apiholder.h"
#include "interface/interfaceimpl.h"
#include "interface/moduleexports.h"

class CInterfaceDatabase;

// The state as an object, so that tests can run two "images" side by side.
// The process-wide functions below work on this image's one instance.
class CInterfaceState {
 public:
  CInterfaceState() = default;
  ~CInterfaceState();
  CInterfaceState(const CInterfaceState&) = delete;
  CInterfaceState& operator=(const CInterfaceState&) = delete;

  // The master if one was set, else the own database (created and made
  // current on first use).
  CInterfaceDatabase* GetMasterDatabase();
  // Null, this image's own database, or a second master: ignored. Otherwise
  // the own database's entries move into pMaster, the own database is
  // deleted and pMaster becomes current.
  void SetMasterDatabase(CInterfaceDatabase* pMaster);

  bool RegisterHolder(CAPIHolderBase* pHolder);
  void UnregisterHolder(CAPIHolderBase* pHolder);
  bool RegisterImplementation(IInterfaceImpl* pImpl, const char* pszName, uint32_t nVersion);
  void UnregisterImplementation(IInterfaceImpl* pImpl, const char* pszName);
  bool RegisterHook(CAPIHookBase* pHook);
  void UnregisterHook(CAPIHookBase* pHook);
  // 1 without a current database, else CInterfaceDatabase::Choose.
  static constexpr int32_t kChooseNoDatabase = 1;
  int32_t Choose(CAPIHookBase* pHook);

  // Gives up the own database: deleted when empty, otherwise marked
  // abandoned (another image still has entries in it and deletes it when it
  // empties it). Called when the usage count falls below 1.
  void Release();

  CInterfaceDatabase* GetOwnDatabase() const { return m_pOwn; }
  CInterfaceDatabase* GetMaster() const { return m_pMaster; }
  CInterfaceDatabase* GetCurrent() const { return m_pCurrent; }

 private:
  CInterfaceDatabase* CurrentOrCreate();
  // After a removal: an emptied current database that this image may delete
  // (its own, or an abandoned master) is deleted and forgotten.
  void DropIfEmpty();

  CInterfaceDatabase* m_pOwn = nullptr;
  CInterfaceDatabase* m_pMaster = nullptr;
  CInterfaceDatabase* m_pCurrent = nullptr;
};

// This image's state: created on first use, destroyed (with its own
// database) when the usage count kept by holders falls below 1.
CInterfaceState* GetInterfaceState();
int32_t GetInterfaceStateUsage();
bool HasInterfaceState();

CInterfaceDatabase* GetMasterDatabase();
bool RegisterImplementation(IInterfaceImpl* pImpl, const char* pszName, uint32_t nVersion);
void UnregisterImplementation(IInterfaceImpl* pImpl, const char* pszName);
bool RegisterHook(CAPIHookBase* pHook);
void UnregisterHook(CAPIHookBase* pHook);
int32_t ChooseByHook(CAPIHookBase* pHook);
// RegisterHolder, UnregisterHolder and the usage count: apiholder.h.

// Exported from every image that contains it (the host executable and each
// module), looked up by name by the other side.
extern "C" SERVERAPP_EXPORT void SetMasterDatabase(CInterfaceDatabase* pMaster);
