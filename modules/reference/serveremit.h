// Building any module-to-host message from a console line:
//
//   emit NAME [field=value ...]
//
// NAME is a SERVERAPPMSG_* name of the module-to-host direction (with or
// without the prefix) or a number 0-255 (a bare id without fields). Each
// message has the fields of its stream, in stream order, each 0 unless set
// (the fields and their widths are listed by EmitFieldList and in the
// README). Values are decimal, 0x hex or negative; they are cut to the
// field's width. Entry fields are set for every entry by `name=value` and
// for one entry by `name.N=value` (N from 0). Counts are written as given,
// also above the record's capacity; the entries that follow are as many as
// the count says, at most kMaxEntries (or `entries=N`). Whole records
// (REMOVECLIENT, GAMEEND, ...) are zero bytes set with `u8@OFFSET=value`,
// `u16@`, `u32@`, `u64@`, and `bytes=N` sends only their first N bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ILTMessage_Write;

namespace refmod {

inline constexpr uint32_t kMaxEntries = 64;
inline constexpr uint32_t kMaxEntriesAsked = 4096;

// Writes the message `line` describes (the text after "emit") into `msg`,
// id first. Answers "" on success, else what was wrong; on an error `msg`
// may hold a part of the message and must not be sent.
std::string BuildEmitMessage(const std::string& line, ILTMessage_Write& msg);

// "NAME: field(kind) ..." for every named message, for `emit` without
// arguments.
std::vector<std::string> EmitFieldList();

}  // namespace refmod
