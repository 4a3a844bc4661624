#pragma once
// The one table of result codes, kept at the bottom layer so that every
// layer names the same numbers. 0 is success; every operation of the
// controller, the archive and the exchanges returns one of these.

namespace skiv::rc {

inline constexpr int kOk = 0;
inline constexpr int kNoProgramFiles = 1000;
inline constexpr int kNoLauncherInChoice = 1001;
inline constexpr int kChooserCancelled = 1002;
inline constexpr int kCannotCreateFolder = 1003;
inline constexpr int kCannotListFolder = 1004;
inline constexpr int kCannotOpenFile = 1005;
inline constexpr int kCannotOpenGzip = 1006;
inline constexpr int kReadFailed = 1007;
inline constexpr int kGzWriteFailed = 1008;
inline constexpr int kLoadFolderDeclined = 1010;
inline constexpr int kWriteFailed = 1013;
inline constexpr int kGzReadFailed = 1014;
inline constexpr int kLoginConnect = 1015;
inline constexpr int kLoginRequest = 1016;
inline constexpr int kLoginResponse = 1017;
inline constexpr int kAllocFailed = 1018;
inline constexpr int kNoReply = 1019;
inline constexpr int kBadReply = 1020;
inline constexpr int kLoginRefusedFirst = 1021;  // error number 1; 1021..1025 for 1..5
inline constexpr int kLoginWrongPassword = 1023;
inline constexpr int kLoginSuspended = 1024;
inline constexpr int kLoginWrongPassword2 = 1025;
inline constexpr int kLoginRefusedOther = 1026;
inline constexpr int kUploadRefusedFirst = 1027;  // error number 1; 1027..1030 for 1..4
inline constexpr int kUploadTooLarge = 1029;
inline constexpr int kUploadNotAuthenticated = 1030;
inline constexpr int kUploadRefusedOther = 1031;
inline constexpr int kHttpException = 1032;
inline constexpr int kCannotCreatePackage = 1033;
inline constexpr int kHttpStatus = 1035;
inline constexpr int kPackageWriteFailed = 1036;

}  // namespace skiv::rc
