#include "tests/servers/loopback_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using testing_servers::LoopbackHttpServer;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;

// A bare TCP client, so the server is checked against bytes on the wire rather
// than against an HTTP library's reading of them.
class RawClient {
 public:
  explicit RawClient(int port) {
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() {
#ifdef _WIN32
    closesocket(socket_);
#else
    close(socket_);
#endif
  }
  bool connected() const { return connected_; }
  bool Send(const std::string& bytes) {
    return send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
  }
  // Reads until `size` bytes have come (0: until the server closes).
  std::string Receive(size_t size = 0) {
    std::string bytes;
    char chunk[4096];
    while (size == 0 || bytes.size() < size) {
      int got = recv(socket_, chunk,
                     size ? static_cast<int>(std::min(sizeof chunk, size - bytes.size()))
                          : static_cast<int>(sizeof chunk),
                     0);
      if (got <= 0) break;
      bytes.append(chunk, static_cast<size_t>(got));
    }
    return bytes;
  }

 private:
#ifdef _WIN32
  SOCKET socket_;
#else
  int socket_;
#endif
  bool connected_ = false;
};

class LoopbackHttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(server_.Start(0), LoopbackHttpServer::StartResult::kOk); }
  LoopbackHttpServer server_;
};

TEST_F(LoopbackHttpServerTest, KeepsTheConnectionForSeveralRequests) {
  server_.SetResponder([](const RecordedRequest& request) {
    return ResponsePlan::Status(request.index == 0 ? 200 : 404, "body" + request.target);
  });
  RawClient client(server_.port());
  ASSERT_TRUE(client.connected());
  std::string first_answer = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nbody/a";
  std::string second_answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 11\r\n\r\nbody/?b='c'";
  ASSERT_TRUE(client.Send("GET /a HTTP/1.1\r\nHost: x\r\nX-One: 1\r\n\r\n"));
  EXPECT_EQ(client.Receive(first_answer.size()), first_answer);
  ASSERT_TRUE(client.Send("GET /?b='c' HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ(client.Receive(second_answer.size()), second_answer);

  RawClient other(server_.port());
  ASSERT_TRUE(other.Send("GET /z HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(server_.WaitForRequests(3, 2000));
  std::vector<RecordedRequest> requests = server_.Requests();
  EXPECT_EQ(requests[0].target, "/a");
  EXPECT_EQ(requests[0].Header("x-one"), "1");
  EXPECT_FALSE(requests[1].HasHeader("X-One"));
  EXPECT_EQ(requests[1].target, "/?b='c'");
  EXPECT_EQ(requests[0].connection, 1);
  EXPECT_EQ(requests[1].connection, 1);
  EXPECT_EQ(requests[2].connection, 2);
  EXPECT_EQ(server_.ConnectionCount(), 2);
}

TEST_F(LoopbackHttpServerTest, ClosesOrResetsWithoutAnswer) {
  server_.SetResponder([](const RecordedRequest& request) {
    return request.index == 0 ? ResponsePlan::CloseWithoutAnswer()
                              : ResponsePlan::ResetWithoutAnswer();
  });
  RawClient closed(server_.port());
  ASSERT_TRUE(closed.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(closed.Receive(), "");
  RawClient reset(server_.port());
  ASSERT_TRUE(reset.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(reset.Receive(), "");
  EXPECT_EQ(server_.RequestCount(), 2u);
}

TEST_F(LoopbackHttpServerTest, BodyWithoutLengthEndsAtClose) {
  ResponsePlan plan = ResponsePlan::Status(200, "0123456789");
  plan.length = ResponsePlan::Length::kAbsent;
  plan.chunk_size = 4;
  plan.chunk_delay_ms = 10;
  server_.SetDefaultResponse(plan);
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send("GET /f HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(client.Receive(), "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n0123456789");
}

TEST_F(LoopbackHttpServerTest, LyingLengthAndRedirect) {
  server_.SetResponder([](const RecordedRequest& request) {
    if (request.index == 1) return ResponsePlan::Redirect(302, "http://127.0.0.1/next");
    ResponsePlan plan = ResponsePlan::Status(200, "abc");
    plan.length = ResponsePlan::Length::kDeclared;
    plan.declared_length = 10;
    return plan;
  });
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send("GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n"));
  std::string expected =
      "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"
      "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/next\r\nContent-Length: 0\r\n\r\n";
  EXPECT_EQ(client.Receive(expected.size()), expected);
}

TEST_F(LoopbackHttpServerTest, GeneratedBodyAndShortBody) {
  server_.SetResponder([](const RecordedRequest& request) {
    return request.target == "/gen" ? ResponsePlan::Generated(200000)
                                    : ResponsePlan::ShortBody("abc", 100);
  });
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send("GET /gen HTTP/1.1\r\n\r\n"));
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n";
  std::string answer = client.Receive(head.size() + 200000);
  EXPECT_EQ(answer.substr(0, head.size()), head);
  EXPECT_TRUE(answer.substr(head.size()) == testing_servers::GeneratedBody(0, 200000));
  // The pattern repeats every 65521 bytes and reads alike from any offset.
  EXPECT_EQ(testing_servers::GeneratedBody(65521 * 3 + 7, 50),
            testing_servers::GeneratedBody(7, 50));
  EXPECT_NE(testing_servers::GeneratedBody(65536, 50), testing_servers::GeneratedBody(0, 50));

  // A short body ends with the connection.
  ASSERT_TRUE(client.Send("GET /short HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(client.Receive(),
            "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nabc");
}

// The hostile answers: on the wire as a broken server would send them.
TEST_F(LoopbackHttpServerTest, ResetLongTrickleAndLargeHead) {
  server_.SetResponder([](const RecordedRequest& request) {
    if (request.target == "/reset") return ResponsePlan::ResetMidBody("abc", 100);
    if (request.target == "/long") return ResponsePlan::LongBody("abcdef", 3);
    if (request.target == "/trickle") return ResponsePlan::Trickle(3, 20);
    return ResponsePlan::LargeHead("x", 65536);
  });
  {
    RawClient client(server_.port());
    ASSERT_TRUE(client.Send("GET /reset HTTP/1.1\r\n\r\n"));
    // The bytes before the reset may or may not be read; never more.
    std::string answer = client.Receive();
    EXPECT_EQ(std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc").find(answer), 0u)
        << answer;
  }
  {
    RawClient client(server_.port());
    ASSERT_TRUE(client.Send("GET /long HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Receive(),
              "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabcdef");
  }
  {
    RawClient client(server_.port());
    ASSERT_TRUE(client.Send("GET /trickle HTTP/1.1\r\n\r\n"));
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Receive(head.size() + 3), head + testing_servers::GeneratedBody(0, 3));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  }
  {
    RawClient client(server_.port());
    ASSERT_TRUE(client.Send("GET /large HTTP/1.1\r\n\r\n"));
    const std::string answer = "HTTP/1.1 200 OK\r\nX-Filler: " + std::string(65536, 'f') +
                               "\r\nContent-Length: 1\r\n\r\nx";
    EXPECT_TRUE(client.Receive(answer.size()) == answer);
  }
}

TEST_F(LoopbackHttpServerTest, AClientThatStopsReadingDoesNotHoldStopUp) {
  server_.SetDefaultResponse(ResponsePlan::Generated(uint64_t{1} << 30));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send("GET /huge HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(client.Receive(4096).empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the buffers fill up
  auto start = std::chrono::steady_clock::now();
  server_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(LoopbackHttpServerTest, WaitingForRequestsTimesOut) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(server_.WaitForRequests(1, 100));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST(LoopbackHttpServerPortTest, SecondServerOnTheSamePortIsRefused) {
  LoopbackHttpServer first;
  ASSERT_EQ(first.Start(0), LoopbackHttpServer::StartResult::kOk);
  EXPECT_NE(first.port(), 0);
  LoopbackHttpServer second;
  EXPECT_EQ(second.Start(first.port(), 200), LoopbackHttpServer::StartResult::kAddressInUse);
}

}  // namespace
