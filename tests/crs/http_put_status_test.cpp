// The crash upload's request line and its reading of the service's status
// line (platform::HttpPut), against a raw local TCP listener.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/crash_upload.h"

namespace {

// Sends a PUT for path to a loopback listener that answers it with exactly
// `answer` and hangs up; returns what ReceiveResponse and then QueryStatus
// made of it (the first error). The request line that arrived goes to *line.
uint32_t Exchange(const std::string& answer, const char* path, uint32_t* status,
                  std::string* line) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  EXPECT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), size));
  EXPECT_EQ(0, listen(listener, 4));
  EXPECT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size));
  platform::HttpEndpoint endpoint{};
  EXPECT_EQ(0u, platform::HttpResolve("127.0.0.1", ntohs(address.sin_port), &endpoint));
  platform::HttpSession session;
  EXPECT_EQ(0u, session.Open());
  EXPECT_EQ(0u, session.Connect(endpoint, "127.0.0.1"));
  platform::HttpPut put;
  EXPECT_EQ(0u, put.Open(session, path));
  EXPECT_EQ(0u, put.Send("", 0));
  const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  close(listener);
  EXPECT_GE(peer, 0);
  // Read the whole request head, so that hanging up is an end, not a reset.
  std::string request;
  char buffer[1024];
  for (ssize_t n; request.find("\r\n\r\n") == std::string::npos &&
                  (n = recv(peer, buffer, sizeof(buffer), 0)) > 0;) {
    request.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_NE(std::string::npos, request.find("\r\n\r\n"));
  *line = request.substr(0, request.find("\r\n"));
  EXPECT_EQ(static_cast<ssize_t>(answer.size()),
            send(peer, answer.data(), answer.size(), MSG_NOSIGNAL));
  close(peer);
  const uint32_t error = put.ReceiveResponse();
  return error != 0 ? error : put.QueryStatus(status);
}

// The status comes from the status line only; the path goes out escaped
// byte for byte as WinHTTP escapes it (seen under Wine): '%' and the
// characters allowed in a path stay.
TEST(HttpPutStatus, TheStatusComesFromTheStatusLineOnly) {
  const uint32_t kProto = EPROTO;
  const std::string kOk = "HTTP/1.1 200 OK\r\n\r\n";
  const struct {
    std::string answer;
    uint32_t error;
    uint32_t status;
    const char* path = "/crs/a.dmp";
    const char* line = "PUT /crs/a.dmp HTTP/1.1";
  } rows[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, 200},
      {"HTTP/1.0 503 Busy\r\n\r\n", 0, 503},
      // A status line without a code: the "200" of a later line is not the
      // service's answer, and the upload must not count as delivered.
      {"HTTP/1.1\r\nX-Note: 200 OK\r\n\r\n", kProto, 0},
      // A status line shorter than "HTTP/1.x NNN", followed by more bytes:
      // the answer must not depend on how many bytes the first read brought.
      {"HTTP/1 441\n\xdc\n\n\n\n", kProto, 0},
      // Not HTTP, no line end before the end, nothing at all, a line end
      // beyond the 512 bytes kept.
      {"SSH-2.0-OpenSSH_9\r\n", kProto, 0},
      {"HTTP/1.1 200 OK", kProto, 0},
      {"", static_cast<uint32_t>(ECONNRESET), 0},
      {"HTTP/1.1 200 " + std::string(600, 'x') + "\r\n", kProto, 0},
      {kOk, 0, 200, "/crs/[2112]dmp_ServerApp_HOST_20211202-185906123.dmp",
       "PUT /crs/%5B2112%5Ddmp_ServerApp_HOST_20211202-185906123.dmp HTTP/1.1"},
      {kOk, 0, 200, "/up/a b%41~!$&'()*+,;=:@{}|^`\"<>\\x#?q=[1]",
       "PUT /up/a%20b%41~!$&'()*+,;=:@%7B%7D%7C%5E%60%22%3C%3E%5Cx%23?q=%5B1%5D HTTP/1.1"},
      {kOk, 0, 200, "/\x01\t\x7f\xc2\x80\xea\xb0\x80.dmp",
       "PUT /%01%09%7F%C2%80%EA%B0%80.dmp HTTP/1.1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer + " for " + row.path);
    uint32_t status = 0;
    std::string line;
    EXPECT_EQ(row.error, Exchange(row.answer, row.path, &status, &line));
    EXPECT_EQ(row.status, status);
    EXPECT_EQ(row.line, line);
  }
}

}  // namespace
