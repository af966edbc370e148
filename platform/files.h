// Files and folders. Paths are Windows paths joined with a backslash; the posix
// build translates them at this boundary (see platform/posix/native_path.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Path of the running executable; empty when it cannot be read.
std::string ExecutablePath();

// The user's temporary folder, ending in a separator; empty when the folder
// path is unknown or longer than 256 characters.
std::string TempFolder();

// The system folder (e.g. C:\WINDOWS\system32), without a trailing separator.
std::string SystemFolder();

// Opens a file with C stdio semantics ("rb", "wb", "w", "ab"...); null on failure.
UniqueFile OpenFile(const std::string& path, const char* mode);

// Replaces `bytes` with the whole file's; false when it cannot be opened or a
// read fails (then `bytes` holds what was read before the failure).
bool ReadWholeFile(const std::string& path, std::string* bytes);

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);

// Creates one folder level; false when it could not be made or already exists.
bool CreateFolder(const std::string& path);
// Creates a folder with all missing parents, level by level (a drive or
// \\server\share prefix is taken as given); true when it exists afterwards.
bool CreateFolderTree(const std::string& path);
bool RemoveFile(const std::string& path);
// Removes an empty folder.
bool RemoveFolder(const std::string& path);
// Moves `from` onto `to`, replacing it.
bool ReplaceFile(const std::string& from, const std::string& to);

struct FolderEntry {
  std::string name;
  bool is_folder = false;
};
// The entries of a folder, without "." and "..". False when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);

// Whether a stream is a terminal (a console on win32).
bool IsTerminal(std::FILE* stream);

// Size of a file in bytes, or -1.
int64_t FileSize(const std::string& path);

// Joins a folder and a name with exactly one backslash, whether or not the
// folder ends in one (leading backslashes of the name are dropped).
std::string JoinPath(const std::string& folder, const std::string& name);

// The absolute path that `path` names, resolved against the current folder
// (GetFullPathNameA on Windows, which also folds "." and ".."; the posix
// build joins the current folder and leaves the folding to the reader).
// Empty for the empty path and when it cannot be resolved.
std::string FullPath(const std::string& path);

// True when `path` names the root of a drive or a share however it is spelt
// ("C:\", "C:", "C:/", "\", "\\server\share", "\\?\C:\", "C:\dir\..",
// "\\?\Volume{GUID}\"), and for the empty path, which joined with a name gives
// the current drive's root. A relative path is resolved against the current
// folder first ("." run from C:\ is C:\); one that cannot be resolved counts
// as a root. No folder there may be emptied, removed or written into by a run.
bool IsDriveOrShareRoot(const std::string& path);

// The same judged on the spelling alone, as a reader who cannot know the
// current folder sees it: a relative path is no root.
bool SpellsDriveOrShareRoot(const std::string& path);

// True for a relative path that ends at the top of its climb ("." "WF\.."
// "..\.."): from the current folder or one above it, it names that folder
// itself, and so a root whenever the run starts at or near one.
bool EndsAtOrAboveCurrentFolder(const std::string& path);

// A folder a run may never make, write into, empty or remove: a root, or the
// folder the run started in or one above it (the player's own, such as
// Downloads), however it is spelt: "." names it wherever the run starts.
bool IsRootOrCurrentFolder(const std::string& path);

}  // namespace platform
