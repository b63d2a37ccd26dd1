// What the commands of bitloupe-cli share: the exit codes and the engine wired to the command
// line's surroundings.
#pragma once

#include <filesystem>
#include <string>

#include "core/render/StreamStats.h"
#include "core/session/HeadlessEngine.h"
#include "core/session/SyntaxParser.h"
#include "core/tree/TreeStore.h"

namespace bitloupe::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;    // usage or I/O error
constexpr int kExitRefused = 2;  // the file was refused; the message is on stderr

// The --mode words of the commands that parse a whole file, and the parse mode of each.
inline const char* const kParseModeWords[] = {"video", "ps", "both", nullptr};
inline constexpr int kParseModeOfWord[] = {kModeVideoOnly, kModeProgramStreamOnly, kModeBoth};

// The engine with recording surroundings whose messages go to stderr, and no dialog shown.
struct CliEngine : HeadlessEngine {
    CliEngine() { host.echoToStderr = true; }

    // Opens `path` and parses it in `mode` (kModeVideoOnly, ...), then every picture's
    // macroblocks when `mbs`; false with the exit code when the file could not be opened.
    bool OpenAndParse(const std::string& path, int mode, bool mbs, int& exitCode) {
        if (!parser.OpenFile(path)) {
            exitCode = stream.fileItem ? kExitRefused : kExitUsage;
            return false;
        }
        dialog.mode = mode;
        dialog.BeginParse();
        if (stream.streamType == kProgramStream && dialog.mode == kModeProgramStreamOnly)
            parser.ParseSystemStream();
        else
            parser.ParseVideoStream();
        if (mbs)
            for (TreeItem picture : parser.decoder.PicturesInStreamOrder())
                parser.macroblocks.ParseMacroblocksOfPicture(picture);
        return true;
    }

    // The stream's figures once parsed (the file's size bounds the last picture's bits).
    StreamStats Stats(const std::string& path) const {
        std::error_code error;
        const uint64_t size = std::filesystem::file_size(path, error);
        auto lock = tree.Lock();
        return GatherStreamStats(tree, stream, error ? 0 : size);
    }
};

}  // namespace bitloupe::cli
