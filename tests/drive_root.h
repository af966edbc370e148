// KESTREL_DRIVE_ROOT, where the posix layer finds its drive letters, set for
// one test and given back its old value (or its absence) afterwards.
#pragma once

#ifndef _WIN32

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class DriveRootVariable {
 public:
  DriveRootVariable() {
    if (const char* old = getenv("KESTREL_DRIVE_ROOT")) {
      had_old_ = true;
      old_ = old;
    }
  }
  ~DriveRootVariable() {
    if (had_old_) {
      Set(old_);
    } else {
      Unset();
    }
  }
  DriveRootVariable(const DriveRootVariable&) = delete;
  DriveRootVariable& operator=(const DriveRootVariable&) = delete;

  void Set(const std::string& root) { setenv("KESTREL_DRIVE_ROOT", root.c_str(), 1); }
  void Unset() { unsetenv("KESTREL_DRIVE_ROOT"); }

 private:
  bool had_old_ = false;
  std::string old_;
};

// A fresh, empty folder under /tmp as the drive root; removed with all it
// holds once the variable is back.
class TempDriveRoot {
 public:
  TempDriveRoot() {
    char pattern[] = "/tmp/kestrel-drive-XXXXXX";
    if (mkdtemp(pattern)) folder_.path = pattern;
    variable_.Set(folder_.path);
  }
  TempDriveRoot(const TempDriveRoot&) = delete;
  TempDriveRoot& operator=(const TempDriveRoot&) = delete;

  const std::string& path() const { return folder_.path; }

 private:
  struct Folder {
    ~Folder() {
      std::error_code ignored;
      if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
  };
  Folder folder_;               // goes last,
  DriveRootVariable variable_;  // after the variable is back
};

#endif  // !_WIN32
