// An HTTP GET receiver that keeps what it was given, for the download tests
// of both backends.
#pragma once

#include <cstddef>
#include <string>

#include "platform/http_get.h"

class Recorder final : public platform::HttpGetReceiver {
 public:
  bool OnOpened(int http_status) override {
    ++opened;
    status = http_status;
    opened_before_data = body.empty();
    return accept_open;
  }
  bool OnData(const void* data, std::size_t size) override {
    body.append(static_cast<const char*>(data), size);
    return accept_data;
  }

  int opened = 0;
  int status = 0;
  bool opened_before_data = false;
  std::string body;
  bool accept_open = true;
  bool accept_data = true;
};
