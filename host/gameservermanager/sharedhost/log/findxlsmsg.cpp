#include "findxlsmsg.h"

#include <vector>

#include "mszformat.h"
#include "platform/files.h"

bool FindXlsMsg::Load(const char* path) {
  texts_.clear();
  problem_.clear();
  open_failed_ = false;
  held_by_another_ = false;
  std::vector<std::uint8_t> image;
  {
    platform::ScopedFile file(platform::OpenForReadExclusive(path, &held_by_another_));
    if (!file.valid()) {
      open_failed_ = true;
      problem_ = "cannot be opened (missing, no right, or opened by another instance)";
      return false;
    }
    const std::int64_t size = platform::FileSizeOf(file.get());
    if (size < 0 || static_cast<std::uint64_t>(size) > msz::kMaxFileSize) {
      problem_ = "size unknown or above " + std::to_string(msz::kMaxFileSize) + " bytes";
      return false;
    }
    image.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < image.size()) {
      const std::int64_t n =
          platform::ReadFromFile(file.get(), image.data() + got, image.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    image.resize(got);  // a file that shrank meanwhile is judged by what was read
  }
  std::vector<msz::Record> records;
  if (!msz::Parse(image.data(), image.size(), &records, &problem_)) return false;
  for (const msz::Record& r : records) {
    std::string text = msz::Utf16ToAnsi(r.text, kConvertBuffer - 1);
    msz::ExpandNewlines(&text);
    texts_[r.id] = std::move(text);
  }
  return true;
}

std::string FindXlsMsg::Find(std::int64_t id) const {
  const auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}
