#include "payload/embedded_files.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "payload/payload_reader.h"

namespace payload {

namespace {

struct EmbeddedPicture {
  const char* name;  // entry and file name
  diagnostics::EventId failure;
};

// In the order in which they are written.
constexpr EmbeddedPicture kPictures[] = {
    {"LOGOICON.ICO", diagnostics::kLogoIconNotSaved},
    {"BACKGROUND.JPG", diagnostics::kBackgroundImageNotSaved},
    {"SPLASHSCREEN.JPG", diagnostics::kSplashImageNotSaved},
    {"LOGOIMAGE.JPG", diagnostics::kClientLogoImageNotSaved},
    {"PROGRESSBAR_BIRD.JPG", diagnostics::kBirdImageNotSaved},
};

constexpr const char* kOptionalInstallers[] = {"dotnetfx.exe", "dotnetServicePack.exe"};

}  // namespace

void extractEmbeddedFiles(const PayloadReader& reader, const std::string& working_directory,
                          diagnostics::EventSink& events) {
  if (working_directory.empty()) return;
  for (const EmbeddedPicture& picture : kPictures) {
    if (!reader.saveEntry(picture.name, picture.name, working_directory)) {
      events.Post(picture.failure);
    }
  }
}

void SaveOptionalInstallers(const PayloadReader& reader, const std::string& working_directory) {
  if (working_directory.empty()) return;
  for (const char* name : kOptionalInstallers) {
    // Unlike the pictures, an absent installer leaves an earlier download alone.
    if (reader.hasEntry(name)) reader.saveEntry(name, name, working_directory);
  }
}

}  // namespace payload
