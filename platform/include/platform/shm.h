// Named shared memory with the lifetime of Win32 file mappings.
//
// Stands in for CreateFileMappingA (paging-file backed), OpenFileMappingA,
// MapViewOfFile, UnmapViewOfFile and CloseHandle. A named object lives while
// any process holds a handle to it and vanishes with the last one, also when
// the holders die without closing. On POSIX (shm_open) every holder keeps a
// shared flock on the object; a closing holder that can lock it exclusively
// is the last and unlinks it; an opener that finds an object nobody holds
// treats it as stale, unlinks it and answers "not found".
//
// Names live in the session's namespace: on POSIX that is the user, and the
// environment variable SERVERAPP_SHM_SESSION when set (so that two
// deployments, or two test runs, on one machine do not meet). A name may hold
// letters, digits, '_', '-' and '.'; other characters are refused.
//
// Handles are not inherited by child processes; a process that forks without
// exec must not use its parent's handles.
#pragma once

#include <cstddef>

namespace platform {

// An open named shared-memory object. Opaque; nullptr when none.
struct SharedMemory;

// Creates the object `name` of `size` bytes, zero-filled, read-write; or, when
// a live object of that name exists, opens that one (its size unchanged) and
// sets *already_existed (when given) to true. nullptr when the system refuses
// or the name is invalid.
SharedMemory* CreateSharedMemory(const char* name, std::size_t size, bool* already_existed);

// Opens the existing object `name`, read-only unless `writable`. nullptr when
// it does not exist (or only a stale one did), or cannot be opened.
SharedMemory* OpenSharedMemory(const char* name, bool writable);

// Maps the first `size` bytes of the object (0: all of it). Read-only unless
// `writable`, which needs a writable handle. nullptr when the object is
// smaller than `size` or the system refuses. (On Windows a handle from
// OpenSharedMemory knows the size only rounded up to whole pages.)
void* MapSharedMemory(SharedMemory* memory, std::size_t size, bool writable);

// Unmaps a view returned by MapSharedMemory with the same size (0: all).
// nullptr is ignored.
void UnmapSharedMemory(SharedMemory* memory, void* view, std::size_t size);

// Closes the handle; the object vanishes when this was its last holder.
// nullptr is ignored. Views stay valid until unmapped.
void CloseSharedMemory(SharedMemory* memory);

}  // namespace platform
