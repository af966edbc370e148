#include "session/configuration_loading.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"

namespace session {

payload::Configuration LoadConfiguration(const payload::PayloadReader& reader,
                                         diagnostics::EventLogger& logger) {
  logger.Post(diagnostics::kDataDetachmentStarted);
  payload::Configuration configuration = parseConfiguration(reader);
  if (!configuration.available) {
    logger.Post(diagnostics::kConfigurationMissing);
    return configuration;
  }
  for (const std::string& watermark : configuration.watermarks) logger.ReportWatermark(watermark);
  if (configuration.settings.has(payload::TORVANEIISLOGSERVER)) {
    logger.SetLogServer(configuration.settings.get(payload::TORVANEIISLOGSERVER));
  }
  logger.Post(diagnostics::kConfigurationDetached);
  return configuration;
}

}  // namespace session
