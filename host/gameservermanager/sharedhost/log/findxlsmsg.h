// The table of numbered log texts, loaded from a .msz file (see mszformat.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class FindXlsMsg {
 public:
  // A converted text gets a zeroed buffer of this size, NUL included.
  static constexpr std::size_t kConvertBuffer = 512;

  FindXlsMsg() = default;
  virtual ~FindXlsMsg() = default;
  FindXlsMsg(const FindXlsMsg&) = delete;
  FindXlsMsg& operator=(const FindXlsMsg&) = delete;

  // Loads `path`, opened with no sharing (another exclusive opener makes it
  // fail). Each text is converted to 8-bit (at most 511 bytes, whole
  // characters) and backslash-n becomes CR LF; a later record with the same
  // id replaces an earlier one. False when the file cannot be opened or is
  // refused as malformed (Problem() tells why); the table is then empty.
  bool Load(const char* path);

  // A copy of text `id`; empty when the table has no such id. Never changes
  // the table.
  std::string Find(std::int64_t id) const;

  std::size_t Count() const { return texts_.size(); }
  const std::map<std::int64_t, std::string>& Texts() const { return texts_; }

  // Why the last Load failed; empty after a success.
  const std::string& Problem() const { return problem_; }
  // True when the last Load could not open the file at all (as opposed to
  // refusing its contents).
  bool OpenFailed() const { return open_failed_; }
  // True when the last Load could not open the file only because another
  // instance had it open (without sharing) at that moment.
  bool HeldByAnother() const { return held_by_another_; }

 private:
  std::map<std::int64_t, std::string> texts_;
  std::string problem_;
  bool open_failed_ = false;
  bool held_by_another_ = false;
};
