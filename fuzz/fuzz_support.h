// Shared by the fuzz targets: a scratch folder made once per process (removed
// at exit), files rewritten in place for each input, and a check that aborts
// so that libFuzzer keeps the input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// Aborts with the failed condition: libFuzzer saves the input as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// The scratch folder and the files made in it; heap-held so that it outlives
// every static that might still use it at exit.
struct Scratch {
  std::string folder;
  std::vector<std::string> files;
};

inline Scratch& TheScratch() {
  static Scratch* scratch = [] {
    // Memory-backed by default: on ext4 every truncate-and-rewrite of a file
    // forces its data to disk, which costs milliseconds per input.
    const char* base = std::getenv("TMPDIR");
    if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/kestrel-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
      std::perror("mkdtemp");
      std::abort();
    }
    auto* made = new Scratch{pattern, {}};
    // A crash skips this; the folder then stays behind in the temporary folder.
    std::atexit([] {
      for (const std::string& file : TheScratch().files) unlink(file.c_str());
      rmdir(TheScratch().folder.c_str());
    });
    return made;
  }();
  return *scratch;
}

// The folder itself, for code that writes files of its own choosing into it.
inline const std::string& ScratchFolder() { return TheScratch().folder; }

// A file in the scratch folder, removed at exit. Call once per name.
inline std::string ScratchPath(const char* name) {
  std::string path = TheScratch().folder + "/" + name;
  TheScratch().files.push_back(path);
  return path;
}

// Replaces the file's contents with the bytes; aborts when it cannot.
inline void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    std::perror(path.c_str());
    std::abort();
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      std::perror("write");
      std::abort();
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// A sink for what the commands print.
inline std::FILE* NullOutput() {
  static std::FILE* null = std::fopen("/dev/null", "w");
  if (!null) std::abort();
  return null;
}

}  // namespace fuzz
