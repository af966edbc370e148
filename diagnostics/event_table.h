// Every event: its name, its number and its fixed English description. A null
// text marks the four error events, whose description is the LastErrorText.
// Rows stay sorted by number (event_catalog.cpp checks it at compile time).
//
// Deliberately without an include guard: the includer defines
// KESTREL_EVENT(name, id, text) to expand each row as it needs.

KESTREL_EVENT(kLaunched, 3000, "Launched Bootstrapper on user's machine.")
KESTREL_EVENT(kOsCheckStarted, 3001, "Checking operating system.")
KESTREL_EVENT(kOsUnsupported, 3002, "Application exited because of unsupported operating system.")
KESTREL_EVENT(kOsSupported, 3003, "Operating system supportive.")
KESTREL_EVENT(kSingleInstanceCheckStarted, 3004, "Checking for single instance.")
KESTREL_EVENT(kExitedAsSecondInstance, 3005,
              "Application exited due to creation of multiple instances.")
KESTREL_EVENT(kSingleInstanceRunning, 3006, "Single instance running.")
KESTREL_EVENT(kDataDetachmentStarted, 3010, "Neccessary data detachment started.")
KESTREL_EVENT(kDataDetachmentSucceeded, 3011, "Neccessary data detachment successful.")
KESTREL_EVENT(kExitedOnDataDetachmentFailure, 3012,
              "Application exit due to failure of required data detachment.")
KESTREL_EVENT(kExitedOnInitInstanceFailure, 3013,
              "Application exit due to failure in InitInstance.")
KESTREL_EVENT(kLogoIconNotSaved, 3014, "Failed To save logo icon on disk.")
KESTREL_EVENT(kBackgroundImageNotSaved, 3015, "Failed To save background image on disk.")
KESTREL_EVENT(kSplashImageNotSaved, 3016, "Failed To save splash image on disk.")
KESTREL_EVENT(kClientLogoImageNotSaved, 3017, "Failed To save client logo image on disk.")
KESTREL_EVENT(kBirdImageNotSaved, 3018, "Failed To save bird image on disk.")
KESTREL_EVENT(kConfigurationDetached, 3019, "Configuration information detached successfully.")
KESTREL_EVENT(kConfigurationMissing, 3020, "Configuration information not available.")
KESTREL_EVENT(kWatermarkReported, 3021, "Reporting Bootstrapper configuration watermark value")
KESTREL_EVENT(kBootstrapperExited, 3111, "Bootstrapper exited.")
KESTREL_EVENT(kExitedOnException, 3112,
              "Application exited due to exception.Unable to extract necessary information.")
KESTREL_EVENT(kExitedOnTempFolderFailure, 3113,
              "Application exit due to failure in creating temporary directory.")
KESTREL_EVENT(kChildProcessesNotTerminated, 3114,
              "Application failed to terminate its running child processes.")
KESTREL_EVENT(kChildProcessesTerminated, 3115,
              "Application successfully terminated its running child processes.")
KESTREL_EVENT(kPrerequisiteCheckStarted, 4000, "Checking prerequisites.")
KESTREL_EVENT(kDotNetInstalled, 4001, ".NET Framework is already installed on user's machine.")
KESTREL_EVENT(kDotNetMissing, 4002, ".NET Framework is NOT already installed on user's machine.")
KESTREL_EVENT(kServicePackInstalled, 4003,
              ".NET Framework Service Pack is already installed on user's machine.")
KESTREL_EVENT(kServicePackMissing, 4004,
              ".NET Framework Service Pack is NOT already installed on user's machine.")
KESTREL_EVENT(kAgentInstalled, 4005, "Torvane Agent is already installed on user's machine.")
KESTREL_EVENT(kAgentMissing, 4006, "Torvane Agent is NOT already installed on user's machine.")
KESTREL_EVENT(kExitedOnPreviousAgentVersion, 4007,
              "Application exit due to previous Torvane version installed on system.")
KESTREL_EVENT(kDotNetEulaShown, 4050, ".NET Framework EULA displayed.")
KESTREL_EVENT(kBrindleEulaShown, 4051, "Brindle EULA displayed.")
KESTREL_EVENT(kDotNetAndServicePackEulaShown, 4052,
              ".NET Framework and Service Pack EULA displayed.")
KESTREL_EVENT(kServicePackEulaShown, 4053, "Service Pack EULA displayed.")
KESTREL_EVENT(kClientEulaShown, 4054, "Client EULA displayed.")
KESTREL_EVENT(kDotNetEulaNotShown, 4055, ".NET Framework EULA not displayed.")
KESTREL_EVENT(kBrindleEulaNotShown, 4056, "Brindle EULA not displayed.")
KESTREL_EVENT(kDotNetAndServicePackEulaNotShown, 4057,
              ".NET Framework and Service Pack EULA not displayed.")
KESTREL_EVENT(kServicePackEulaNotShown, 4058, "Service Pack EULA not displayed.")
KESTREL_EVENT(kClientEulaNotShown, 4059, "Client EULA not displayed.")
KESTREL_EVENT(kSplashInitialised, 4060, "Splash screen initialised.")
KESTREL_EVENT(kEulaInitialised, 4061, "EULA screen initialised.")
KESTREL_EVENT(kProgressInitialised, 4062, "Progress screen initialised.")
KESTREL_EVENT(kDotNetPrimaryDownloadStarted, 5000,
              ".NET Framework setup download started with primary Url.")
KESTREL_EVENT(kDotNetSecondaryDownloadStarted, 5001,
              ".NET Framework setup download started with secondary Url.")
KESTREL_EVENT(kDotNetPrimaryDownloadFailed, 5002,
              ".NET Framework setup download FAILED using primary URL.")
KESTREL_EVENT(kDotNetSecondaryDownloadFailed, 5003,
              ".NET Framework setup download FAILED using secondary URL.")
KESTREL_EVENT(kDotNetPrimaryDownloadCompleted, 5004,
              ".NET Framework setup download completed using primary URL.")
KESTREL_EVENT(kDotNetSecondaryDownloadCompleted, 5005,
              ".NET Framework setup download completed using secondary URL.")
KESTREL_EVENT(kServicePackPrimaryDownloadStarted, 5006,
              ".NET Framework Service Pack download started using primary URL.")
KESTREL_EVENT(kServicePackSecondaryDownloadStarted, 5007,
              ".NET Framework Service Pack download started using secondary URL.")
KESTREL_EVENT(kServicePackPrimaryDownloadFailed, 5008,
              ".NET Framework Service Pack download FAILED using primary URL.")
KESTREL_EVENT(kServicePackSecondaryDownloadFailed, 5009,
              ".NET Framework Service Pack download FAILED using secondary URL.")
KESTREL_EVENT(kServicePackPrimaryDownloadCompleted, 5010,
              ".NET Framework Service Pack download completed using primary URL.")
KESTREL_EVENT(kServicePackSecondaryDownloadCompleted, 5011,
              ".NET Framework Service Pack download completed using secondary URL.")
KESTREL_EVENT(kAgentDownloadStarted, 5012, "Torvane Agent setup download started.")
KESTREL_EVENT(kAgentDownloadFailed, 5013, "Torvane Agent setup download FAILED.")
KESTREL_EVENT(kAgentDownloadCompleted, 5014, "Torvane Agent setup download completed.")
KESTREL_EVENT(kDirectXDownloadStarted, 5015, "DirectX setup download started.")
KESTREL_EVENT(kDirectXDownloadFailed, 5016, "DirectX setup download FAILED.")
KESTREL_EVENT(kDirectXDownloadCompleted, 5017, "DirectX setup download completed.")
KESTREL_EVENT(kFlashDownloadStarted, 5018, "Flash setup download started.")
KESTREL_EVENT(kFlashDownloadFailed, 5019, "Flash setup download FAILED.")
KESTREL_EVENT(kFlashDownloadCompleted, 5020, "Flash setup download completed.")
KESTREL_EVENT(kDownloadResumed, 5021, "Download resumed where the connection broke.")
KESTREL_EVENT(kDotNetPrimaryDownloadCancelled, 5100,
              ".NET Framework setup download from primary URL cancelled by user.")
KESTREL_EVENT(kDotNetSecondaryDownloadCancelled, 5101,
              ".NET Framework setup download from secondary URL cancelled by user.")
KESTREL_EVENT(kServicePackPrimaryDownloadCancelled, 5102,
              ".NET Framework Service Pack download from primary URL cancelled by user.")
KESTREL_EVENT(kServicePackSecondaryDownloadCancelled, 5103,
              ".NET Framework Service Pack download from secondary URL cancelled by user.")
KESTREL_EVENT(kAgentDownloadCancelled, 5104, "Torvane Agent setup download cancelled by user.")
KESTREL_EVENT(kDirectXDownloadCancelled, 5105, "DirectX setup download cancelled by user..")
KESTREL_EVENT(kFlashDownloadCancelled, 5106, "Flash setup download cancelled by user..")
KESTREL_EVENT(kDotNetInstallStarted, 6001, ".NET Framework installation started.")
KESTREL_EVENT(kDotNetInstallFailed, 6002, ".NET Framework installation FAILED.")
KESTREL_EVENT(kDotNetInstallCompleted, 6003, ".NET Framework installation completed.")
KESTREL_EVENT(kServicePackInstallStarted, 6004, ".NET Framework Service Pack installation started.")
KESTREL_EVENT(kServicePackInstallFailed, 6005, ".NET Framework Service Pack installation FAILED.")
KESTREL_EVENT(kServicePackInstallCompleted, 6006,
              ".NET Framework Service Pack installation completed.")
KESTREL_EVENT(kAgentInstallStarted, 6007, "Torvane Agent installation started.")
KESTREL_EVENT(kAgentInstallFailed, 6008, "Torvane Agent installation FAILED.")
KESTREL_EVENT(kAgentInstallCompleted, 6009, "Torvane Agent installation completed.")
KESTREL_EVENT(kDirectXInstallStarted, 6010, "DirectX setup installation started.")
KESTREL_EVENT(kDirectXInstallFailed, 6011, "DirectX setup installation FAILED.")
KESTREL_EVENT(kDirectXInstallCompleted, 6012, "DirectX setup installation completed.")
KESTREL_EVENT(kFlashInstallStarted, 6013, "Flash setup installation started.")
KESTREL_EVENT(kFlashInstallFailed, 6014, "Flash setup installation FAILED.")
KESTREL_EVENT(kFlashInstallCompleted, 6015, "Flash setup installation completed.")
KESTREL_EVENT(kDotNetInstallCancelled, 6100, ".NET Framework installation cancelled by user.")
KESTREL_EVENT(kServicePackInstallCancelled, 6101,
              ".NET Framework Service Pack installation cancelled by user.")
KESTREL_EVENT(kAgentInstallCancelled, 6102, "Torvane Agent installation cancelled by user.")
KESTREL_EVENT(kDirectXInstallCompletedLate, 6103, "DirectX setup installation completed.")
KESTREL_EVENT(kFlashInstallCompletedLate, 6104, "Flash setup installation completed.")
KESTREL_EVENT(kAgentLaunchStarted, 7001, "Trying to launch Torvane Agent.")
KESTREL_EVENT(kAgentLaunchFailed, 7002, "FAILED to launch Torvane Agent.")
KESTREL_EVENT(kAgentLaunched, 7003, "Successfully launched Torvane Agent.")
KESTREL_EVENT(kAgentLaunchTimedOut, 7004, "Launching took more then expected time.")
KESTREL_EVENT(kAgentLauncherTimedOut, 7005, "Agent Launcher took more then expected time.")
KESTREL_EVENT(kAgentLaunchParametersInvalid, 7006,
              "Launching failed due to incorrect Desk/Content parameters.")
KESTREL_EVENT(kAgentFolderNotFound, 7007, "Could not find Torvane installation folder.")
KESTREL_EVENT(kAgentLaunchCancelled, 7009, "Exited agent launcher stage due to user cancellation.")
KESTREL_EVENT(kAgentLauncherNotFound, 7010, "Agent Launcher executable file could not be found.")
KESTREL_EVENT(kMiniServerFound, 7500, "Found (and will now use) MiniServer installer.")
KESTREL_EVENT(kMiniServerLaunchFailed, 7501, "Failed to launch the MiniServer installer process.")
KESTREL_EVENT(kRollbackStarted, 8000, "Rollback started.")
KESTREL_EVENT(kDotNetRollbackStarted, 8001, ".NET Framework rollback started.")
KESTREL_EVENT(kDotNetRollbackFailed, 8002, ".NET Framework rollback FAILED.")
KESTREL_EVENT(kDotNetRollbackCompleted, 8003, ".NET Framework rollback completed.")
KESTREL_EVENT(kServicePackRollbackStarted, 8004, ".NET Framework Service Pack rollback started.")
KESTREL_EVENT(kServicePackRollbackFailed, 8005, ".NET Framework Service Pack rollback FAILED.")
KESTREL_EVENT(kServicePackRollbackCompleted, 8006,
              ".NET Framework Service Pack rollback completed.")
KESTREL_EVENT(kAgentRollbackStarted, 8007, "Torvane Agent rollback started.")
KESTREL_EVENT(kAgentRollbackFailed, 8008, "Torvane Agent rollback FAILED.")
KESTREL_EVENT(kAgentRollbackCompleted, 8009, "Torvane Agent rollback completed.")
KESTREL_EVENT(kRollbackCompleted, 8111, "Rollback completed.Application will exit now.")
KESTREL_EVENT(kSplashClosed, 9000, "Bootstrapper exited by closing splash screen window.")
KESTREL_EVENT(kEulaCancelled, 9001,
              "Bootstrapper exited after clicking 'Cancel' button in EULA dialog.")
KESTREL_EVENT(kEulaClosed, 9002, "Bootstrapper exited by closing EULA dialog window.")
KESTREL_EVENT(kEulaAccepted, 9003, "Accepted the EULA.")
KESTREL_EVENT(kProgressCloseBoxClicked, 9004, "Clicked 'X' close button in progress dialog window.")
KESTREL_EVENT(kProgressCancelClicked, 9005, "Clicked 'Cancel' button in progress dialog window.")
KESTREL_EVENT(kSystemDirectoryNotFound, 9050, "Error occured while getting system directory.")
KESTREL_EVENT(kNotEnoughDiskSpace, 9051, "Not enough space for installation in system directory.")
KESTREL_EVENT(kFileCreationFailed, 9052, "Failed to create file on local disk.")
KESTREL_EVENT(kHttpError, 9058, nullptr)
KESTREL_EVENT(kSystemError, 9059, nullptr)
KESTREL_EVENT(kInstallationError, 9060, nullptr)
KESTREL_EVENT(kInternetSessionFailed, 9061, "Failed to create HTTP Internet session.")
KESTREL_EVENT(kMd5CheckFailed, 9062, "MD5 hash check failed. File is corrupt.")
KESTREL_EVENT(kEventError, 9063, nullptr)
KESTREL_EVENT(kInstallationTerminated, 9064, "Terminated installation.")
KESTREL_EVENT(kDownloadTerminated, 9065, "Terminated download.")
KESTREL_EVENT(kLocalInstallerFound, 9066,
              "Found a valid installer file in local Temp folder or CD source.")
KESTREL_EVENT(kSha256CheckFailed, 9067, "SHA-256 hash check failed. File is corrupt.")
KESTREL_EVENT(kSignatureMissing, 9068, "Signature check failed. The file is not signed.")
KESTREL_EVENT(kSignatureBroken, 9069,
              "Signature check failed. The file was changed after it was signed.")
KESTREL_EVENT(kSignatureUntrusted, 9070,
              "Signature check failed. The signer is not trusted for code signing.")
KESTREL_EVENT(kSignatureOtherSigner, 9071,
              "Signature check failed. The file is signed by another publisher.")
KESTREL_EVENT(kSignatureTimedOut, 9072, "Signature check failed. The check did not end in time.")
KESTREL_EVENT(kSignatureUnavailable, 9073,
              "Signature check failed. This computer cannot check signatures.")
