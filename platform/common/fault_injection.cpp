// The fault injector is plain standard C++, shared by every backend. The
// backends call Check() on hot paths (every log line's write), so the
// unarmed case is one relaxed load of `g_active`; everything else sits
// behind it.
#include "platform/fault_injection.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform::fault {
namespace {

constexpr std::size_t kPoints = static_cast<std::size_t>(Point::kCount);

constexpr std::array<const char*, kPoints> kNames = {
    "file_open", "file_write",   "mkdir",        "shm_create",     "shm_open",
    "shm_map",   "process_read", "library_load", "library_symbol", "http_connect",
    "http_read", "http_write",   "file_rename",  "file_delete",    "window_post"};

struct Rule {
  std::atomic<std::uint64_t> nth{0};  // 0: not armed
  std::atomic<int> error{0};
  std::atomic<bool> and_after{false};
  std::atomic<std::uint64_t> calls{0};
  std::atomic<std::uint64_t> failures{0};
};

// True until the environment has been read, then while any point is armed
// or counting is on. Constant-initialised, so a Check() from another static
// initialiser before ours still sees it set and reads the environment.
constinit std::atomic<bool> g_active{true};

struct State {
  std::array<Rule, kPoints> rules;
  std::mutex mutex;  // serialises arming; Check() reads the atomics only
  bool counting = false;
  std::once_flag environment_read;
};

State& GetState() {
  static State state;
  return state;
}

// Callers hold state.mutex.
void UpdateActiveLocked(State& state) {
  bool active = state.counting;
  for (const Rule& rule : state.rules) {
    active = active || rule.nth.load(std::memory_order_relaxed) != 0;
  }
  g_active.store(active, std::memory_order_relaxed);
}

void ArmLocked(State& state, Point p, std::uint64_t nth, int error, bool and_after) {
  Rule& rule = state.rules[static_cast<std::size_t>(p)];
  if (nth == 0 || error == 0) {
    nth = 0;
  }
  // The rule is off while it changes, so a racing Check() never pairs a new
  // call number with an old error.
  rule.nth.store(0, std::memory_order_relaxed);
  rule.error.store(error, std::memory_order_relaxed);
  rule.and_after.store(and_after, std::memory_order_relaxed);
  rule.nth.store(nth, std::memory_order_release);
}

struct ParsedRule {
  Point point;
  std::uint64_t nth;
  int error;
  bool and_after;
};

bool ParseRule(std::string_view text, ParsedRule* out, std::string* why) {
  std::vector<std::string_view> fields;
  while (true) {
    std::size_t colon = text.find(':');
    fields.push_back(text.substr(0, colon));
    if (colon == std::string_view::npos) {
      break;
    }
    text.remove_prefix(colon + 1);
  }
  if (fields.size() < 2 || fields.size() > 3) {
    *why = "a rule is <point>:<n>[+][:<error>]";
    return false;
  }
  std::size_t index = 0;
  while (index < kPoints && fields[0] != kNames[index]) {
    ++index;
  }
  if (index == kPoints) {
    *why = "unknown point \"" + std::string(fields[0]) + "\"";
    return false;
  }
  out->point = static_cast<Point>(index);
  std::string_view count = fields[1];
  out->and_after = !count.empty() && count.back() == '+';
  if (out->and_after) {
    count.remove_suffix(1);
  }
  auto [count_end, count_err] =
      std::from_chars(count.data(), count.data() + count.size(), out->nth);
  if (count.empty() || count_err != std::errc() || count_end != count.data() + count.size() ||
      out->nth == 0) {
    *why = "the call number of \"" + std::string(fields[0]) + "\" must be 1 or more";
    return false;
  }
  out->error = kDefaultError;
  if (fields.size() == 3) {
    std::string_view error = fields[2];
    auto [error_end, error_err] =
        std::from_chars(error.data(), error.data() + error.size(), out->error);
    if (error.empty() || error_err != std::errc() || error_end != error.data() + error.size() ||
        out->error <= 0) {
      *why = "the error of \"" + std::string(fields[0]) + "\" must be a number of 1 or more";
      return false;
    }
  }
  return true;
}

bool ArmFromSpecLocked(State& state, std::string_view spec, std::string* why) {
  std::vector<ParsedRule> parsed;
  std::string reason;
  if (spec.empty()) {
    reason = "no rule";
  }
  while (reason.empty()) {
    std::size_t comma = spec.find(',');
    ParsedRule rule{};
    if (!ParseRule(spec.substr(0, comma), &rule, &reason)) {
      break;
    }
    parsed.push_back(rule);
    if (comma == std::string_view::npos) {
      break;
    }
    spec.remove_prefix(comma + 1);
  }
  if (!reason.empty()) {
    if (why != nullptr) {
      *why = reason;
    }
    return false;
  }
  for (const ParsedRule& rule : parsed) {
    ArmLocked(state, rule.point, rule.nth, rule.error, rule.and_after);
  }
  UpdateActiveLocked(state);
  return true;
}

void ReadEnvironment() {
  State& state = GetState();
  std::lock_guard<std::mutex> lock(state.mutex);
  const char* spec = std::getenv("SERVERAPP_FAULTS");
  if (spec != nullptr && spec[0] != '\0') {
    std::string why;
    if (ArmFromSpecLocked(state, spec, &why)) {
      std::fprintf(stderr, "SERVERAPP_FAULTS: fault injection armed: %s\n", spec);
    } else {
      std::fprintf(stderr, "SERVERAPP_FAULTS: ignored, %s: %s\n", why.c_str(), spec);
    }
  }
  UpdateActiveLocked(state);
}

State& ReadyState() {
  State& state = GetState();
  std::call_once(state.environment_read, ReadEnvironment);
  return state;
}

}  // namespace

int Check(Point p) {
  if (!g_active.load(std::memory_order_relaxed)) {
    return 0;
  }
  if (p >= Point::kCount) {
    return 0;
  }
  Rule& rule = ReadyState().rules[static_cast<std::size_t>(p)];
  std::uint64_t call = rule.calls.fetch_add(1, std::memory_order_relaxed) + 1;
  std::uint64_t nth = rule.nth.load(std::memory_order_acquire);
  if (nth == 0 || call < nth || (call > nth && !rule.and_after.load(std::memory_order_relaxed))) {
    return 0;
  }
  int error = rule.error.load(std::memory_order_relaxed);
  if (error != 0) {
    rule.failures.fetch_add(1, std::memory_order_relaxed);
  }
  return error;
}

void Arm(Point p, std::uint64_t nth, int error, bool and_after) {
  if (p >= Point::kCount) {
    return;
  }
  State& state = ReadyState();
  std::lock_guard<std::mutex> lock(state.mutex);
  ArmLocked(state, p, nth, error, and_after);
  UpdateActiveLocked(state);
}

bool ArmFromSpec(std::string_view spec, std::string* why) {
  State& state = ReadyState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return ArmFromSpecLocked(state, spec, why);
}

void Disarm(Point p) {
  Arm(p, 0, 0);
}

void StartCounting() {
  State& state = ReadyState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.counting = true;
  UpdateActiveLocked(state);
}

void Reset() {
  State& state = ReadyState();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (Rule& rule : state.rules) {
    rule.nth.store(0, std::memory_order_relaxed);
    rule.error.store(0, std::memory_order_relaxed);
    rule.and_after.store(false, std::memory_order_relaxed);
    rule.calls.store(0, std::memory_order_relaxed);
    rule.failures.store(0, std::memory_order_relaxed);
  }
  state.counting = false;
  UpdateActiveLocked(state);
}

std::uint64_t Calls(Point p) {
  if (p >= Point::kCount) {
    return 0;
  }
  return ReadyState().rules[static_cast<std::size_t>(p)].calls.load(std::memory_order_relaxed);
}

std::uint64_t Failures(Point p) {
  if (p >= Point::kCount) {
    return 0;
  }
  return ReadyState().rules[static_cast<std::size_t>(p)].failures.load(std::memory_order_relaxed);
}

const char* PointName(Point p) {
  if (p >= Point::kCount) {
    return "";
  }
  return kNames[static_cast<std::size_t>(p)];
}

}  // namespace platform::fault
