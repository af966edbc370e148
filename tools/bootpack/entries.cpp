#include "tools/bootpack/entries.h"

#include <map>

#include "payload/payload_format.h"
#include "platform/ascii.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "tools/common/cli_args.h"
#include "tools/common/file_io.h"

namespace bootpack {

using tools::ParseArgs;
using tools::ParsedArgs;
using tools::ReadAt;
using tools::WriteWholeFile;
namespace {

const char kListHelp[] =
    "usage: bootpack list EXE\n"
    "\n"
    "Prints one line per payload entry in file order: name, size in bytes and\n"
    "the MD5 digest of its data. An entry that the bootstrapper never reads (a\n"
    "later entry has the same name, or the name has lower-case letters) is\n"
    "marked. Then the payload's start and end offsets, and the certificate\n"
    "table's offset and size when the file is signed (a security directory\n"
    "entry naming bytes that hold no certificates is reported and ignored).\n"
    "\n"
    "Exit status: 0 listed, 1 the file has no payload (\"no payload\" is printed),\n"
    "2 the file cannot be read.\n";

const char kExtractHelp[] =
    "usage: bootpack extract EXE DIR [NAME...]\n"
    "\n"
    "Writes the payload entries (all of them, or the NAMEs, matched without\n"
    "regard to case) into DIR, each under its entry name. Of two entries with\n"
    "the same name the one nearer the end of the file is written, as the\n"
    "bootstrapper reads it.\n"
    "\n"
    "Exit status: 0 extracted, 1 the file has no payload, 2 a NAME is not in the payload, an entry "
    "name is\n"
    "not a plain file name, or a file cannot be read or written.\n";

// A packed executable opened for reading, with its payload located.
struct OpenedPayload {
  platform::UniqueFile file;
  payload::FileLayout layout;
  payload::PayloadScan scan;
};

bool OpenPayload(const std::string& path, OpenedPayload* opened) {
  opened->file = platform::OpenFile(path, "rb");
  if (!opened->file) return false;
  opened->layout = payload::ReadFileLayout(opened->file.get());
  opened->scan = payload::ScanPayload(opened->file.get(), opened->layout);
  return true;
}

// For each name, the index of its occurrence nearest the end of the file.
std::map<std::string, size_t> LastOccurrences(const std::vector<payload::ScannedEntry>& entries) {
  std::map<std::string, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) last[entries[i].name] = i;
  return last;
}

int Usage(const char* command, const std::string& problem, const char* help, std::FILE* err) {
  std::fprintf(err, "bootpack %s: %s\n%s", command, problem.c_str(), help);
  return 2;
}

}  // namespace

bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c < 0x20 || c > 0x7e) return false;
    if (c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

int ListCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  ParsedArgs parsed = ParseArgs(args, {}, {});
  if (parsed.help) {
    std::fputs(kListHelp, out);
    return 0;
  }
  if (!parsed.error.empty()) return Usage("list", parsed.error, kListHelp, err);
  if (parsed.positional.size() != 1) return Usage("list", "expected one file", kListHelp, err);

  const std::string& path = parsed.positional[0];
  OpenedPayload opened;
  if (!OpenPayload(path, &opened)) {
    std::fprintf(err, "bootpack list: cannot read %s\n", path.c_str());
    return 2;
  }
  const std::vector<payload::ScannedEntry>& entries = opened.scan.entries;
  if (entries.empty()) {
    std::fputs("no payload\n", out);
    return 1;
  }
  size_t width = 0;
  for (const payload::ScannedEntry& entry : entries) width = std::max(width, entry.name.size());
  std::map<std::string, size_t> last = LastOccurrences(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    const payload::ScannedEntry& entry = entries[i];
    std::string data;
    if (!ReadAt(opened.file.get(), entry.data_offset, entry.size, &data)) {
      std::fprintf(err, "bootpack list: cannot read entry %s of %s\n", entry.name.c_str(),
                   path.c_str());
      return 2;
    }
    const char* note = "";
    if (last[entry.name] != i) {
      note = "  (never read: a later entry has this name)";
    } else if (platform::AsciiUpper(entry.name) != entry.name) {
      note = "  (never read: lower-case letters in the name)";
    }
    std::fprintf(
        out, "%-*s %10lu  %s%s\n", static_cast<int>(width), entry.name.c_str(),
        static_cast<unsigned long>(entry.size),
        platform::DigestHex(platform::DigestAlgorithm::kMd5, data.data(), data.size()).c_str(),
        note);
  }
  std::fprintf(out, "payload: start %lld, end %lld\n", static_cast<long long>(opened.scan.start),
               static_cast<long long>(opened.scan.end));
  const payload::FileLayout& layout = opened.layout;
  if (layout.has_certificate_table) {
    std::fprintf(out, "certificate table: offset %lld, size %lld",
                 static_cast<long long>(layout.certificate_offset),
                 static_cast<long long>(layout.certificate_size));
    if (layout.certificate_bytes != layout.certificate_size) {
      std::fprintf(out, " (its certificates fill only %lld bytes)",
                   static_cast<long long>(layout.certificate_bytes));
    }
    std::fputc('\n', out);
  } else if (layout.named_certificate_offset != 0 || layout.named_certificate_size != 0) {
    std::fprintf(out,
                 "certificate table: none (the security directory names offset %lld, size "
                 "%lld, which holds no certificates; ignored)\n",
                 static_cast<long long>(layout.named_certificate_offset),
                 static_cast<long long>(layout.named_certificate_size));
  } else {
    std::fputs("certificate table: none\n", out);
  }
  return 0;
}

int ExtractCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  ParsedArgs parsed = ParseArgs(args, {}, {});
  if (parsed.help) {
    std::fputs(kExtractHelp, out);
    return 0;
  }
  if (!parsed.error.empty()) return Usage("extract", parsed.error, kExtractHelp, err);
  if (parsed.positional.size() < 2) {
    return Usage("extract", "expected a file and a folder", kExtractHelp, err);
  }
  const std::string& path = parsed.positional[0];
  const std::string& folder = parsed.positional[1];
  OpenedPayload opened;
  if (!OpenPayload(path, &opened)) {
    std::fprintf(err, "bootpack extract: cannot read %s\n", path.c_str());
    return 2;
  }
  const std::vector<payload::ScannedEntry>& entries = opened.scan.entries;
  if (entries.empty()) {
    std::fprintf(err, "bootpack extract: %s has no payload\n", path.c_str());
    return 1;
  }
  std::map<std::string, size_t> last = LastOccurrences(entries);

  // Everything is checked before the first file is written.
  std::vector<size_t> chosen;
  if (parsed.positional.size() == 2) {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (last[entries[i].name] == i) chosen.push_back(i);
    }
  } else {
    for (size_t n = 2; n < parsed.positional.size(); ++n) {
      const std::string wanted = platform::AsciiUpper(parsed.positional[n]);
      size_t found = entries.size();
      for (size_t i = 0; i < entries.size(); ++i) {
        if (platform::AsciiUpper(entries[i].name) == wanted) found = i;
      }
      if (found == entries.size()) {
        std::fprintf(err, "bootpack extract: %s has no entry %s\n", path.c_str(),
                     parsed.positional[n].c_str());
        return 2;
      }
      chosen.push_back(found);
    }
  }
  for (size_t i : chosen) {
    if (!IsSafeFileName(entries[i].name)) {
      std::fprintf(err, "bootpack extract: entry name \"%s\" is not a plain file name\n",
                   entries[i].name.c_str());
      return 2;
    }
  }
  if (!chosen.empty() && !platform::CreateFolderTree(folder)) {
    std::fprintf(err, "bootpack extract: cannot create %s\n", folder.c_str());
    return 2;
  }
  for (size_t i : chosen) {
    const payload::ScannedEntry& entry = entries[i];
    std::string data;
    const std::string target = platform::JoinPath(folder, entry.name);
    if (!ReadAt(opened.file.get(), entry.data_offset, entry.size, &data)) {
      std::fprintf(err, "bootpack extract: cannot read entry %s of %s\n", entry.name.c_str(),
                   path.c_str());
      return 2;
    }
    if (!WriteWholeFile(target, data)) {
      std::fprintf(err, "bootpack extract: cannot write %s\n", target.c_str());
      return 2;
    }
    std::fprintf(out, "%s %lu\n", entry.name.c_str(), static_cast<unsigned long>(entry.size));
  }
  return 0;
}

}  // namespace bootpack
