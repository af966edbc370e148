// The posix stand-in: an exclusive lock on a file named after the mutex in the
// temporary folder, held until the process ends.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>

#include "platform/files.h"
#include "platform/posix/native_path.h"

namespace platform {

struct NamedMutex::Native {
  int fd;
};

namespace {

std::string LockFileName(const std::string& name) {
  std::string file = "kestrel-mutex-";
  for (char c : name) file += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return file;
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) : native_(new Native{-1}), status_(0) {
  const std::string path = NativePath(TempFolder() + LockFileName(name));
  native_->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (native_->fd >= 0 && ::flock(native_->fd, LOCK_EX | LOCK_NB) != 0) status_ = kAlreadyExists;
}

NamedMutex::~NamedMutex() {
  if (native_->fd >= 0) ::close(native_->fd);
}

}  // namespace platform
