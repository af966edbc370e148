#include "session/configuration_loading.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"

Configuration LoadConfiguration(const PayloadReader& reader) {
  PostEvent(kDataDetachmentStarted);
  Configuration configuration = parseConfiguration(reader);
  if (!configuration.available) {
    PostEvent(kConfigurationMissing);
    return configuration;
  }
  for (const std::string& watermark : configuration.watermarks) ReportWatermark(watermark);
  if (configuration.settings.has(TORVANEIISLOGSERVER)) {
    if (EventLogger* logger = GlobalEventLogger()) {
      logger->SetLogServer(configuration.settings.get(TORVANEIISLOGSERVER));
    }
  }
  PostEvent(kConfigurationDetached);
  return configuration;
}
