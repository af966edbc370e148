#include "session/configuration_loading.h"

#include "diagnostics/event_logger.h"

Configuration LoadConfiguration(const PayloadReader& reader) {
  PostEvent(3010);
  Configuration configuration = parseConfiguration(reader);
  if (!configuration.available) {
    PostEvent(3020);
    return configuration;
  }
  for (const std::string& watermark : configuration.watermarks) ReportWatermark(watermark);
  if (configuration.settings.has(TORVANEIISLOGSERVER)) {
    if (EventLogger* logger = GlobalEventLogger()) {
      logger->SetLogServer(configuration.settings.get(TORVANEIISLOGSERVER));
    }
  }
  PostEvent(3019);
  return configuration;
}
