#include "tools/bootpack/pack.h"

#include <set>

#include "payload/payload_format.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "tools/common/cli_args.h"
#include "tools/common/file_io.h"
#include "tools/bootpack/lint.h"

namespace bootpack {

using tools::BaseName;
using tools::ParseArgs;
using tools::ParsedArgs;
using tools::ReadAt;
using tools::WriteWholeFile;
namespace {

const char kPackHelp[] =
    "usage: bootpack pack --stub STUB.exe --out OUT.exe [--replace] [--force] FILE...\n"
    "\n"
    "Copies STUB.exe to OUT.exe and appends each FILE, in the order given, as a\n"
    "payload entry named by its file name in upper case (\"config.txt\" becomes\n"
    "CONFIG.TXT). The result is padded with zero bytes to a multiple of 8, so\n"
    "that signing it afterwards inserts nothing before the certificate table.\n"
    "An entry named CONFIG.TXT is checked as by `bootpack lint` first.\n"
    "\n"
    "Refused: a name longer than 127 bytes or not printable ASCII; two files with\n"
    "the same entry name; a stub that already carries a payload or a signature\n"
    "(entries after a signature are never read); a CONFIG.TXT with lint errors.\n"
    "\n"
    "  --replace  drop the stub's payload and signature (and clear its security\n"
    "             directory entry) before appending\n"
    "  --force    pack a CONFIG.TXT even when it has lint errors\n"
    "\n"
    "OUT.exe is written to OUT.exe.tmp and renamed at the end; a failed pack\n"
    "leaves no output. Exit status: 0 packed, 2 refused or failed.\n";

struct Input {
  std::string path;
  std::string name;
  std::string data;
};

class Packer {
 public:
  Packer(const PackOptions& options, std::FILE* out, std::FILE* err)
      : options_(options), out_(out), err_(err) {}

  int Run() {
    std::vector<Input> inputs;
    std::string image;
    if (!ReadInputs(&inputs) || !ReadStub(&image)) return 2;
    std::string result = image;
    for (const Input& input : inputs) payload::AppendEntry(input.name, input.data, &result);
    const size_t payload_end = result.size();
    result.append((8 - result.size() % 8) % 8, '\0');

    const std::string temp = options_.out + ".tmp";
    if (!WriteWholeFile(temp, result)) {
      return Fail("cannot write " + temp);
    }
    if (!platform::ReplaceFile(temp, options_.out)) {
      platform::RemoveFile(temp);
      return Fail("cannot rename " + temp + " to " + options_.out);
    }
    std::fprintf(out_, "%s: %u entries, payload %lu-%lu, %lu bytes\n", options_.out.c_str(),
                 static_cast<unsigned>(inputs.size()), static_cast<unsigned long>(image.size()),
                 static_cast<unsigned long>(payload_end),
                 static_cast<unsigned long>(result.size()));
    return 0;
  }

 private:
  int Fail(const std::string& message) {
    Error(message);
    return 2;
  }

  bool Error(const std::string& message) {
    std::fprintf(err_, "bootpack pack: %s\n", message.c_str());
    return false;
  }

  bool ReadInputs(std::vector<Input>* inputs) {
    std::set<std::string> names;
    for (const std::string& path : options_.files) {
      Input input;
      input.path = path;
      std::string problem;
      if (!EntryNameFor(path, &input.name, &problem)) return Error(path + ": " + problem);
      if (!names.insert(input.name).second) {
        return Error(path + ": a second file for entry " + input.name);
      }
      if (!platform::ReadWholeFile(path, &input.data)) return Error("cannot read " + path);
      if (input.data.size() > payload::kMaxEntrySize) {
        return Error(path + ": larger than 2 GiB - 1 byte");
      }
      if (input.name == "CONFIG.TXT" && !LintOk(input)) return false;
      inputs->push_back(std::move(input));
    }
    return true;
  }

  bool LintOk(const Input& config) {
    LintReport report = LintConfig(config.data);
    PrintFindings(config.path, report, err_);
    if (report.errors == 0) return true;
    if (options_.force) {
      std::fprintf(err_, "bootpack pack: %s has errors; packed anyway (--force)\n",
                   config.path.c_str());
      return true;
    }
    return Error(config.path + " has errors (fix them, or pack anyway with --force)");
  }

  // The stub's bytes to keep: without any old payload and signature when
  // --replace allows dropping them.
  bool ReadStub(std::string* image) {
    platform::UniqueFile file = platform::OpenFile(options_.stub, "rb");
    if (!file) return Error("cannot read " + options_.stub);
    payload::FileLayout layout = payload::ReadFileLayout(file.get());
    payload::PayloadScan scan = payload::ScanPayload(file.get(), layout);
    bool has_payload = !scan.entries.empty();

    if (has_payload && !options_.replace) {
      return Error(options_.stub + " already carries a payload of " +
                   std::to_string(scan.entries.size()) + " entries (use --replace)");
    }
    if (layout.has_certificate_table && !options_.replace) {
      return Error(options_.stub +
                   " is signed; entries after the signature would never be read (use "
                   "--replace, and sign the result)");
    }
    int64_t keep = layout.file_size;
    if (has_payload) keep = scan.start;
    if (layout.has_certificate_table && layout.certificate_offset < keep) {
      keep = layout.certificate_offset;
    }
    if (keep > static_cast<int64_t>(payload::kMaxEntrySize) ||
        !ReadAt(file.get(), 0, static_cast<uint32_t>(keep), image)) {
      return Error("cannot read " + options_.stub);
    }
    if (image->size() < 2 || image->compare(0, 2, "MZ") != 0) {
      return Error(options_.stub + " is not an executable (no MZ header)");
    }
    // The bootstrapper starts its marker search where the MS-DOS header says
    // the file ends; a payload before that point would never be found.
    if (layout.search_start > keep) {
      return Error(options_.stub + ": its MS-DOS header puts the payload search at " +
                   std::to_string(layout.search_start) + ", after the stub's end " +
                   std::to_string(keep));
    }
    if (layout.has_certificate_table && layout.security_directory_offset >= 0 &&
        layout.security_directory_offset + 8 <= keep) {
      image->replace(static_cast<size_t>(layout.security_directory_offset), 8, 8, '\0');
    }
    if (layout.image_end > 0 && keep - layout.image_end > 7) {
      std::fprintf(err_,
                   "bootpack pack: warning: %s has %lld bytes after its last section (a "
                   "symbol table? strip the stub)\n",
                   options_.stub.c_str(), static_cast<long long>(keep - layout.image_end));
    }
    return true;
  }

  const PackOptions& options_;
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace

bool EntryNameFor(const std::string& path, std::string* name, std::string* problem) {
  *name = platform::AsciiUpper(BaseName(path));
  if (name->empty()) {
    *problem = "no file name to use as entry name";
    return false;
  }
  if (name->size() > payload::kMaxNameLength) {
    *problem = "entry name " + *name + " is longer than 127 bytes";
    return false;
  }
  for (char c : *name) {
    if (c < 0x20 || c > 0x7e) {
      *problem = "entry name is not printable ASCII";
      return false;
    }
  }
  return true;
}

int Pack(const PackOptions& options, std::FILE* out, std::FILE* err) {
  return Packer(options, out, err).Run();
}

int PackCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  ParsedArgs parsed = ParseArgs(args, {"--stub", "--out"}, {"--replace", "--force"});
  if (parsed.help) {
    std::fputs(kPackHelp, out);
    return 0;
  }
  std::string problem = parsed.error;
  if (problem.empty() && parsed.Option("--stub").empty()) problem = "--stub is required";
  if (problem.empty() && parsed.Option("--out").empty()) problem = "--out is required";
  if (problem.empty() && parsed.positional.empty()) problem = "no files to pack";
  if (!problem.empty()) {
    std::fprintf(err, "bootpack pack: %s\n%s", problem.c_str(), kPackHelp);
    return 2;
  }
  PackOptions options;
  options.stub = parsed.Option("--stub");
  options.out = parsed.Option("--out");
  options.replace = parsed.Has("--replace");
  options.force = parsed.Has("--force");
  options.files = parsed.positional;
  return Pack(options, out, err);
}

}  // namespace bootpack
