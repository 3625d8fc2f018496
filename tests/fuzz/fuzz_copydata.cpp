// The manager's WM_COPYDATA dispatch for every data id, with arbitrary
// payloads and lengths. Input layout and invariants: docs/fuzzing.md.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_dialog_support.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/serverappmsg.h"

using namespace fuzzdlg;

namespace {

void CheckLogSerial(ILTMessage_Read& m, const std::vector<uint8_t>& p) {
  const auto n = static_cast<size_t>(std::find(p.begin(), p.end(), 0) - p.begin());
  std::vector<char> text(n + 2);
  const uint32_t got = m.ReadString(text.data(), static_cast<uint32_t>(text.size()));
  Require(got == n && (n == 0 || std::memcmp(text.data(), p.data(), n) == 0),
          "log serial differs from the payload's text");
  RequireAtEnd(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Fixture& f = GetFixture();
  f.Reset();

  size_t at = 0;
  uint64_t dw_data = data[at++];
  if (dw_data < 0xC0) {
    dw_data %= 64;
  } else {
    if (size - at < 8) return 0;
    std::memcpy(&dw_data, data + at, 8);  // little-endian
    at += 8;
  }
  if (at >= size) return 0;
  const uint8_t mode = data[at++];
  f.module.answer = (mode & 1) != 0 ? 1 : 0;
  std::vector<uint8_t> payload(data + at, data + size);
  const size_t record = RecordSize(dw_data, false);
  // Length 1: the record's, 2: one byte more, 3: one byte less.
  if (const int length = (mode >> 1) & 3; length != 0 && (length != 3 || record > 0)) {
    payload.resize(record + (length == 2 ? 1 : 0) - (length == 3 ? 1 : 0));
  }

  platform::CopyData copy;
  copy.dw_data = dw_data;
  copy.data = std::span<const std::byte>(reinterpret_cast<const std::byte*>(payload.data()),
                                         payload.size());
  const LogMark before = LogMark::Now();
  const platform::LResult result =
      f.dlg->OnSend(platform::kWmCopyData, f.manager->handle(), 0, copy);
  Require(result == 0, "copy-data handler answered non-zero");

  const std::vector<RecordingModule::Delivery>& got = f.module.deliveries;
  bool expect_log = false;  // a refusal
  f.PopQueued();
  Require(f.queued_game == (dw_data == GAMESERVERMSG_START_HOST), "game info queued or not");
  Require(f.queued_user == (dw_data == GAMESERVERMSG_INSERTCHARACTER), "user info queued or not");

  switch (dw_data) {
    case GAMESERVERMSG_LOG_SERIAL:
      CheckLogSerial(f.Delivered(SERVERAPPMSG_LOG_SERIAL), payload);
      break;
    case GAMESERVERMSG_UCC_MAP_LOAD:
      // No package is ever there or downloaded; the refusal is logged.
      Require(got.empty(), "a map load delivered a message without its package");
      expect_log = true;
      break;
    case GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO:
      if (payload.size() == sizeof(PROTO_AUTO_MATCH_STARTING_USER_INFO)) {
        ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO);
        Require(m.BitsLeft() == payload.size() * 8, "auto match: length");
        std::vector<uint8_t> bytes(payload.size());
        m.ReadData(bytes.data(), static_cast<uint32_t>(bytes.size() * 8));
        Require(bytes == payload, "auto match: users differ from the payload");
        RequireAtEnd(m);
      } else {
        Require(got.empty(), "auto match of the wrong size delivered");
        expect_log = true;
      }
      break;
    default:
      if (!CheckRecord(f, dw_data, payload.data(), payload.size())) {
        Require(got.empty(), "an unlisted data id reached the module");
      }
      break;
  }
  // A forward that the module refused is logged too.
  if (!got.empty() && f.module.answer != 0) expect_log = true;
  Require(!expect_log || before.Grew(), "refused or failed message not logged");
  return 0;
}
