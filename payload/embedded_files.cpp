#include "payload/embedded_files.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "payload/payload_reader.h"

namespace {

struct EmbeddedPicture {
  const char* name;  // entry and file name
  EventId failure;
};

// In the order in which they are written.
constexpr EmbeddedPicture kPictures[] = {
    {"LOGOICON.ICO", kLogoIconNotSaved},          {"BACKGROUND.JPG", kBackgroundImageNotSaved},
    {"SPLASHSCREEN.JPG", kSplashImageNotSaved},   {"LOGOIMAGE.JPG", kClientLogoImageNotSaved},
    {"PROGRESSBAR_BIRD.JPG", kBirdImageNotSaved},
};

constexpr const char* kOptionalInstallers[] = {"dotnetfx.exe", "dotnetServicePack.exe"};

}  // namespace

void extractEmbeddedFiles(const PayloadReader& reader, const std::string& working_directory,
                          EventSink& events) {
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
