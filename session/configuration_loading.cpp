#include "session/configuration_loading.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"

Configuration LoadConfiguration(const PayloadReader& reader, EventLogger& logger) {
  logger.Post(kDataDetachmentStarted);
  Configuration configuration = parseConfiguration(reader);
  if (!configuration.available) {
    logger.Post(kConfigurationMissing);
    return configuration;
  }
  for (const std::string& watermark : configuration.watermarks) logger.ReportWatermark(watermark);
  if (configuration.settings.has(TORVANEIISLOGSERVER)) {
    logger.SetLogServer(configuration.settings.get(TORVANEIISLOGSERVER));
  }
  logger.Post(kConfigurationDetached);
  return configuration;
}
