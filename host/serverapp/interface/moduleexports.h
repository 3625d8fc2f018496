// The functions a server module exports and the host looks up by name, and
// the two the host exports for the module.
#pragma once

#include <stdint.h>

// Marks the functions each image exports for the other (CreateServer,
// DeleteServer, SetMasterDatabase, IsDebugMode). The same choice as
// platform/export.h, repeated so that a module needs nothing but these
// headers.
#ifndef SERVERAPP_EXPORT
#if defined(_MSC_VER) || defined(__MINGW32__) || defined(__CYGWIN__) || defined(_WIN32)
#define SERVERAPP_EXPORT __declspec(dllexport)
#elif defined(__GNUC__) || defined(__clang__)
#define SERVERAPP_EXPORT __attribute__((visibility("default")))
#else
#define SERVERAPP_EXPORT
#endif
#endif

class CInterfaceDatabase;
class IGameServer;

// bool crosses the boundary (DeleteServer, IGameServer, the handler) as one
// byte on every compiler this contract is built with.
static_assert(sizeof(bool) == 1, "bool is one byte");

// The version the host passes to CreateServer.
inline constexpr uint32_t SERVER_INTERFACE_VERSION = 2;

// Export names, as looked up.
inline constexpr const char* kCreateServerExport = "CreateServer";
inline constexpr const char* kDeleteServerExport = "DeleteServer";
inline constexpr const char* kSetMasterDatabaseExport = "SetMasterDatabase";
inline constexpr const char* kIsDebugModeExport = "IsDebugMode";

// Creates the module's server object in *ppServer. pModuleData points at a
// pointer-sized, zero-initialised variable that only the module uses.
// Answers 0 on success (and *ppServer is then non-null).
using CreateServerFn = int32_t (*)(uint32_t nVersion, void** pModuleData, IGameServer** ppServer);

// Deletes the server object; bAll is always true.
using DeleteServerFn = void (*)(bool bAll);

// Merges the calling image's registrations into the given master database.
using SetMasterDatabaseFn = void (*)(CInterfaceDatabase* pMaster);

// The host's answer to "is this a debug host" (always true).
using IsDebugModeFn = bool (*)();
