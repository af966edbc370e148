// Drive C: of the posix build in a scratch folder of its own, for one test.
// Make it before the test's logger starts and let it go after the logger has
// ended, so that no thread reads KESTREL_DRIVE_ROOT while it changes.
#pragma once

#ifndef _WIN32

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/posix/native_path.h"
#include "tests/drive_root.h"
#include "tests/test_paths.h"

class ScopedDrive {
 public:
  ScopedDrive() { variable_.Set(platform::NativePath(root_.path())); }
  ~ScopedDrive() {
    unlink(Drive().c_str());  // a link, when the test made one
    rmdir(Drive().c_str());   // an empty drive the test made
  }
  ScopedDrive(const ScopedDrive&) = delete;
  ScopedDrive& operator=(const ScopedDrive&) = delete;

  // The native folder that stands for C:\ (not made until MakeDrive).
  std::string Drive() const { return platform::NativePath(root_.path()) + "/c"; }
  bool MakeDrive() const { return mkdir(Drive().c_str(), 0755) == 0; }

 private:
  test_paths::ScratchFolder root_;
  DriveRootVariable variable_;  // back before root_ goes
};

#endif  // !_WIN32
