// The parse engine. One object owns the readers over the open file, the emitters that turn
// what was read into tree items, and one part per layer of the stream:
//
//   file, payload   the file reader and the PES payload reader         (engine/)
//   emit            the item emitters                                   (engine/)
//   system          packs, system headers, PES packets                  (system/)
//   video           sequence, GOP and picture headers, extensions       (video/)
//
// The parts share the parse state through `v` (the video layer's picture-level state) and
// `stream` (the open stream's state). The video layer reads through the dispatching bit
// operations below, which pick the payload reader for program streams and the file reader
// otherwise.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "core/base/Host.h"
#include "core/bits/FileReader.h"
#include "core/bits/PayloadReader.h"
#include "core/decode/PictureDecoder.h"
#include "core/syntax/Emitters.h"
#include "core/syntax/Idct.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/syntax/StreamState.h"
#include "core/syntax/SystemLayer.h"
#include "core/syntax/VideoHeaders.h"
#include "core/syntax/VideoState.h"
#include "core/tree/TreeStore.h"

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

class CSyntaxParser {
  public:
    CSyntaxParser(CStreamState& stream, TreeStore& tree, Host& host, ParseDialog& dialog,
                  CommandPoster& poster);
    CSyntaxParser(const CSyntaxParser&) = delete;
    CSyntaxParser& operator=(const CSyntaxParser&) = delete;

    // --- bindings ---
    CStreamState& stream;
    TreeStore& tree;
    Host& host;
    ParseDialog& dialog;
    CommandPoster& poster;
    FileStatus fileStatus;

    // --- readers, emitters and the layer parts ---
    FileReader file;
    PayloadReader payload;
    Emitters emit;
    SystemLayer system;
    VideoHeaders video;
    MacroblockLayer macroblocks;
    CIdct idct;
    PictureDecoder decoder;

    // --- parse state ---
    int64_t progressStep = 1;
    bool reportProgress = true;
    uint8_t videoStreamId = 0xE0;
    bool silentSystemLayer = true;
    VideoState v;
    // Allocates the picture buffers for the decoded size after a video parse (the decoder's
    // by default). False when memory ran out.
    std::function<bool()> AllocatePictureBuffers;

    // --- the video layer's reads: payload reader for program streams, else file reader ---
    bool UsesPayload() const { return stream.streamType == kProgramStream; }
    uint32_t ReadBits(int n) { return UsesPayload() ? payload.ReadBits(n) : file.ReadBits(n); }
    uint32_t PeekBits(int n) const {
        return UsesPayload() ? payload.PeekBits(n) : file.PeekBits(n);
    }
    void SkipBits(int n) { UsesPayload() ? payload.SkipBits(n) : file.SkipBits(n); }
    uint8_t ReadByte() { return UsesPayload() ? payload.ReadByte() : file.ReadByte(); }
    void NextByte(bool advance) {
        UsesPayload() ? payload.NextByte(advance) : file.NextByte(advance);
    }
    uint8_t CurrentByte() const {
        return UsesPayload() ? payload.CurrentByte() : file.CurrentByte();
    }
    bool AtEnd() const { return UsesPayload() ? payload.AtEnd() : file.AtEnd(); }
    // Scans the video reader for a start code in lo..hi; see FileReader::ScanStartCode.
    bool ScanStartCode(uint32_t& acc, uint32_t lo, uint32_t hi) {
        return UsesPayload() ? payload.ScanStartCode(acc, lo, hi) : file.ScanStartCode(acc, lo, hi);
    }

    // --- positions ---
    // True when the video layer reads through the payload reader in the current mode.
    bool VideoThroughPayload() const {
        return UsesPayload() && dialog.mode != kModeProgramStreamOnly;
    }
    void GetPosition(ItemPosition& pos, bool systemLayer) const;
    int64_t GetBytePosition() const;
    void SeekTo(uint64_t offset, uint32_t bitOffset, uint32_t packetRemaining, bool fileReader);
    // Positions the reader the video layer uses at offset with an empty packet.
    void PositionVideoReader(int64_t offset);

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

    // --- pause checkpoint ---
    void SaveVideoState();
    void RestoreVideoState();

    // Deletes the "Program Stream" root item with the system-layer maps, or the video root
    // item with the video-layer maps.
    void DeleteSystemItem();
    void DeleteVideoItem();

  private:
    // The rest of opening, once the reader stands at the start of the data.
    bool OpenReader(const FileStatus& status);
    void InsertSystemItem();
    void InsertVideoItem();
    void SetupProgress();

  public:
    // Stop and pause handling of the start-code scans, tested before each run of scanned bytes
    // (at most one chunk): waits while paused, then tells whether the user asked to stop or
    // the tree ran out of memory.
    bool ShouldStop() {
        dialog.WaitWhilePaused();
        return dialog.IsStopped() || tree.OutOfMemory();
    }
    // The same for the on-demand macroblock parses, tested between macroblocks: they stop only
    // when they run on the parse thread (a caller that parses synchronously has no Stop).
    bool ShouldStopOnDemand() {
        dialog.WaitWhilePaused();
        return (dialog.ParseRunning() && dialog.IsStopped()) || tree.OutOfMemory();
    }
    // Shows "Out of memory!" when the tree ran out of it; true then.
    bool ReportOutOfMemory();

  private:
    bool begun_ = false;

    struct Checkpoint {
        ItemPosition position;
        VideoState state;
        // A decode while paused restores the parameters of the decoded picture's sequence.
        SequenceParameters sequence;
        bool valid = false;
    } checkpoint_;
};

}  // namespace bitloupe
