#include "tools/collector/request_head.h"

#include <gtest/gtest.h>

namespace collector {

namespace {

struct HeadCase {
  const char* bytes;
  HeadReader::State state;
  const char* target;  // kComplete
  bool keep_alive;     // kComplete
  Refusal refusal;     // kRefused
};

// Each case read whole, then again a byte at a time as a trickle brings it.
TEST(HeadReaderTest, HeadsAsTheyArrive) {
  using State = HeadReader::State;
  const HeadCase cases[] = {
      {"GET /?a HTTP/1.1\r\nHost: x\r\n\r\n", State::kComplete, "/?a", true, {}},
      {"\r\nGET /?a HTTP/1.1\nHost: x\n\n", State::kComplete, "/?a", true, {}},  // LF alone too
      {"GET /?a='b c' HTTP/1.1\r\n\r\n", State::kComplete, "/?a='b%20c'", true, {}},
      {"GET / HTTP/1.1\r\nConnection: Keep-Alive, close\r\n\r\n", State::kComplete, "/", false, {}},
      {"GET / HTTP/1.0\r\n\r\n", State::kComplete, "/", false, {}},
      {"GET / HTTP/1.0\r\nconnection: keep-alive\r\n\r\n", State::kComplete, "/", true, {}},
      {"GET / HTTP/1.1\r\nContent-Length: 00\r\n\r\n", State::kComplete, "/", true, {}},
      {"GET / HTTP/1.1\r\nHost: x\r\n", State::kPartial, "", true, {}},
      {"NONSENSE\r\n\r\n", State::kRefused, "", true, Refusal::kUnreadableHead},
      {"GET  HTTP/1.1\r\n\r\n", State::kRefused, "", true, Refusal::kUnreadableHead},
      {"GET / HTTP/1.1\r\nContent-Length : 0\r\n\r\n", State::kRefused, "", true,
       Refusal::kUnreadableHead},
      {"GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", State::kRefused, "", true, Refusal::kUnreadableHead},
      {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", State::kRefused, "", true,
       Refusal::kUnreadableHead},
      {"GET / HTTP/1.1\r\nContent-Length: 1\r\n\r\nx", State::kRefused, "", true, Refusal::kBody},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: identity\r\n\r\n", State::kRefused, "", true,
       Refusal::kBody},
  };
  HeadLimits limits;
  for (const HeadCase& c : cases) {
    for (bool trickle : {false, true}) {
      SCOPED_TRACE(std::string(c.bytes) + (trickle ? " (a byte at a time)" : ""));
      HeadReader reader(limits);
      std::string buffer;
      State state = State::kPartial;
      const std::string bytes = c.bytes;
      for (size_t i = 0; i < bytes.size() && state == State::kPartial; ++i) {
        buffer += trickle ? bytes.substr(i, 1) : bytes.substr(i);
        if (!trickle) i = bytes.size();
        state = reader.Read(buffer);
      }
      ASSERT_EQ(state, c.state);
      if (state == State::kComplete) {
        EXPECT_EQ(reader.head().target, c.target);
        EXPECT_EQ(reader.head().keep_alive, c.keep_alive);
        EXPECT_EQ(reader.head_bytes(), bytes.find("\n\n") != std::string::npos
                                           ? bytes.find("\n\n") + 2
                                           : bytes.find("\r\n\r\n") + 4);
      }
      if (state == State::kRefused) {
        EXPECT_EQ(reader.refusal(), c.refusal);
      }
    }
  }
}

// The bounds hold before the head's end arrives, so the buffer never grows past them.
TEST(HeadReaderTest, BoundsHoldWithoutWaitingForTheEnd) {
  HeadLimits limits;
  limits.max_bytes = 100;
  limits.max_line_bytes = 40;
  limits.max_lines = 3;
  HeadReader line(limits);
  EXPECT_EQ(line.Read("GET /" + std::string(40, 'a')), HeadReader::State::kRefused);
  EXPECT_EQ(line.refusal(), Refusal::kRequestLineTooLong);
  // A line just at the bound, its CR come and its LF not yet, is no longer.
  HeadReader at_bound(limits);
  const std::string request_line = "GET /" + std::string(26, 'a') + " HTTP/1.1";
  ASSERT_EQ(request_line.size(), limits.max_line_bytes);
  EXPECT_EQ(at_bound.Read(request_line + "\r"), HeadReader::State::kPartial);
  EXPECT_EQ(at_bound.Read(request_line + "\r\n\r\n"), HeadReader::State::kComplete);
  HeadReader bytes(limits);
  EXPECT_EQ(bytes.Read("GET / HTTP/1.1\r\nA: " + std::string(90, 'a')),
            HeadReader::State::kRefused);
  EXPECT_EQ(bytes.refusal(), Refusal::kHeadTooLarge);
  HeadReader lines(limits);
  EXPECT_EQ(lines.Read("GET / HTTP/1.1\r\nA: b\r\nA: b\r\nA: b\r\nA: b\r\n"),
            HeadReader::State::kRefused);
  EXPECT_EQ(lines.refusal(), Refusal::kTooManyHeaderLines);
}

}  // namespace

}  // namespace collector
