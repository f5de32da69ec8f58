#pragma once

// The string-table ids of the command line's own texts, each declared once (programText reads them in
// the user's language). The settings file's texts are settings_file's; the record's captions are the
// catalogue's.

namespace cli::texts {
// Failures and refusals said the way the program says them.
constexpr int kNoResponse = 166;
constexpr int kNotAnAddress = 906;
constexpr int kPasswordMismatch = 961;
constexpr int kUnknownResponse = 962;
constexpr int kStalled = 1101;
constexpr int kIsDirectory = 1151;
// Several devices.
constexpr int kConfirmMany = 975;
constexpr int kSameDevice = 1103;
// write, import, restore.
constexpr int kWritten = 940;
constexpr int kDryRun = 941;
constexpr int kPasswordPrompt = 942;
constexpr int kChangesTo = 943;
constexpr int kNothingChanges = 944;
constexpr int kSaved = 972;
constexpr int kWrittenShort = 973;
constexpr int kWrittenSummary = 974;
constexpr int kDryRunMany = 986;
constexpr int kOtherDevice = 1605;
// Values a write leaves as the device holds them.
constexpr int kHoldsOutside = 2250;
constexpr int kLeftAsIs = 2251;
// passwd.
constexpr int kPasswordChanged = 968;
constexpr int kPasswordRemoved = 969;
constexpr int kNewPrompt = 970;
constexpr int kRetypePrompt = 971;
constexpr int kPasswordSummary = 983;
constexpr int kPasswordChangedShort = 984;
constexpr int kPasswordRemovedShort = 985;
constexpr int kPasswordCheck = 1049;
constexpr int kPasswordEmpty = 1054;
constexpr int kPasswordShort = 1055;
// firmware.
constexpr int kFileSize = 160;
constexpr int kFirmwareTimeout = 161;
constexpr int kMemoryError = 162;
constexpr int kCompleted = 163;
constexpr int kFirmwareSummary = 987;
// history, diff.
constexpr int kHistoryOf = 1601;
constexpr int kNoHistory = 1602;
constexpr int kNothingChanged = 1603;
constexpr int kNoEntry = 1604;
// status, status --watch.
constexpr int kRestart = 1253;
constexpr int kNoAnswer = 1254;
constexpr int kWatchSummary = 1270;
constexpr int kWatchDeviceSummary = 1271;
constexpr int kWatchAverage = 1272;
constexpr int kAnsweredSummary = 1750;
// apply.
constexpr int kApplyUnchanged = 1700;
constexpr int kApplyChanged = 1701;
constexpr int kApplyWouldChange = 1702;
constexpr int kApplyFailed = 1703;
constexpr int kApplySummary = 1704;
constexpr int kApplyDryRunSummary = 1705;
} // namespace cli::texts
