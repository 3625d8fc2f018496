// The minidump records the POSIX crash backend writes (little-endian,
// byte-packed, the sizes crash tools expect). Private to the backend.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::minidump {

inline constexpr uint32_t kSignature = 0x504D444D;  // "MDMP"
inline constexpr uint32_t kVersion = 0xA793;

enum StreamType : uint32_t {
  kThreadList = 3,
  kModuleList = 4,
  kMemoryList = 5,
  kException = 6,
  kSystemInfo = 7,
  kMemory64List = 9,
  kMiscInfo = 15,
  kThreadNames = 24,
  kLinuxProcStatus = 0x47670004,
  kLinuxCmdLine = 0x47670006,
  kLinuxAuxv = 0x47670008,
  kLinuxMaps = 0x47670009,
};

#pragma pack(push, 1)

struct Header {
  uint32_t signature;
  uint32_t version;
  uint32_t stream_count;
  uint32_t directory_rva;
  uint32_t checksum;
  uint32_t time_date_stamp;
  uint64_t flags;
};
static_assert(sizeof(Header) == 32);

struct LocationDescriptor {
  uint32_t data_size;
  uint32_t rva;
};
static_assert(sizeof(LocationDescriptor) == 8);

struct Directory {
  uint32_t stream_type;
  LocationDescriptor location;
};
static_assert(sizeof(Directory) == 12);

struct MemoryDescriptor {
  uint64_t start;
  LocationDescriptor memory;
};
static_assert(sizeof(MemoryDescriptor) == 16);

struct Memory64Descriptor {
  uint64_t start;
  uint64_t size;
};
static_assert(sizeof(Memory64Descriptor) == 16);

struct SystemInfo {
  uint16_t processor_architecture;  // 9: AMD64
  uint16_t processor_level;
  uint16_t processor_revision;
  uint8_t number_of_processors;
  uint8_t product_type;
  uint32_t major_version;
  uint32_t minor_version;
  uint32_t build_number;
  uint32_t platform_id;  // 0x8201: Linux
  uint32_t csd_version_rva;
  uint16_t suite_mask;
  uint16_t reserved2;
  uint32_t vendor_id[3];
  uint32_t version_information;
  uint32_t feature_information;
  uint32_t amd_extended_cpu_features;
};
static_assert(sizeof(SystemInfo) == 56);
static_assert(offsetof(SystemInfo, platform_id) == 20);
static_assert(offsetof(SystemInfo, vendor_id) == 32);

struct Thread {
  uint32_t thread_id;
  uint32_t suspend_count;
  uint32_t priority_class;
  uint32_t priority;
  uint64_t teb;
  MemoryDescriptor stack;
  LocationDescriptor thread_context;
};
static_assert(sizeof(Thread) == 48);
static_assert(offsetof(Thread, stack) == 24);

struct Module {
  uint64_t base_of_image;
  uint32_t size_of_image;
  uint32_t checksum;
  uint32_t time_date_stamp;
  uint32_t module_name_rva;
  uint32_t version_info[13];  // VS_FIXEDFILEINFO, all zeros here
  LocationDescriptor cv_record;
  LocationDescriptor misc_record;
  uint64_t reserved0;
  uint64_t reserved1;
};
static_assert(sizeof(Module) == 108);
static_assert(offsetof(Module, cv_record) == 76);

struct Exception {
  uint32_t thread_id;
  uint32_t alignment;
  uint32_t exception_code;
  uint32_t exception_flags;
  uint64_t exception_record;
  uint64_t exception_address;
  uint32_t number_parameters;
  uint32_t unused_alignment;
  uint64_t exception_information[15];
  LocationDescriptor thread_context;
};
static_assert(sizeof(Exception) == 168);
static_assert(offsetof(Exception, exception_address) == 24);
static_assert(offsetof(Exception, thread_context) == 160);

struct MiscInfo {
  uint32_t size_of_info;
  uint32_t flags1;  // 1: process id valid
  uint32_t process_id;
  uint32_t process_create_time;
  uint32_t process_user_time;
  uint32_t process_kernel_time;
};
static_assert(sizeof(MiscInfo) == 24);

// One entry of the thread-name list: the name is a MINIDUMP_STRING at a
// 64-bit offset.
struct ThreadName {
  uint32_t thread_id;
  uint64_t name_rva;
};
static_assert(sizeof(ThreadName) == 12);

// The AMD64 CONTEXT record; readers tell AMD64 by its size.
struct ContextAmd64 {
  uint64_t p_home[6];
  uint32_t context_flags;
  uint32_t mx_csr;
  uint16_t seg_cs, seg_ds, seg_es, seg_fs, seg_gs, seg_ss;
  uint32_t eflags;
  uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
  uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip;
  uint8_t flt_save[512];  // FXSAVE layout
  uint8_t vector_register[26 * 16];
  uint64_t vector_control;
  uint64_t debug_control;
  uint64_t last_branch_to_rip;
  uint64_t last_branch_from_rip;
  uint64_t last_exception_to_rip;
  uint64_t last_exception_from_rip;
};
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(offsetof(ContextAmd64, context_flags) == 0x30);
static_assert(offsetof(ContextAmd64, seg_cs) == 0x38);
static_assert(offsetof(ContextAmd64, eflags) == 0x44);
static_assert(offsetof(ContextAmd64, rax) == 0x78);
static_assert(offsetof(ContextAmd64, rsp) == 0x98);
static_assert(offsetof(ContextAmd64, r8) == 0xB8);
static_assert(offsetof(ContextAmd64, rip) == 0xF8);
static_assert(offsetof(ContextAmd64, flt_save) == 0x100);

// CONTEXT_AMD64 | control | integer | segments | floating point.
inline constexpr uint32_t kContextFlagsAmd64 = 0x0010000F;

// The CodeView record for an ELF module: signature, then the build id.
inline constexpr uint32_t kCvSignatureElf = 0x4270454C;  // "LEpB"

#pragma pack(pop)

}  // namespace platform::minidump
