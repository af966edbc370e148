#include "diagnostics/error_texts.h"

#include "diagnostics/deployment.h"
#include "diagnostics/event_logger.h"
#include "platform/sync.h"

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

const char* CategoryPrefix(EventId category) {
  switch (category) {
    case 9058:
      return "HTTP ERROR: ";
    case 9059:
      return "System ERROR: ";
    case 9060:
      return "INSTALLATION ERROR: ";
    case 9063:
      return "Event: ";
    default:
      return nullptr;
  }
}

const char* HttpStatusText(int code) {
  switch (code) {
    case 100:
      return "The request can be continued. ";
    case 101:
      return "The server has switched protocols in an upgrade header. ";
    case 201:
      return "The request has been fulfilled and resulted in the creation of a new resource. ";
    case 202:
      return "The request has been accepted for processing, but the processing has not been "
             "completed. ";
    case 203:
      return "The returned meta information in the entity-header is not the definitive set "
             "available from the origin server. ";
    case 204:
      return "The server has fulfilled the request, but there is no new information to send back. ";
    case 205:
      return "The request has been completed, and the client program should reset the document "
             "view that caused the request to be sent to allow the user to easily initiate another "
             "input action. ";
    case 206:
      return "The server has fulfilled the partial GET request for the resource. ";
    case 300:
      return "The server couldn't decide what to return. ";
    case 301:
      return "The requested resource has been assigned to a new permanent URI (Uniform Resource "
             "Identifier), and any future references to this resource should be done using one of "
             "the returned URIs. ";
    case 302:
      return "The requested resource resides temporarily under a different URI (Uniform Resource "
             "Identifier). ";
    case 303:
      return "The response to the request can be found under a different URI (Uniform Resource "
             "Identifier) and should be retrieved using a GET HTTP verb on that resource. ";
    case 304:
      return "The requested resource has not been modified. ";
    case 305:
      return "The requested resource must be accessed through the proxy given by the location "
             "field. ";
    case 307:
      return "The redirected request keeps the same HTTP verb. HTTP/1.1 behavior. ";
    case 400:
      return "The request could not be processed by the server due to invalid syntax. ";
    case 401:
      return "The requested resource requires user authentication. ";
    case 402:
      return "Not currently implemented in the HTTP protocol. ";
    case 403:
      return "The server understood the request, but is refusing to fulfill it. ";
    case 404:
      return "The server has not found anything matching the requested URI (Uniform Resource "
             "Identifier). ";
    case 405:
      return "The HTTP verb used is not allowed. ";
    case 406:
      return "No responses acceptable to the client were found. ";
    case 407:
      return "Proxy authentication required. ";
    case 408:
      return "The server timed out waiting for the request. ";
    case 409:
      return "The request could not be completed due to a conflict with the current state of the "
             "resource. The user should resubmit with more information. ";
    case 410:
      return "The requested resource is no longer available at the server, and no forwarding "
             "address is known. ";
    case 411:
      return "The server refuses to accept the request without a defined content length. ";
    case 412:
      return "The precondition given in one or more of the request header fields evaluated to "
             "false when it was tested on the server. ";
    case 413:
      return "The server is refusing to process a request because the request entity is larger "
             "than the server is willing or able to process. ";
    case 414:
      return "The server is refusing to service the request because the request URI (Uniform "
             "Resource Identifier) is longer than the server is willing to interpret. ";
    case 415:
      return "The server is refusing to service the request because the entity of the request is "
             "in a format not supported by the requested resource for the requested method. ";
    case 416:
      return "The request should be retried after doing the appropriate action. ";
    case 500:
      return "The server encountered an unexpected condition that prevented it from fulfilling the "
             "request. ";
    case 501:
      return "The server does not support the functionality required to fulfill the request. ";
    case 502:
      return "The server, while acting as a gateway or proxy, received an invalid response from "
             "the upstream server it accessed in attempting to fulfill the request.";
    case 503:
      return "The service is temporarily overloaded.";
    case 504:
      return "The request was timed out waiting for a gateway.";
    case 505:
      return "The server does not support, or refuses to support, the HTTP protocol version that "
             "was used in the request message.";
    default:
      return "Unknown error has occured";
  }
}

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

void PostErrorEvent(EventId category, const std::string& message) {
  platform::LockGuard guard(StoreAndPostLock());
  SetLastErrorText(category, message);
  PostEvent(category);
}

void PostSystemError(const char* what, uint32_t code) {
  PostErrorEvent(9059, std::string(what) + " failed with error " + std::to_string(code));
}

std::string DescribeHttpStatus(int code) {
  // The network library's "name not resolved": the caller's previous error
  // text is all there is to say.
  if (code == 12007) return LastErrorText();
  return HttpStatusText(code);
}

std::string DescribeInstallerExitCode(int code) {
  switch (code) {
    case 0:
      return "The installation completed successfully";
    case 13:
      return "ERROR 13: The data is invalid.";
    case 87:
      return "ERROR 87: One of the parameters was invalid.";
    case 120:
      return "ERROR 120: This value is returned when a custom action attempts to call a function "
             "that cannot be called from custom actions.";
    case 1259:
      return "ERROR 1259: If Windows Installer determines a product may be incompatible with the "
             "current operating system, it displays a dialog box informing the user and asking "
             "whether to try to install anyway. This error code is returned if the user chooses "
             "not to try the installation.";
    case 1601:
      return "ERROR 1601: The Windows Installer service could not be accessed. Contact your "
             "support personnel to verify that the Windows Installer service is properly "
             "registered.";
    case 1603:
      return "ERROR 1603: A fatal error occurred during installation.";
    case 1604:
      return "ERROR 1604: Installation suspended, incomplete.";
    case 1605:
      return "ERROR 1605: This action is only valid for products that are currently installed.";
    case 1606:
      return "ERROR 1606: The feature identifier is not registered";
    case 1607:
      return "ERROR 1607: The component identifier is not registered.";
    case 1608:
      return "ERROR 1608: This is an unknown property.";
    case 1609:
      return "ERROR 1609: The handle is in an invalid state.";
    case 1610:
      return "ERROR 1610: The configuration data for this product is corrupt. Contact your support "
             "personnel.";
    case 1611:
      return "ERROR 1611: The component qualifier not present.";
    case 1612:
      return "ERROR 1612: The installation source for this product is not available. Verify that "
             "the source exists and that you can access it.";
    case 1613:
      return "ERROR 1613: This installation package cannot be installed by the Windows Installer "
             "service. You must install a Windows service pack that contains a newer version of "
             "the Windows Installer service.";
    case 1614:
      return "The product is uninstalled.";
    case 1615:
      return "ERROR 1615: The SQL query syntax is invalid or unsupported.";
    case 1616:
      return "ERROR 1616: The record field does not exist.";
    case 1618:
      return "ERROR 1618: Another installation is already in progress. Complete that installation "
             "before proceeding with this install.";
    case 1619:
      return "ERROR 1619: This installation package could not be opened. Verify that the package "
             "exists and is accessible, or contact the application vendor to verify that this is a "
             "valid Windows Installer package.";
    case 1620:
      return "ERROR 1620: This installation package could not be opened. Contact the application "
             "vendor to verify that this is a valid Windows Installer package.";
    case 1621:
      return "ERROR 1621: There was an error starting the Windows Installer service user "
             "interface. Contact your support personnel.";
    case 1622:
      return "ERROR 1622: There was an error opening installation log file. Verify that the "
             "specified log file location exists and is writable.";
    case 1623:
      return "ERROR 1623: This language of this installation package is not supported by your "
             "system.";
    case 1624:
      return "ERROR 1624: There was an error applying transforms. Verify that the specified "
             "transform paths are valid.";
    case 1625:
      return "ERROR 1625: This installation is forbidden by system policy. Contact your system "
             "administrator.";
    case 1626:
      return "ERROR 1626: The function could not be executed.";
    case 1627:
      return "ERROR 1627: The function failed during execution.";
    case 1628:
      return "ERROR 1628: An invalid or unknown table was specified.";
    case 1629:
      return "ERROR 1629: The data supplied is the wrong type.";
    case 1630:
      return "ERROR 1630: Data of this type is not supported.";
    case 1631:
      return "ERROR 1631: The Windows Installer service failed to start. Contact your support "
             "personnel.";
    case 1632:
      return "ERROR 1632: The Temp folder is either full or inaccessible. Verify that the Temp "
             "folder exists and that you can write to it.";
    case 1633:
      return "ERROR 1633: This installation package is not supported on this platform. Contact "
             "your application vendor.";
    case 1634:
      return "ERROR 1634: Component is not used on this machine.";
    case 1635:
      return "ERROR 1635: This patch package could not be opened. Verify that the patch package "
             "exists and is accessible, or contact the application vendor to verify that this is a "
             "valid Windows Installer patch package.";
    case 1636:
      return "ERROR 1636: This patch package could not be opened. Contact the application vendor "
             "to verify that this is a valid Windows Installer patch package.";
    case 1637:
      return "ERROR 1637: This patch package cannot be processed by the Windows Installer service. "
             "You must install a Windows service pack that contains a newer version of the Windows "
             "Installer service.";
    case 1638:
      return "Another version of this product is already installed. Installation of this version "
             "cannot continue. To configure or remove the existing version of this product, use "
             "Add/Remove Programs in Control Panel.";
    case 1639:
      return "ERROR 1639: Invalid command line argument. Consult the Windows Installer SDK for "
             "detailed command-line help.";
    case 1640:
      return "ERROR 1640: Installation from a Terminal Server client session is not permitted for "
             "the current user.";
    case 1641:
      return "The installer has initiated a restart.";
    case 1642:
      return "ERROR 1642: The installer cannot install the upgrade patch because the program being "
             "upgraded may be missing or the upgrade patch updates a different version of the "
             "program. Verify that the program to be upgraded exists on your computer and that you "
             "have the correct upgrade patch.";
    case 1643:
      return "The patch package is not permitted by system policy. This error code is available "
             "with Windows Installer versions 2.0.";
    case 1644:
      return "One or more customizations are not permitted by system policy.";
    case 1645:
      return "Windows Installer does not permit installation from a Remote Desktop Connection. ";
    case 1646:
      return "The patch package is not a removable patch package. Available beginning with Windows "
             "Installer version 3.0.";
    case 1647:
      return "The patch is not applied to this product.";
    case 1648:
      return "No valid sequence could be found for the set of patches.";
    case 1649:
      return "Patch removal was disallowed by policy.";
    case 1650:
      return "The XML patch data is invalid.";
    case 1651:
      return "Administrative user failed to apply patch for a per-user managed or a per-machine "
             "application that is in advertise state.";
    case 3010:
      return "A computer reboot is required following the installation of the .NET Framework";
    case 4096:
      return "ERROR 4096: Either the syntax used to specify parameters to Dotnetfx.exe is "
             "incorrect, or the parameters are invalid.";
    case 4097:
      return "ERROR 4097: You do not have the permissions required to install or uninstall this "
             "application. Please contact your administrator.";
    case 4098:
      return "ERROR 4098: The Windows Installer installation failed. As a result, the installation "
             "of Dotnetfx.exe cannot proceed.";
    case 4099:
      return "ERROR 4099: Due to the improper installation of Windows Installer, the installation "
             "of Dotnetfx.exe cannot proceed.";
    case 4100:
      return "ERROR 4100: A fatal error occurred and the installation of Dotnetfx.exe cannot "
             "proceed.";
    case 4101:
      return "ERROR 4101: If another instance of setup is running, it will be allowed to continue "
             "and the current installation cannot proceed.";
    case 4102:
      return "ERROR 4102: Cannot open MSI Database";
    case 4103:
      return "ERROR 4103: Cannot read from MSI Database";
    case 4111:
      return "ERROR 4111: Cannot get Temporary directory.";
    case 4113:
      return "ERROR 4113: A beta version of the .NET Framework was detected on the computer. You "
             "must uninstall any beta versions before attempting to install Dotnetfx.exe.";
    case 4115:
      return "ERROR 4115: Temporary directory too long";
    case 4116:
      return "ERROR 4116: Source directory too long";
    case 4118:
      return "ERROR 4118: Cannot write to log";
    case 4119:
      return "ERROR 4119: The Darwin service is hung and requires a reboot in order to continue";
    case 4120:
      return "ERROR 4120: An internal error occurred while trying to initialize the Darwin Service";
    case 8191:
      return "ERROR 8191: A fatal error occurred. The installation of .NET Framework cannot "
             "proceed.";
    default:
      return "UNKNOWN ERROR: Installation Failed";
  }
}

std::string SupportMessage(int error_code) {
  // 0x92 is the typographic apostrophe of the ANSI code page the texts use.
  std::string text = "We\x92re sorry, an error has occurred preventing installation.";
  text += "\n\n";
  text += "Please contact support at ";
  text += deployment::kSupportAddress;
  text += ".";
  text += " <Error Code: " + std::to_string(error_code) + ">";
  return text;
}
