// HttpGet on POSIX: one libcurl easy transfer per call.
#include <curl/curl.h>

#include <mutex>

#include "platform/fault_injection.h"
#include "platform/http_get.h"

namespace platform {
namespace {

bool GlobalInit() {
  // curl_global_init is not thread-safe in every libcurl: run it once.
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

struct Transfer {
  CURL* curl = nullptr;
  HttpGetReceiver* receiver = nullptr;
  bool opened = false;
  bool stopped = false;
  long refused_status = 0;  // a non-2xx status seen at the first body byte
  uint32_t read_fault = 0;  // an injected read failure
};

long ResponseCode(CURL* curl) {
  long code = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return 0;
  return code;
}

bool IsSuccess(long code) {
  return code >= 200 && code <= 299;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (!t->opened) {
    const long code = ResponseCode(t->curl);
    if (!IsSuccess(code)) {
      t->refused_status = code;
      return CURL_WRITEFUNC_ERROR;
    }
    t->opened = true;
    if (!t->receiver->OnOpened(static_cast<int>(code))) {
      t->stopped = true;
      return CURL_WRITEFUNC_ERROR;
    }
  }
  if (const int e = fault::Check(fault::Point::kHttpRead)) {
    t->read_fault = static_cast<uint32_t>(e);
    return CURL_WRITEFUNC_ERROR;
  }
  if (bytes != 0 && !t->receiver->OnData(data, bytes)) {
    t->stopped = true;
    return CURL_WRITEFUNC_ERROR;
  }
  return bytes;
}

// Sets every option; false when libcurl refuses one.
bool Configure(CURL* curl, const char* url, const HttpGetLimits& limits, Transfer* transfer) {
  bool ok = true;
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(curl, CURLOPT_URL, url));
  set(curl_easy_setopt(curl, CURLOPT_USERAGENT, "HTTP"));
  // Direct access: an empty proxy also overrides http_proxy and friends.
  set(curl_easy_setopt(curl, CURLOPT_PROXY, ""));
  set(curl_easy_setopt(curl, CURLOPT_NOPROXY, "*"));
  set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L));
  // No signals: the transfer may run on any thread of a multi-threaded host.
  set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody));
  set(curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer));
  if (limits.connect_timeout_ms != 0) {
    set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(limits.connect_timeout_ms)));
  }
  if (limits.low_speed_bytes_per_second != 0 && limits.low_speed_seconds != 0) {
    set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT,
                         static_cast<long>(limits.low_speed_bytes_per_second)));
    set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(limits.low_speed_seconds)));
  }
  if (limits.total_timeout_ms != 0) {
    set(curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_timeout_ms)));
  }
  return ok;
}

}  // namespace

HttpGetResult HttpGet(const char* url, const HttpGetLimits& limits, HttpGetReceiver& receiver) {
  HttpGetResult result;
  if (!GlobalInit()) {
    result.status = HttpGetStatus::kSessionFailed;
    result.error = static_cast<uint32_t>(CURLE_FAILED_INIT);
    return result;
  }
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    result.status = HttpGetStatus::kSessionFailed;
    result.error = static_cast<uint32_t>(CURLE_FAILED_INIT);
    return result;
  }
  // Injected connect and request-write faults end the transfer before it
  // starts, as a refused connection would; their number stands for the
  // backend's error number.
  const int setup_fault = fault::Check(fault::Point::kHttpConnect);
  if (const int e = setup_fault ? setup_fault : fault::Check(fault::Point::kHttpWrite)) {
    curl_easy_cleanup(curl);
    result.status = HttpGetStatus::kOpenFailed;
    result.error = static_cast<uint32_t>(e);
    return result;
  }
  Transfer transfer;
  transfer.curl = curl;
  transfer.receiver = &receiver;
  if (url == nullptr || !Configure(curl, url, limits, &transfer)) {
    curl_easy_cleanup(curl);
    result.status = HttpGetStatus::kOpenFailed;
    result.error = static_cast<uint32_t>(CURLE_URL_MALFORMAT);
    return result;
  }

  const CURLcode code = curl_easy_perform(curl);
  const long http_status = ResponseCode(curl);
  curl_easy_cleanup(curl);
  result.http_status = static_cast<int>(http_status);

  if (transfer.stopped) {
    result.status = HttpGetStatus::kStopped;
    return result;
  }
  if (transfer.refused_status != 0) {
    result.status = HttpGetStatus::kOpenFailed;
    result.error = static_cast<uint32_t>(transfer.refused_status);
    return result;
  }
  if (transfer.read_fault != 0) {
    result.status = HttpGetStatus::kReadFailed;
    result.error = transfer.read_fault;
    return result;
  }
  if (code != CURLE_OK) {
    result.status = transfer.opened ? HttpGetStatus::kReadFailed : HttpGetStatus::kOpenFailed;
    result.error = static_cast<uint32_t>(code);
    return result;
  }
  if (!transfer.opened) {
    // A complete answer without body bytes: its status decides.
    if (!IsSuccess(http_status)) {
      result.status = HttpGetStatus::kOpenFailed;
      result.error = static_cast<uint32_t>(http_status);
      return result;
    }
    if (!receiver.OnOpened(static_cast<int>(http_status))) {
      result.status = HttpGetStatus::kStopped;
      return result;
    }
  }
  result.status = HttpGetStatus::kOk;
  return result;
}

}  // namespace platform
