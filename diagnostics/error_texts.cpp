#include "diagnostics/error_texts.h"

#include "diagnostics/code_texts.h"
#include "diagnostics/deployment.h"
#include "diagnostics/event_sink.h"
#include "platform/http.h"
#include "platform/sync.h"

namespace diagnostics {

namespace {

// The slot is written by the download and install threads and read by any
// thread that builds an error record. Allocated once and never freed: the
// installation worker is never joined and may still post while the process ends.
struct ErrorSlot {
  platform::Lock lock;  // guards text
  std::string text;
};

ErrorSlot& Slot() {
  static ErrorSlot* slot = new ErrorSlot;
  return *slot;
}

// Held across a store and the post that reads it back, so the download and
// install threads cannot interleave their pairs.
platform::Lock& StoreAndPostLock() {
  static platform::Lock* lock = new platform::Lock;
  return *lock;
}

constexpr CodeText kCategoryPrefixes[] = {
    {kHttpError, "HTTP ERROR: "},
    {kSystemError, "System ERROR: "},
    {kInstallationError, "INSTALLATION ERROR: "},
    {kEventError, "Event: "},
};

const char* CategoryPrefix(EventId category) {
  const CodeText* row = FindCode(kCategoryPrefixes, category);
  return row ? row->text : nullptr;
}

constexpr CodeText kHttpStatusTexts[] = {
    {100, "The request can be continued. "},
    {101, "The server has switched protocols in an upgrade header. "},
    {201, "The request has been fulfilled and resulted in the creation of a new resource. "},
    {202,
     "The request has been accepted for processing, but the processing has not been "
     "completed. "},
    {203,
     "The returned meta information in the entity-header is not the definitive set "
     "available from the origin server. "},
    {204, "The server has fulfilled the request, but there is no new information to send back. "},
    {205,
     "The request has been completed, and the client program should reset the document "
     "view that caused the request to be sent to allow the user to easily initiate another "
     "input action. "},
    {206, "The server has fulfilled the partial GET request for the resource. "},
    {300, "The server couldn't decide what to return. "},
    {301,
     "The requested resource has been assigned to a new permanent URI (Uniform Resource "
     "Identifier), and any future references to this resource should be done using one of "
     "the returned URIs. "},
    {302,
     "The requested resource resides temporarily under a different URI (Uniform Resource "
     "Identifier). "},
    {303,
     "The response to the request can be found under a different URI (Uniform Resource "
     "Identifier) and should be retrieved using a GET HTTP verb on that resource. "},
    {304, "The requested resource has not been modified. "},
    {305,
     "The requested resource must be accessed through the proxy given by the location "
     "field. "},
    {307, "The redirected request keeps the same HTTP verb. HTTP/1.1 behavior. "},
    {400, "The request could not be processed by the server due to invalid syntax. "},
    {401, "The requested resource requires user authentication. "},
    {402, "Not currently implemented in the HTTP protocol. "},
    {403, "The server understood the request, but is refusing to fulfill it. "},
    {404,
     "The server has not found anything matching the requested URI (Uniform Resource "
     "Identifier). "},
    {405, "The HTTP verb used is not allowed. "},
    {406, "No responses acceptable to the client were found. "},
    {407, "Proxy authentication required. "},
    {408, "The server timed out waiting for the request. "},
    {409,
     "The request could not be completed due to a conflict with the current state of the "
     "resource. The user should resubmit with more information. "},
    {410,
     "The requested resource is no longer available at the server, and no forwarding "
     "address is known. "},
    {411, "The server refuses to accept the request without a defined content length. "},
    {412,
     "The precondition given in one or more of the request header fields evaluated to "
     "false when it was tested on the server. "},
    {413,
     "The server is refusing to process a request because the request entity is larger "
     "than the server is willing or able to process. "},
    {414,
     "The server is refusing to service the request because the request URI (Uniform "
     "Resource Identifier) is longer than the server is willing to interpret. "},
    {415,
     "The server is refusing to service the request because the entity of the request is "
     "in a format not supported by the requested resource for the requested method. "},
    {416, "The request should be retried after doing the appropriate action. "},
    {500,
     "The server encountered an unexpected condition that prevented it from fulfilling the "
     "request. "},
    {501, "The server does not support the functionality required to fulfill the request. "},
    {502,
     "The server, while acting as a gateway or proxy, received an invalid response from "
     "the upstream server it accessed in attempting to fulfill the request."},
    {503, "The service is temporarily overloaded."},
    {504, "The request was timed out waiting for a gateway."},
    {505,
     "The server does not support, or refuses to support, the HTTP protocol version that "
     "was used in the request message."},
};

const char* HttpStatusText(int code) {
  const CodeText* row = FindCode(kHttpStatusTexts, code);
  return row ? row->text : "Unknown error has occured";
}

// Success codes included.
constexpr CodeText kInstallerExitTexts[] = {
    {0, "The installation completed successfully"},
    {13, "ERROR 13: The data is invalid."},
    {87, "ERROR 87: One of the parameters was invalid."},
    {120,
     "ERROR 120: This value is returned when a custom action attempts to call a function "
     "that cannot be called from custom actions."},
    {1259,
     "ERROR 1259: If Windows Installer determines a product may be incompatible with the "
     "current operating system, it displays a dialog box informing the user and asking "
     "whether to try to install anyway. This error code is returned if the user chooses "
     "not to try the installation."},
    {1601,
     "ERROR 1601: The Windows Installer service could not be accessed. Contact your "
     "support personnel to verify that the Windows Installer service is properly "
     "registered."},
    {1603, "ERROR 1603: A fatal error occurred during installation."},
    {1604, "ERROR 1604: Installation suspended, incomplete."},
    {1605, "ERROR 1605: This action is only valid for products that are currently installed."},
    {1606, "ERROR 1606: The feature identifier is not registered"},
    {1607, "ERROR 1607: The component identifier is not registered."},
    {1608, "ERROR 1608: This is an unknown property."},
    {1609, "ERROR 1609: The handle is in an invalid state."},
    {1610,
     "ERROR 1610: The configuration data for this product is corrupt. Contact your support "
     "personnel."},
    {1611, "ERROR 1611: The component qualifier not present."},
    {1612,
     "ERROR 1612: The installation source for this product is not available. Verify that "
     "the source exists and that you can access it."},
    {1613,
     "ERROR 1613: This installation package cannot be installed by the Windows Installer "
     "service. You must install a Windows service pack that contains a newer version of "
     "the Windows Installer service."},
    {1614, "The product is uninstalled."},
    {1615, "ERROR 1615: The SQL query syntax is invalid or unsupported."},
    {1616, "ERROR 1616: The record field does not exist."},
    {1618,
     "ERROR 1618: Another installation is already in progress. Complete that installation "
     "before proceeding with this install."},
    {1619,
     "ERROR 1619: This installation package could not be opened. Verify that the package "
     "exists and is accessible, or contact the application vendor to verify that this is a "
     "valid Windows Installer package."},
    {1620,
     "ERROR 1620: This installation package could not be opened. Contact the application "
     "vendor to verify that this is a valid Windows Installer package."},
    {1621,
     "ERROR 1621: There was an error starting the Windows Installer service user "
     "interface. Contact your support personnel."},
    {1622,
     "ERROR 1622: There was an error opening installation log file. Verify that the "
     "specified log file location exists and is writable."},
    {1623,
     "ERROR 1623: This language of this installation package is not supported by your "
     "system."},
    {1624,
     "ERROR 1624: There was an error applying transforms. Verify that the specified "
     "transform paths are valid."},
    {1625,
     "ERROR 1625: This installation is forbidden by system policy. Contact your system "
     "administrator."},
    {1626, "ERROR 1626: The function could not be executed."},
    {1627, "ERROR 1627: The function failed during execution."},
    {1628, "ERROR 1628: An invalid or unknown table was specified."},
    {1629, "ERROR 1629: The data supplied is the wrong type."},
    {1630, "ERROR 1630: Data of this type is not supported."},
    {1631,
     "ERROR 1631: The Windows Installer service failed to start. Contact your support "
     "personnel."},
    {1632,
     "ERROR 1632: The Temp folder is either full or inaccessible. Verify that the Temp "
     "folder exists and that you can write to it."},
    {1633,
     "ERROR 1633: This installation package is not supported on this platform. Contact "
     "your application vendor."},
    {1634, "ERROR 1634: Component is not used on this machine."},
    {1635,
     "ERROR 1635: This patch package could not be opened. Verify that the patch package "
     "exists and is accessible, or contact the application vendor to verify that this is a "
     "valid Windows Installer patch package."},
    {1636,
     "ERROR 1636: This patch package could not be opened. Contact the application vendor "
     "to verify that this is a valid Windows Installer patch package."},
    {1637,
     "ERROR 1637: This patch package cannot be processed by the Windows Installer service. "
     "You must install a Windows service pack that contains a newer version of the Windows "
     "Installer service."},
    {1638,
     "Another version of this product is already installed. Installation of this version "
     "cannot continue. To configure or remove the existing version of this product, use "
     "Add/Remove Programs in Control Panel."},
    {1639,
     "ERROR 1639: Invalid command line argument. Consult the Windows Installer SDK for "
     "detailed command-line help."},
    {1640,
     "ERROR 1640: Installation from a Terminal Server client session is not permitted for "
     "the current user."},
    {1641, "The installer has initiated a restart."},
    {1642,
     "ERROR 1642: The installer cannot install the upgrade patch because the program being "
     "upgraded may be missing or the upgrade patch updates a different version of the "
     "program. Verify that the program to be upgraded exists on your computer and that you "
     "have the correct upgrade patch."},
    {1643,
     "The patch package is not permitted by system policy. This error code is available "
     "with Windows Installer versions 2.0."},
    {1644, "One or more customizations are not permitted by system policy."},
    {1645, "Windows Installer does not permit installation from a Remote Desktop Connection. "},
    {1646,
     "The patch package is not a removable patch package. Available beginning with Windows "
     "Installer version 3.0."},
    {1647, "The patch is not applied to this product."},
    {1648, "No valid sequence could be found for the set of patches."},
    {1649, "Patch removal was disallowed by policy."},
    {1650, "The XML patch data is invalid."},
    {1651,
     "Administrative user failed to apply patch for a per-user managed or a per-machine "
     "application that is in advertise state."},
    {3010, "A computer reboot is required following the installation of the .NET Framework"},
    {4096,
     "ERROR 4096: Either the syntax used to specify parameters to Dotnetfx.exe is "
     "incorrect, or the parameters are invalid."},
    {4097,
     "ERROR 4097: You do not have the permissions required to install or uninstall this "
     "application. Please contact your administrator."},
    {4098,
     "ERROR 4098: The Windows Installer installation failed. As a result, the installation "
     "of Dotnetfx.exe cannot proceed."},
    {4099,
     "ERROR 4099: Due to the improper installation of Windows Installer, the installation "
     "of Dotnetfx.exe cannot proceed."},
    {4100,
     "ERROR 4100: A fatal error occurred and the installation of Dotnetfx.exe cannot "
     "proceed."},
    {4101,
     "ERROR 4101: If another instance of setup is running, it will be allowed to continue "
     "and the current installation cannot proceed."},
    {4102, "ERROR 4102: Cannot open MSI Database"},
    {4103, "ERROR 4103: Cannot read from MSI Database"},
    {4111, "ERROR 4111: Cannot get Temporary directory."},
    {4113,
     "ERROR 4113: A beta version of the .NET Framework was detected on the computer. You "
     "must uninstall any beta versions before attempting to install Dotnetfx.exe."},
    {4115, "ERROR 4115: Temporary directory too long"},
    {4116, "ERROR 4116: Source directory too long"},
    {4118, "ERROR 4118: Cannot write to log"},
    {4119, "ERROR 4119: The Darwin service is hung and requires a reboot in order to continue"},
    {4120, "ERROR 4120: An internal error occurred while trying to initialize the Darwin Service"},
    {8191,
     "ERROR 8191: A fatal error occurred. The installation of .NET Framework cannot "
     "proceed."},
};

}  // namespace

void SetLastErrorText(EventId category, const std::string& message) {
  const char* prefix = CategoryPrefix(category);
  if (!prefix) return;
  std::string text = prefix + message;
  ErrorSlot& slot = Slot();
  platform::LockGuard guard(slot.lock);
  slot.text.swap(text);
}

std::string LastErrorText() {
  ErrorSlot& slot = Slot();
  platform::LockGuard guard(slot.lock);
  return slot.text;
}

void PostErrorEvent(EventSink& events, EventId category, const std::string& message) {
  platform::LockGuard guard(StoreAndPostLock());
  SetLastErrorText(category, message);
  events.Post(category);
}

void PostSystemError(EventSink& events, const char* what, uint32_t code) {
  PostErrorEvent(events, kSystemError,
                 std::string(what) + " failed with error " + std::to_string(code));
}

namespace {

// An https address whose certificate does not verify: nothing of it is taken.
constexpr CodeText kCertificateTexts[] = {
    {platform::http_error::kCertificateExpired,
     "The server's certificate has expired or is not yet valid."},
    {platform::http_error::kCertificateWrongName,
     "The server's certificate is for another host name."},
    {platform::http_error::kCertificateUntrusted,
     "The server's certificate is not from a trusted authority."},
    {platform::http_error::kCertificateErrors, "The server's certificate does not verify."},
    {platform::http_error::kCertificateRevocationFailed,
     "The server's certificate is not from a trusted authority."},
};

}  // namespace

std::string DescribeHttpStatus(int code) {
  // The network library's "name not resolved": the caller's previous error
  // text is all there is to say.
  if (code == static_cast<int>(platform::http_error::kNameNotResolved)) return LastErrorText();
  if (const CodeText* row = FindCode(kCertificateTexts, code)) return row->text;
  return HttpStatusText(code);
}

std::string DescribeInstallerExitCode(int code) {
  const CodeText* row = FindCode(kInstallerExitTexts, code);
  return row ? row->text : "UNKNOWN ERROR: Installation Failed";
}

std::string SupportMessage(int error_code) {
  // 0x92 is the typographic apostrophe of the ANSI code page the texts use.
  std::string text = "We\x92re sorry, an error has occurred preventing installation.";
  text += "\n\n";
  text += "Please contact support at ";
  text += kSupportAddress;
  text += ".";
  text += " <Error Code: " + std::to_string(error_code) + ">";
  return text;
}

}  // namespace diagnostics
