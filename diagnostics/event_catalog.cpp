#include "diagnostics/event_catalog.h"

#include "diagnostics/error_texts.h"

namespace EventCatalog {

namespace {

// The fixed texts; null for the error ids that carry LastErrorText and for
// anything that is not an event.
const char* FixedText(EventId id) {
  switch (id) {
    case 3000:
      return "Launched Bootstrapper on user's machine.";
    case 3001:
      return "Checking operating system.";
    case 3002:
      return "Application exited because of unsupported operating system.";
    case 3003:
      return "Operating system supportive.";
    case 3004:
      return "Checking for single instance.";
    case 3005:
      return "Application exited due to creation of multiple instances.";
    case 3006:
      return "Single instance running.";
    case 3010:
      return "Neccessary data detachment started.";
    case 3011:
      return "Neccessary data detachment successful.";
    case 3012:
      return "Application exit due to failure of required data detachment.";
    case 3013:
      return "Application exit due to failure in InitInstance.";
    case 3014:
      return "Failed To save logo icon on disk.";
    case 3015:
      return "Failed To save background image on disk.";
    case 3016:
      return "Failed To save splash image on disk.";
    case 3017:
      return "Failed To save client logo image on disk.";
    case 3018:
      return "Failed To save bird image on disk.";
    case 3019:
      return "Configuration information detached successfully.";
    case 3020:
      return "Configuration information not available.";
    case 3021:
      return "Reporting Bootstrapper configuration watermark value";
    case 3111:
      return "Bootstrapper exited.";
    case 3112:
      return "Application exited due to exception.Unable to extract necessary information.";
    case 3113:
      return "Application exit due to failure in creating temporary directory.";
    case 3114:
      return "Application failed to terminate its running child processes.";
    case 3115:
      return "Application successfully terminated its running child processes.";
    case 4000:
      return "Checking prerequisites.";
    case 4001:
      return ".NET Framework is already installed on user's machine.";
    case 4002:
      return ".NET Framework is NOT already installed on user's machine.";
    case 4003:
      return ".NET Framework Service Pack is already installed on user's machine.";
    case 4004:
      return ".NET Framework Service Pack is NOT already installed on user's machine.";
    case 4005:
      return "Torvane Agent is already installed on user's machine.";
    case 4006:
      return "Torvane Agent is NOT already installed on user's machine.";
    case 4007:
      return "Application exit due to previous Torvane version installed on system.";
    case 4050:
      return ".NET Framework EULA displayed.";
    case 4051:
      return "Brindle EULA displayed.";
    case 4052:
      return ".NET Framework and Service Pack EULA displayed.";
    case 4053:
      return "Service Pack EULA displayed.";
    case 4054:
      return "Client EULA displayed.";
    case 4055:
      return ".NET Framework EULA not displayed.";
    case 4056:
      return "Brindle EULA not displayed.";
    case 4057:
      return ".NET Framework and Service Pack EULA not displayed.";
    case 4058:
      return "Service Pack EULA not displayed.";
    case 4059:
      return "Client EULA not displayed.";
    case 4060:
      return "Splash screen initialised.";
    case 4061:
      return "EULA screen initialised.";
    case 4062:
      return "Progress screen initialised.";
    case 5000:
      return ".NET Framework setup download started with primary Url.";
    case 5001:
      return ".NET Framework setup download started with secondary Url.";
    case 5002:
      return ".NET Framework setup download FAILED using primary URL.";
    case 5003:
      return ".NET Framework setup download FAILED using secondary URL.";
    case 5004:
      return ".NET Framework setup download completed using primary URL.";
    case 5005:
      return ".NET Framework setup download completed using secondary URL.";
    case 5006:
      return ".NET Framework Service Pack download started using primary URL.";
    case 5007:
      return ".NET Framework Service Pack download started using secondary URL.";
    case 5008:
      return ".NET Framework Service Pack download FAILED using primary URL.";
    case 5009:
      return ".NET Framework Service Pack download FAILED using secondary URL.";
    case 5010:
      return ".NET Framework Service Pack download completed using primary URL.";
    case 5011:
      return ".NET Framework Service Pack download completed using secondary URL.";
    case 5012:
      return "Torvane Agent setup download started.";
    case 5013:
      return "Torvane Agent setup download FAILED.";
    case 5014:
      return "Torvane Agent setup download completed.";
    case 5015:
      return "DirectX setup download started.";
    case 5016:
      return "DirectX setup download FAILED.";
    case 5017:
      return "DirectX setup download completed.";
    case 5018:
      return "Flash setup download started.";
    case 5019:
      return "Flash setup download FAILED.";
    case 5020:
      return "Flash setup download completed.";
    case 5100:
      return ".NET Framework setup download from primary URL cancelled by user.";
    case 5101:
      return ".NET Framework setup download from secondary URL cancelled by user.";
    case 5102:
      return ".NET Framework Service Pack download from primary URL cancelled by user.";
    case 5103:
      return ".NET Framework Service Pack download from secondary URL cancelled by user.";
    case 5104:
      return "Torvane Agent setup download cancelled by user.";
    case 5105:
      return "DirectX setup download cancelled by user..";
    case 5106:
      return "Flash setup download cancelled by user..";
    case 6001:
      return ".NET Framework installation started.";
    case 6002:
      return ".NET Framework installation FAILED.";
    case 6003:
      return ".NET Framework installation completed.";
    case 6004:
      return ".NET Framework Service Pack installation started.";
    case 6005:
      return ".NET Framework Service Pack installation FAILED.";
    case 6006:
      return ".NET Framework Service Pack installation completed.";
    case 6007:
      return "Torvane Agent installation started.";
    case 6008:
      return "Torvane Agent installation FAILED.";
    case 6009:
      return "Torvane Agent installation completed.";
    case 6010:
      return "DirectX setup installation started.";
    case 6011:
      return "DirectX setup installation FAILED.";
    case 6012:
      return "DirectX setup installation completed.";
    case 6013:
      return "Flash setup installation started.";
    case 6014:
      return "Flash setup installation FAILED.";
    case 6015:
      return "Flash setup installation completed.";
    case 6100:
      return ".NET Framework installation cancelled by user.";
    case 6101:
      return ".NET Framework Service Pack installation cancelled by user.";
    case 6102:
      return "Torvane Agent installation cancelled by user.";
    case 6103:
      return "DirectX setup installation completed.";
    case 6104:
      return "Flash setup installation completed.";
    case 7001:
      return "Trying to launch Torvane Agent.";
    case 7002:
      return "FAILED to launch Torvane Agent.";
    case 7003:
      return "Successfully launched Torvane Agent.";
    case 7004:
      return "Launching took more then expected time.";
    case 7005:
      return "Agent Launcher took more then expected time.";
    case 7006:
      return "Launching failed due to incorrect Desk/Content parameters.";
    case 7007:
      return "Could not find Torvane installation folder.";
    case 7009:
      return "Exited agent launcher stage due to user cancellation.";
    case 7010:
      return "Agent Launcher executable file could not be found.";
    case 7500:
      return "Found (and will now use) MiniServer installer.";
    case 7501:
      return "Failed to launch the MiniServer installer process.";
    case 8000:
      return "Rollback started.";
    case 8001:
      return ".NET Framework rollback started.";
    case 8002:
      return ".NET Framework rollback FAILED.";
    case 8003:
      return ".NET Framework rollback completed.";
    case 8004:
      return ".NET Framework Service Pack rollback started.";
    case 8005:
      return ".NET Framework Service Pack rollback FAILED.";
    case 8006:
      return ".NET Framework Service Pack rollback completed.";
    case 8007:
      return "Torvane Agent rollback started.";
    case 8008:
      return "Torvane Agent rollback FAILED.";
    case 8009:
      return "Torvane Agent rollback completed.";
    case 8111:
      return "Rollback completed.Application will exit now.";
    case 9000:
      return "Bootstrapper exited by closing splash screen window.";
    case 9001:
      return "Bootstrapper exited after clicking 'Cancel' button in EULA dialog.";
    case 9002:
      return "Bootstrapper exited by closing EULA dialog window.";
    case 9003:
      return "Accepted the EULA.";
    case 9004:
      return "Clicked 'X' close button in progress dialog window.";
    case 9005:
      return "Clicked 'Cancel' button in progress dialog window.";
    case 9050:
      return "Error occured while getting system directory.";
    case 9051:
      return "Not enough space for installation in system directory.";
    case 9052:
      return "Failed to create file on local disk.";
    case 9061:
      return "Failed to create HTTP Internet session.";
    case 9062:
      return "MD5 hash check failed. File is corrupt.";
    case 9064:
      return "Terminated installation.";
    case 9065:
      return "Terminated download.";
    case 9066:
      return "Found a valid installer file in local Temp folder or CD source.";
    default:
      return nullptr;
  }
}

}  // namespace

std::string Describe(EventId id) {
  switch (id) {
    case 9058:  // HTTP
    case 9059:  // system
    case 9060:  // installation
    case 9063:  // event
      // Whatever the last SetLastErrorText stored; the prefix is not checked.
      return LastErrorText();
    default:
      break;
  }
  const char* text = FixedText(id);
  return text ? text : "Event Not defined.";
}

}  // namespace EventCatalog
