// The decoding commands of bitloupe-cli:
//
//   decode   one picture, as the display pane shows it, into a BMP file
//   frames   every frame of the video stream as raw planes (gray, yuv444p or bgr24)
//
// Both take the arguments after the command name and return the tool's exit code.
#pragma once

namespace bitloupe::cli {

int RunDecode(int argc, char** argv);
int RunFrames(int argc, char** argv);

// The usage lines of the two commands, for the tool's usage text.
const char* DecodeUsage();

}  // namespace bitloupe::cli
