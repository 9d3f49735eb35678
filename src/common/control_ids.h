// The control ids of the main window and its four pages, as their templates
// number them. The page tables build each control with its id, the core's page
// operations reach controls by id through FormInterface, and the tests find
// them by id. An id is unique within its page only.
#pragma once

namespace kx::ctl {

// ---- the main window's own controls
constexpr int kMainPageFrame = 1000;
constexpr int kMainStatus = 1002;
constexpr int kMainLocalDeviceButton = 1005;
constexpr int kMainRemoteButton = 1006;
constexpr int kMainConnectionButton = 1007;
constexpr int kMainPairingButton = 1012;
constexpr int kMainDtr = 1033;
constexpr int kMainRts = 1034;
constexpr int kMainLedUart = 1057;
constexpr int kMainLedDevice = 1058;
constexpr int kMainLedConnection = 1059;
constexpr int kMainLedDsr = 1060;
constexpr int kMainLedCts = 1061;

// ---- Local Device Settings page
constexpr int kBaudRateList = 1005;
constexpr int kParityList = 1006;
constexpr int kFlowControlGroup = 1007;
constexpr int kFlowEnabled = 1008;
constexpr int kFlowDisabled = 1009;
constexpr int kStopBitsGroup = 1010;
constexpr int kStopOne = 1011;
constexpr int kStopTwo = 1012;
constexpr int kDeviceName = 1013;
constexpr int kAtCommand = 1014;
constexpr int kModemSignalList = 1015;
constexpr int kComPortList = 1016;
constexpr int kDiscoverableGroup = 1018;
constexpr int kDiscoverable = 1019;
constexpr int kNonDiscoverable = 1020;
constexpr int kDeviceModeGroup = 1021;
constexpr int kSlave = 1022;
constexpr int kMaster = 1023;
constexpr int kOperationModeGroup = 1024;
constexpr int kEscapeMode = 1027;
constexpr int kEchoMode = 1028;
constexpr int kSleepMode = 1029;
constexpr int kCommandResponse = 1030;
constexpr int kRemoteConfiguration = 1031;
constexpr int kModeCommand = 1032;
constexpr int kModeData = 1033;
constexpr int kModeRemote = 1034;
constexpr int kPinCode = 1039;
constexpr int kDeviceAddress = 1044;
constexpr int kDisableAuthentication = 1045;
constexpr int kFwVersionLabel = 1046;
constexpr int kAutoConnect = 1047;
constexpr int kSaveSettings = 1048;
constexpr int kRestoreFactory = 1049;
constexpr int kReadSettings = 1050;
constexpr int kReinitialize = 1051;
constexpr int kSend = 1052;
constexpr int kBondedAddress = 1053;
constexpr int kAbort = 1054;
constexpr int kRemoteService = 1055;
constexpr int kRemoteCod = 1056;

// ---- Pairing page
constexpr int kPairDevice1Address = 1009;
constexpr int kPairButton = 1011;
constexpr int kUnpairButton = 1012;
constexpr int kPairDevice2Address = 1039;
constexpr int kPairDevice2Name = 1040;
constexpr int kPairDevice1Name = 1041;

// ---- Connection page
constexpr int kInquireDevices = 1005;
constexpr int kSelectedDevice = 1006;
constexpr int kConnect = 1007;
constexpr int kInquiryResults = 1008;
constexpr int kCancelInquiry = 1009;
constexpr int kDisconnect = 1010;

// ---- Remote Device Settings page
constexpr int kRemoteProgram = 1004;
constexpr int kRemoteHandshake = 1005;
constexpr int kRemoteExit = 1006;
constexpr int kRemoteBaudList = 1015;
constexpr int kRemoteAddress = 1038;

// ---- About box
constexpr int kAboutOk = 1;
constexpr int kAboutIcon = 2;

}  // namespace kx::ctl
