#include "RasSim/common/Tables.h"

#include "RasSim/common/Text.h"

namespace rassim {

namespace {

// Texts of 601..750, in order.
const char* const kRasTexts[150] = {
    /*601*/ "The port handle is not valid.",
    "The port is already open.",
    "The buffer given is too small.",
    "The information given is wrong.",
    "The port settings cannot be changed.",
    "The port is not connected.",
    "The event is not valid.",
    "The device does not exist.",
    "The device type does not exist.",
    /*610*/ "The buffer is not valid.",
    "The route is not available.",
    "The route is not allocated.",
    "The compression requested is not valid.",
    "There are not enough buffers.",
    "The port was not found.",
    "An asynchronous request is still pending.",
    "The connection is already being disconnected.",
    "The port is not open.",
    "The port is disconnected.",
    /*620*/ "No endpoints could be found.",
    "The phonebook file cannot be opened.",
    "The phonebook file cannot be read.",
    "The phonebook entry was not found.",
    "The phonebook file cannot be written.",
    "The phonebook file is corrupt or holds information that is not valid.",
    "A text cannot be loaded.",
    "A key cannot be found.",
    "The connection was closed.",
    "The remote computer closed the connection.",
    /*630*/ "The modem was disconnected because of a hardware failure.",
    "The user disconnected the modem.",
    "The structure size given is wrong.",
    "The port is already in use or is not set up for dialling out.",
    "Your computer could not be registered on the remote network.",
    "An unknown error occurred.",
    "The device attached to the port is not the one expected.",
    "A text could not be converted.",
    "The request timed out.",
    "No network adapter number is available.",
    /*640*/ "A NetBIOS error occurred.",
    "The server is out of NetBIOS resources.",
    "A NetBIOS name of this computer is already in use on the remote network.",
    "A network adapter at the server failed.",
    "Network messages will not be received (the message alias was not added).",
    "An internal authentication error occurred.",
    "This account may not log on at this time of day.",
    "The account is disabled.",
    "The password has expired.",
    "The account has no permission to dial in.",
    /*650*/ "The remote access server is not responding.",
    "The modem (or other device) reported an error.",
    "The device sent a response that was not recognised.",
    "A macro the device needs was not found in its script.",
    "A command or response in the device script uses an undefined macro.",
    "The <message> macro was not found in the device script.",
    "The <defaultoff> macro in the device script holds an undefined macro.",
    "The device script file could not be opened.",
    "The device name in the device script is too long.",
    "The device script refers to an unknown device name.",
    /*660*/ "The device script has no responses for a command.",
    "The device script is missing a command.",
    "The device script uses a key that is not allowed in its section.",
    "The device type is not known.",
    "Memory could not be allocated.",
    "The port is not set up for remote access.",
    "The modem (or other device) is not working.",
    "The device settings file cannot be read.",
    "The connection was lost.",
    "The usage setting in the device settings file is not valid.",
    /*670*/ "A section name cannot be read from the device settings file.",
    "The device type cannot be read from the device settings file.",
    "The device name cannot be read from the device settings file.",
    "The usage cannot be read from the device settings file.",
    "The maximum connection speed cannot be read from the device settings file.",
    "The maximum carrier speed cannot be read from the device settings file.",
    "The line is busy.",
    "A person answered instead of a modem.",
    "There was no answer.",
    "No carrier was detected.",
    /*680*/ "There is no dial tone.",
    "The device reported a general error.",
    "A section name cannot be written to the device settings file.",
    "The device type cannot be written to the device settings file.",
    "The device name cannot be written to the device settings file.",
    "The maximum connection speed cannot be written to the device settings file.",
    "The maximum carrier speed cannot be written to the device settings file.",
    "The usage cannot be written to the device settings file.",
    "The default-off setting cannot be written to the device settings file.",
    "The default-off setting cannot be read from the device settings file.",
    /*690*/ "The device settings file is empty.",
    "Access was refused: the user name or the password is not valid for this domain.",
    "The port or the device attached to it failed.",
    "The device script holds a binary macro that is not valid.",
    "The device control block was not found.",
    "The state machines are not started.",
    "The state machines are already started.",
    "Reading the device's response ran in a loop.",
    "A response key in the device script is not known.",
    "The device's receive buffer is full.",
    /*700*/ "A command in the device script is too long.",
    "The modem was asked for a speed it does not support.",
    "The device gave a response that was not expected.",
    "The connection needs information from the user (interactive mode).",
    "The callback number is not valid.",
    "The authentication state is not valid.",
    "The initial speed cannot be written to the device settings file.",
    "An X.25 diagnostic was reported.",
    "The account has expired.",
    "The password could not be changed on the domain.",
    /*710*/ "Serial overrun errors were detected while talking to the modem.",
    "The Remote Access Service manager could not start.",
    "The two-way port is busy with an incoming call; try again later.",
    "No ISDN lines are available for the call.",
    "No ISDN channels are available for the call.",
    "Too many errors occurred because the telephone line is of poor quality.",
    "The IP settings of the remote access service cannot be used.",
    "No IP address is available in the remote access service's address pool.",
    "The PPP negotiation timed out.",
    "The remote computer ended the PPP connection.",
    /*720*/ "No PPP control protocols are set up.",
    "The remote computer is not answering PPP.",
    "The PPP packet received is not valid.",
    "The phone number, with its prefix and suffix, is too long.",
    "IPX cannot dial out: it is not set up for dialling out.",
    "IPX cannot receive calls: it is not set up for dialling in.",
    "IPX is already dialling out on another port.",
    "The TCP/IP settings library cannot be reached.",
    "No IP adapter is bound to remote access.",
    "SLIP cannot be used unless IP is installed.",
    /*730*/ "The computer has not finished registering on the remote network.",
    "The protocol is not set up.",
    "The PPP negotiation is not converging.",
    "The PPP control protocol for this network protocol is not available.",
    "The PPP link control protocol ended the connection.",
    "The server refused the address requested.",
    "The remote computer ended the network control protocol.",
    "A loop-back was detected: the call came back to this computer.",
    "The server did not assign an address.",
    "The logon credentials of this computer cannot be used for this connection.",
    /*740*/ "The telephony devices are not set up correctly.",
    "This computer does not support the encryption requested.",
    "The remote server does not support the encryption requested.",
    "The remote server requires encryption.",
    "The IPX network number given by the server is already in use on this computer.",
    "The SMM is not valid.",
    "The SMM is not initialised.",
    "The port has no network adapter address.",
    "The SMM timed out.",
    "The phone number is not valid.",
    /*750*/ "The module is not the right one.",
};

}  // namespace

const char* ErrorText(DWORD error) {
  if (error >= 601 && error <= 750) return kRasTexts[error - 601];
  switch (error) {
    case 600:
      return "An operation is pending.";
    case 2:
      return "The file was not found.";
    case 5:
      return "Access is denied.";
    case 6:
      return "The connection handle is not valid.";
    case 8:
      return "There is not enough memory.";
    case 13:
      return "The data is invalid.";
    case 87:
      return "A parameter is not valid.";
    case 123:
      return "The entry name is not valid.";
    case 183:
      return "An entry of that name already exists.";
    case 1223:
      return "The operation was cancelled by the user.";
    case ERROR_DIAL_ALREADY_IN_PROGRESS:
      return "This connection is already being dialled.";
    default:
      return nullptr;
  }
}

const std::vector<Device>& Devices() {
  static const std::vector<Device> devices = {
      {"modem", "Quor Virtual Modem"},
      {"isdn", "Quor ISDN Line"},
      {"vpn", "Quor VPN Port"},
  };
  return devices;
}

const Device* FindDevice(const std::string& name, const std::string& type) {
  for (const Device& d : Devices())
    if (!name.empty() && SameName(name, d.name)) return &d;
  for (const Device& d : Devices())
    if (!type.empty() && SameName(type, d.type)) return &d;
  return nullptr;
}

const std::vector<Country>& Countries() {
  static const std::vector<Country> countries = {
      {1, 1, "United States of America"},
      {2, 1, "Canada"},
      {7, 7, "Russia"},
      {20, 20, "Egypt"},
      {27, 27, "South Africa"},
      {30, 30, "Greece"},
      {31, 31, "Netherlands"},
      {32, 32, "Belgium"},
      {33, 33, "France"},
      {34, 34, "Spain"},
      {39, 39, "Italy"},
      {41, 41, "Switzerland"},
      {43, 43, "Austria"},
      {44, 44, "United Kingdom"},
      {45, 45, "Denmark"},
      {46, 46, "Sweden"},
      {47, 47, "Norway"},
      {48, 48, "Poland"},
      {49, 49, "Germany"},
      {61, 61, "Australia"},
      {81, 81, "Japan"},
      {86, 86, "China"},
      {91, 91, "India"},
  };
  return countries;
}

const Country* FindCountry(DWORD id) {
  for (const Country& c : Countries())
    if (c.id == id) return &c;
  return nullptr;
}

}  // namespace rassim
