// Paths that tests hand to the platform layer, valid on the host build and
// under Wine alike.
#pragma once

#include <string>

#include "platform/files.h"

namespace test_paths {

// A file of the source tree, e.g. SourcePath("tests/fixtures/x.exe"). Under
// Wine the Unix path is reached through drive Z:.
std::string SourcePath(const std::string& relative);

// A fresh folder in the temporary folder, removed with its files (one level
// of subfolders) when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with `name`.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole-file helpers through the platform layer.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
using platform::ReadWholeFile;

}  // namespace test_paths
