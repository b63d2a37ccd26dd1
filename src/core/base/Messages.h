// The program's own message texts and captions, byte for byte as the user sees them.
#pragma once

namespace bitloupe::msg {

// Command ids posted to the main window.
inline constexpr int kCommandRedisplay = 33000;
inline constexpr int kCommandDisplayTypeChanged = 33001;
inline constexpr int kCommandFieldOption = 33002;
// Posted by the parse thread as its last act: the worker has finished.
inline constexpr int kCommandWorkerFinished = 33010;

inline constexpr const char* kAppCaption = "Bitloupe";
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kQuestionCaption = "Question";

inline constexpr const char* kFailedToOpenFile = "Failed to open the file!";
inline constexpr const char* kNotValidMpeg = "This file is not a valid MPEG-1 or MPEG-2 video!";
inline constexpr const char* kTransportStreamUnsupported =
    "TS MPEG-2 video has not been supported at current stage!";
inline constexpr const char* kOutOfMemory = "Out of memory!";
inline constexpr const char* kAnotherWorkerThread =
    "Another worker thread is running!\nPlease try the parsing operation later.";
inline constexpr const char* kFailedToResumeThread = "Failed to resume the working thread!";
inline constexpr const char* kPositioningLost = "The positioning information is lost!";
inline constexpr const char* kSelectedItemNotValid = "The selected item is not valid!";
inline constexpr const char* kPictureHeaderLost = "The picture header is lost!";
inline constexpr const char* kPictureCodingExtensionLost = "The picture coding extension is lost!";
inline constexpr const char* kQuantMatrixExtensionLost = "The quantiser matrix extension is lost!";
inline constexpr const char* kSliceHeaderLost = "The slice header is lost!";
inline constexpr const char* kLongExportQuestion =
    "The process may need much time, do you really want to go?";
inline constexpr const char* kFailedToOpenClipboard = "Failed to open clipboard!";
inline constexpr const char* kFailedToCloseClipboard = "Failed to close clipboard!";
inline constexpr const char* kClipboardStillLocked = "The data to be copied is still locked!";

}  // namespace bitloupe::msg
