#pragma once
// The program's result codes, kept at the bottom layer so that every layer
// names the same outcomes. The numbers are part of the program's face: they
// appear in the user's messages ("(1015)") and in the operation log, so a
// value never changes once given. Ok (0) is success.
//
// The archive writer and reader have outcomes of their own
// (archive/tar_archive.h, archive/tar_reader.h); each converts them here in
// one place, keeping their historic numbers -1..-3 and 1..5.

namespace skiv {

enum class ResultCode : int {
    Ok = 0,
    // The archive writer's outcomes.
    ArchiveCannotOpen = -1,  // a file or the archive cannot be opened or written
    ArchiveNoSize = -2,      // a file's size cannot be read
    ArchiveFull = -3,        // the archive already holds its maximum of entries
    // The archive reader's outcomes.
    UnpackNoArchive = 1,    // archive missing or unreadable, or entry not in its table
    UnpackCannotCopy = 2,   // the entry's bytes cannot be read
    UnpackNoOutput = 3,     // the output file cannot be opened
    UnpackWriteFailed = 4,  // the output file could not be written whole
    UnpackUnsafeName = 5,   // the entry would leave the unpacking base
    // Folders and files.
    NoProgramFiles = 1000,
    NoLauncherInChoice = 1001,
    ChooserCancelled = 1002,
    CannotCreateFolder = 1003,
    CannotListFolder = 1004,
    CannotOpenFile = 1005,
    CannotOpenGzip = 1006,
    ReadFailed = 1007,
    GzWriteFailed = 1008,
    LoadFolderDeclined = 1010,
    WriteFailed = 1013,
    GzReadFailed = 1014,
    // Service exchanges.
    LoginConnect = 1015,
    LoginRequest = 1016,
    LoginResponse = 1017,
    AllocFailed = 1018,
    NoReply = 1019,
    BadReply = 1020,
    LoginRefused1 = 1021,  // the service's error numbers 1..5
    LoginRefused2 = 1022,
    LoginWrongPassword = 1023,
    LoginSuspended = 1024,
    LoginWrongPassword2 = 1025,
    LoginRefusedOther = 1026,
    UploadRefused1 = 1027,  // the service's error numbers 1..4
    UploadRefused2 = 1028,
    UploadTooLarge = 1029,
    UploadNotAuthenticated = 1030,
    UploadRefusedOther = 1031,
    HttpException = 1032,
    CannotCreatePackage = 1033,
    HttpStatus = 1035,
    PackageWriteFailed = 1036,
    // Codes of this program's own checks, beyond the service's.
    SaveDeclined = 1037,  // the player stopped a save after a warning
    // The downloaded package differs from what the service recorded of it.
    PackageMismatch = 1041,
    // Delta exchanges (pieces and versions).
    DeltaBadManifest = 1160,    // the service's manifest or version list is malformed
    DeltaPieceMismatch = 1161,  // a piece or the assembled package differs from its manifest
    DeltaNoVersion = 1162,      // the named version is not stored
};

// The number shown in messages and log lines.
constexpr int Number(ResultCode code) {
    return static_cast<int>(code);
}

}  // namespace skiv
