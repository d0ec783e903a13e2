// Numeric ids of the main dialog's controls.
#pragma once

namespace ui::ids {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kDeviceInfo = 1001;
inline constexpr int kWrite = 1003;
inline constexpr int kRegAddr = 1004;
inline constexpr int kRegValue = 1005;
inline constexpr int kRead = 1006;
inline constexpr int kBurnFilePath = 1007;
inline constexpr int kBrowseBurnFile = 1008;
inline constexpr int kProgressBar = 1009;
inline constexpr int kStatusText = 1010;
inline constexpr int kProgressDone = 1011;
inline constexpr int kProgressTotal = 1012;
inline constexpr int kDumpFilePath = 1013;
inline constexpr int kGetId = 1014;
inline constexpr int kBrowseDumpFile = 1015;
inline constexpr int kBurn = 1016;
inline constexpr int kDump = 1017;
inline constexpr int kDeviceName = 1018;
inline constexpr int kPageSize = 1019;
inline constexpr int kSectorSize = 1020;
inline constexpr int kTotalBlock = 1021;
inline constexpr int kIicAddr = 1022;
inline constexpr int kIicRetCode = 1023;
inline constexpr int kIicData = 1024;
inline constexpr int kVid = 1025;
inline constexpr int kPid = 1026;
inline constexpr int kOpenDevice = 1027;
inline constexpr int kDeviceId = 1028;
inline constexpr int kPagesPerSector = 1029;
inline constexpr int kSectorsPerBlock = 1030;
inline constexpr int kTotalSize = 1031;
inline constexpr int kEntireFlash = 1032;
inline constexpr int kOtherArea = 1033;
inline constexpr int kFirmwareBox = 1034;
inline constexpr int kPrivateBox = 1035;
inline constexpr int kCustomizedBox = 1036;
inline constexpr int kImageVersion = 1040;
inline constexpr int kFirmwareVersion = 1041;
inline constexpr int kGetFwVersion = 1042;
inline constexpr int kGetHdmiInfo = 1043;
inline constexpr int kRadioRegister = 1044;
inline constexpr int kRadioIic = 1045;
inline constexpr int kRadioGpio = 1046;
inline constexpr int kGpioNumber = 1048;
inline constexpr int kGpioDirection = 1049;
inline constexpr int kGpioValue = 1050;
inline constexpr int kSetGpio = 1051;
inline constexpr int kHdmiInfo = 1052;
inline constexpr int kTest = 1053;
inline constexpr int kDisableHdcpKey = 1055;
inline constexpr int kEnableHdcpKey = 1056;
}  // namespace ui::ids
