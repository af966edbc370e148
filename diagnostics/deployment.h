// Addresses that belong to the deployment, not to one payload: kept in one place.
#pragma once

namespace diagnostics {

// The maker's support page, named in every support message.
constexpr const char kSupportAddress[] = "http://www.torvane.com/support";
// The cancellation survey; "%t" is replaced by the run's id.
constexpr const char kSurveyAddress[] =
    "http://survey.torvane.com/wsb.dll/s/TakeSurvey?id=641272&ext_ref=%t";
// The privacy policy linked from the licence window.
constexpr const char kPrivacyAddress[] = "http://www.torvane.com/PrivacyPolicy.aspx";

}  // namespace diagnostics
