#include "tools/collector/service.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tools/collector/unique_fd.h"

namespace collector {
namespace {

TEST(ServiceTest, ReadinessGoesToTheSocketSystemdNames) {
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(NotifyServiceManager("READY=1"));
  // An abstract socket, as systemd names one with a leading "@".
  const std::string name = "kestrel-notify-" + std::to_string(getpid());
  UniqueFd listener(socket(AF_UNIX, SOCK_DGRAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  ASSERT_EQ(0, bind(listener.get(), reinterpret_cast<sockaddr*>(&address),
                    static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())));
  ASSERT_EQ(0, setenv("NOTIFY_SOCKET", ("@" + name).c_str(), 1));
  EXPECT_TRUE(NotifyServiceManager("READY=1"));
  unsetenv("NOTIFY_SOCKET");
  char message[32] = {};
  EXPECT_EQ(7, recv(listener.get(), message, sizeof message, MSG_DONTWAIT));
  EXPECT_STREQ("READY=1", message);
}

}  // namespace
}  // namespace collector
