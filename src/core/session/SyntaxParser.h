// The session over one open file: it owns the parse context (readers, emitters, the stream's
// and the current picture's state), one part per layer of the stream and the picture decoder,
// and runs the drivers that walk the file:
//
//   system       packs, system headers, PES packets                  (core/syntax)
//   video        sequence, GOP and picture headers, extensions       (core/syntax)
//   macroblocks  slices, macroblocks and blocks, parsed on demand    (core/syntax)
//   decoder      the pictures, slices, macroblocks and blocks shown  (core/decode)
//
// The parts share the parse state through the context's `v` (the video layer's picture-level
// state) and `stream` (the open stream's state). The decoder only reads them: it decodes
// through a reader and a picture state of its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "core/decode/PictureDecoder.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/SystemLayer.h"
#include "core/syntax/VideoHeaders.h"

namespace bitloupe {

// What the file system says of the open file.
struct FileStatus {
    std::time_t created = 0;
    std::time_t modified = 0;
    std::time_t accessed = 0;
    int64_t size = 0;
    uint8_t attribute = 0;  // 0x01 read-only, 0x10 directory
    std::string fullPath;
};

class CSyntaxParser : public ParseContext {
  public:
    CSyntaxParser(CStreamState& stream, TreeStore& tree, Host& host, ParseDialog& dialog,
                  CommandPoster& poster);

    FileStatus fileStatus;

    // --- the layer parts ---
    SystemLayer system;
    VideoHeaders video;
    MacroblockLayer macroblocks;
    PictureDecoder decoder;

    // Allocates the picture buffers for the decoded size after a video parse (the decoder's
    // by default). False when memory ran out.
    std::function<bool()> AllocatePictureBuffers;

    // --- opening a file and the drivers ---
    // Opens path as the open command does; false when the file could not be opened or was
    // refused (the host has shown the message then).
    bool OpenFile(const std::string& path);
    // Opens size bytes at data as a file called name, the same way; the bytes must stay
    // until the next open.
    bool OpenMemory(const uint8_t* data, size_t size, const std::string& name);
    void DetectStreamType();
    // The video's own version (stream.videoVersion), from the video of a program stream.
    void DetectVideoVersion();
    void AddFileInfo();
    void AddStreamTypeItem();
    void ParseSequenceLevel(bool ui);
    // The drivers. Each begins with the changes to the root items that its parse makes first
    // (deleting the old branch when the tree is cleaned, inserting the new root): the
    // interface thread makes them with Begin...Parse before it starts the parse thread, which
    // then only appends. Called without Begin first, a driver makes them itself.
    void BeginSystemParse();
    void ParseSystemStream();
    void BeginVideoParse();
    void ParseVideoStream();
    // Closes the open file (for a refused file).
    void CloseFile() { file.Close(); }

    // Deletes the "Program Stream" root item with the system-layer maps, or the video root
    // item with the video-layer maps.
    void DeleteSystemItem();
    void DeleteVideoItem();

  private:
    // Where a video parse stands between start codes.
    struct VideoWalk {
        bool parseNow = false;  // past the start offset or picture: items are made
        bool sequenceEnded = false;
        bool stoppedByUser = false;
    };
    // The steps of ParseVideoStream: the set-up (returns the start offset), one start code,
    // a picture's start code (passing over the pictures before the start picture), the end.
    int64_t StartVideoParse(bool both);
    void ParseVideoCode(uint32_t code, VideoWalk& walk);
    // The codes of the sequence level (sequence header, extension, sequence error and end,
    // reserved codes); false for any other, which ends the sequence level.
    bool ParseSequenceLevelCode(uint32_t code);
    void ParsePictureStart(VideoWalk& walk);
    void FinishVideoParse(const VideoWalk& walk, bool both);

    // The rest of opening, once the reader stands at the start of the data.
    bool OpenReader(const FileStatus& status);
    void InsertSystemItem();
    void InsertVideoItem();
    void SetupProgress();

    bool begun_ = false;
};

}  // namespace bitloupe
