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
constexpr int kFirstReading = 2160;
constexpr int kNotReported = 2161;
constexpr int kAnsweredSummary = 1750;
// apply.
constexpr int kApplyUnchanged = 1700;
constexpr int kApplyChanged = 1701;
constexpr int kApplyWouldChange = 1702;
constexpr int kApplyFailed = 1703;
constexpr int kApplySummary = 1704;
constexpr int kApplyDryRunSummary = 1705;
// The guarded write and its outcomes.
constexpr int kNothingRead = 1102;
constexpr int kConflict = 1104;
constexpr int kRemade = 1105;
constexpr int kHistoryNotKept = 1600;
constexpr int kStoredLate = 1800;
constexpr int kNotStored = 1801;
constexpr int kUnknownOutcome = 1802;
constexpr int kMismatch = 1803;
constexpr int kLockTimeout = 1805;
constexpr int kAlreadySet = 1806;
constexpr int kAlreadySetAll = 1807;
constexpr int kStopped = 1825;
constexpr int kTooLong = 1826;
constexpr int kPasswordLate = 1827;
constexpr int kPasswordNotChanged = 1828;
constexpr int kPasswordUnknown = 1829;
// Searches that could not hold every device.
constexpr int kNotHeld = 2200;
} // namespace cli::texts
