#include "session/configuration_loading.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/event_catalog.h"
#include "payload/payload_reader.h"
#include "tests/payload_builder.h"
#include "tests/recorded_events.h"
#include "tests/test_paths.h"

namespace session {

namespace {

using testing::ElementsAre;

class ConfigurationLoadingTest : public testing::Test {
 protected:
  payload::Configuration Load(const std::string& entries, RecordedEvents& events) {
    const std::string path = scratch_.File("bootstrapper.exe");
    EXPECT_TRUE(test_paths::WriteWholeFile(path, "image" + entries));
    payload::PayloadReader reader(path);
    return LoadConfiguration(reader, events.logger());
  }

  test_paths::ScratchFolder scratch_;
};

TEST_F(ConfigurationLoadingTest, EventsAroundTheParse) {
  {
    RecordedEvents events;
    payload::Configuration config =
        Load(test_payload::Entry("CONFIG.TXT", "ClientID=a\r\nWFGUID=w1\r\nWFGUID=w2\r\n"), events);
    EXPECT_EQ("a", config.settings.clientId());
    // Every watermark line is reported, in its place before the parse's end.
    EXPECT_THAT(events.Ids(),
                ElementsAre(diagnostics::kDataDetachmentStarted, diagnostics::kWatermarkReported,
                            diagnostics::kWatermarkReported, diagnostics::kConfigurationDetached));
  }
  {
    RecordedEvents events;
    Load(test_payload::Entry("CONFIG.TXT", "WFGUID=3f2504e0-4f89-11d3-9a0c-0305e82c3301\r\n"),
         events);
    EXPECT_NE(std::string::npos,
              events.LogText().find("WATERMARK='3f2504e0-4f89-11d3-9a0c-0305e82c3301',"
                                    "EVENTID='3021'"));
  }
  {
    RecordedEvents events;
    Load(test_payload::Entry("EULA.TXT", "no configuration here"), events);
    EXPECT_THAT(events.Ids(), ElementsAre(diagnostics::kDataDetachmentStarted,
                                          diagnostics::kConfigurationMissing));
  }
  {
    RecordedEvents events;
    Load(test_payload::Entry("CONFIG.TXT", ""), events);
    EXPECT_THAT(events.Ids(), ElementsAre(diagnostics::kDataDetachmentStarted,
                                          diagnostics::kConfigurationMissing));
  }
}

}  // namespace

}  // namespace session
