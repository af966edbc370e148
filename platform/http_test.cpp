#include "platform/http.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace platform {
namespace {

// Each owns a native handle that its destructor closes: a copy would close it twice.
static_assert(!std::is_copy_constructible<HttpSession>::value &&
                  !std::is_copy_assignable<HttpSession>::value,
              "HttpSession is not copyable");
static_assert(!std::is_copy_constructible<HttpConnection>::value &&
                  !std::is_copy_assignable<HttpConnection>::value,
              "HttpConnection is not copyable");

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
struct SocketLibrary {
  SocketLibrary() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~SocketLibrary() { WSACleanup(); }
};
#else
using Socket = int;
const Socket kNoSocket = -1;
void CloseSocket(Socket s) { close(s); }
struct SocketLibrary {};
#endif

// A small HTTP/1.1 server on 127.0.0.1 that answers every request with a fixed
// status and a two-byte body, and records each request head.
class LoopbackServer {
 public:
  LoopbackServer(const std::string& status, bool keep_alive)
      : status_(status), keep_alive_(keep_alive) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener_, 8);
    socklen_t length = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
    for (Client& client : clients_) CloseSocket(client.socket);
    CloseSocket(listener_);
  }

  int port() const { return port_; }
  int connections() const { return connections_; }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  struct Client {
    Socket socket;
    std::string pending;
  };

  void Serve() {
    while (!stop_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(listener_, &readable);
      Socket highest = listener_;
      for (Client& client : clients_) {
        FD_SET(client.socket, &readable);
        if (client.socket > highest) highest = client.socket;
      }
      timeval wait = {0, 20000};
      if (select(static_cast<int>(highest) + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
      if (FD_ISSET(listener_, &readable)) {
        Socket accepted = accept(listener_, nullptr, nullptr);
        if (accepted != kNoSocket) {
          clients_.push_back(Client{accepted, std::string()});
          ++connections_;
        }
      }
      for (size_t i = 0; i < clients_.size();) {
        if (FD_ISSET(clients_[i].socket, &readable) && !ReadFrom(clients_[i])) {
          CloseSocket(clients_[i].socket);
          clients_.erase(clients_.begin() + static_cast<long>(i));
        } else {
          ++i;
        }
      }
    }
  }

  // False when the client's connection has ended.
  bool ReadFrom(Client& client) {
    char buffer[4096];
    int got = static_cast<int>(recv(client.socket, buffer, sizeof(buffer), 0));
    if (got <= 0) return false;
    client.pending.append(buffer, static_cast<size_t>(got));
    size_t end;
    while ((end = client.pending.find("\r\n\r\n")) != std::string::npos) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(client.pending.substr(0, end + 2));
      }
      client.pending.erase(0, end + 4);
      std::string answer = "HTTP/1.1 " + status_ + "\r\nContent-Length: 2\r\n" +
                           (keep_alive_ ? "" : "Connection: close\r\n") + "\r\nok";
      send(client.socket, answer.data(), static_cast<int>(answer.size()), 0);
      if (!keep_alive_) return false;
    }
    return true;
  }

  SocketLibrary library_;
  const std::string status_;
  const bool keep_alive_;
  Socket listener_ = kNoSocket;
  int port_ = 0;
  std::vector<Client> clients_;  // server thread only
  std::atomic<int> connections_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;  // guarded by mutex_
  std::thread thread_;
};

std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

std::string Header(const std::string& head, const std::string& name) {
  size_t pos = head.find("\r\n" + name + ": ");
  if (pos == std::string::npos) return std::string();
  pos += name.size() + 4;
  return head.substr(pos, head.find("\r\n", pos) - pos);
}

TEST(HttpTest, SendsGetRequestsWithTheUserAgent) {
  LoopbackServer server("200 OK", true);
  auto session = HttpSession::Open("TORVANE_NETWORKS_WF");
  ASSERT_TRUE(session);
  auto connection = HttpConnection::Connect(*session, "127.0.0.1", server.port(), 5000);
  ASSERT_TRUE(connection);
  EXPECT_TRUE(connection->SendGet("/LogEvent.aspx?TOKEN='x',EVENTID='3000'"));
  EXPECT_TRUE(connection->SendGet("?A=1"));
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("GET /LogEvent.aspx?TOKEN='x',EVENTID='3000' HTTP/1.1", RequestLine(requests[0]));
  EXPECT_EQ("GET /?A=1 HTTP/1.1", RequestLine(requests[1])) << "a leading slash is added";
  EXPECT_EQ("TORVANE_NETWORKS_WF", Header(requests[0], "User-Agent"));
}

TEST(HttpTest, RefusesTargetsThatWouldBreakTheRequestLine) {
  EXPECT_TRUE(IsPlainRequestTarget("/a%20b#\xe9'x',\x80"));
  EXPECT_FALSE(IsPlainRequestTarget(std::string("/a\0b", 4)));
  EXPECT_FALSE(IsPlainRequestTarget("/a\tb"));
  EXPECT_FALSE(IsPlainRequestTarget("/a\x1f"));
  LoopbackServer server("200 OK", true);
  auto session = HttpSession::Open("agent");
  auto connection = HttpConnection::Connect(*session, "127.0.0.1", server.port(), 5000);
  ASSERT_TRUE(connection);
  EXPECT_FALSE(connection->SendGet("/?DESC='two words'"));
  EXPECT_FALSE(connection->SendGet("/?DESC='x'\r\nInjected: 1"));
  EXPECT_FALSE(connection->SendGet("/?DESC='x\x7f'"));
  EXPECT_TRUE(connection->SendGet("/?DESC='two%20words'%0D%0AInjected:%201"));
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(1u, requests.size()) << "a refused target sends nothing";
  EXPECT_EQ("GET /?DESC='two%20words'%0D%0AInjected:%201 HTTP/1.1", RequestLine(requests[0]));
  EXPECT_EQ("", Header(requests[0], "Injected"));
}

TEST(HttpTest, AnyAnswerCountsAsSent) {
  LoopbackServer server("404 Not Found", false);
  auto session = HttpSession::Open("agent");
  auto connection = HttpConnection::Connect(*session, "127.0.0.1", server.port(), 5000);
  ASSERT_TRUE(connection);
  EXPECT_TRUE(connection->SendGet("/one"));
  EXPECT_TRUE(connection->SendGet("/two")) << "a closed connection is opened again";
  EXPECT_EQ(2u, server.requests().size());
}

TEST(HttpTest, FailsWithoutAServer) {
  int port;
  {
    LoopbackServer server("200 OK", true);
    port = server.port();
  }  // the port is free again
  auto session = HttpSession::Open("agent");
  ASSERT_TRUE(session);
  auto connection = HttpConnection::Connect(*session, "127.0.0.1", port, 5000);
  // WinINet connects lazily, libcurl too: the failure shows on the request.
  if (connection) {
    EXPECT_FALSE(connection->SendGet("/x"));
  }
}

}  // namespace
}  // namespace platform
