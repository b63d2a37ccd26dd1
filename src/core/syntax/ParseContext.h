// What every syntax part reads through and writes to: the readers over the open file, the
// item emitters, the stream's and the current picture's state, and the interfaces to the user
// (message boxes, the parsing dialog's state, posted commands). The session owns one and hands
// it to each part; a part sees nothing else of the session.
//
// The video layer reads through the dispatching bit operations below, which pick the payload
// reader for program streams and the file reader otherwise.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/base/Host.h"
#include "core/bits/FileReader.h"
#include "core/bits/PayloadReader.h"
#include "core/syntax/Emitters.h"
#include "core/syntax/Idct.h"
#include "core/syntax/StreamState.h"
#include "core/syntax/VideoState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

class ParseContext {
  public:
    ParseContext(CStreamState& stream, TreeStore& tree, Host& host, ParseDialog& dialog,
                 CommandPoster& poster);
    ParseContext(const ParseContext&) = delete;
    ParseContext& operator=(const ParseContext&) = delete;

    // --- bindings ---
    CStreamState& stream;
    TreeStore& tree;
    Host& host;
    ParseDialog& dialog;
    CommandPoster& poster;

    // --- readers and emitters ---
    FileReader file;
    PayloadReader payload;
    Emitters emit;
    CIdct idct;

    // --- parse state ---
    int64_t progressStep = 1;
    bool reportProgress = true;
    uint8_t videoStreamId = 0xE0;
    bool silentSystemLayer = true;
    VideoState v;
    // Set while the system layer reads (through the file reader, between the video's reads).
    bool systemReading = false;

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
    // Where a field of `bits` bits that began `back` bits before the reader's place lies: the
    // place of its first bit (file offset * 8 + bit) and the file offset just past the byte of
    // its last bit, from the reader that read it.
    // A field cut short by the end of the data stands for the bits it has: reads past the end
    // yield zeros without moving the reader, so the field lies that many bits nearer, and
    // `bits` comes back as what of it is in the file (0 for none).
    void SpanOfBits(int back, int& bits, uint64_t& start, uint64_t& end) const {
        const bool payloadRead = !systemReading && VideoThroughPayload();
        const uint64_t missing = payloadRead ? payload.MissingBits() : file.MissingBits();
        if (missing) {
            back -= static_cast<int>(std::min<uint64_t>(missing, static_cast<uint64_t>(back)));
            bits = std::min(bits, back);
        }
        auto at = [&](int b) {
            return payloadRead ? payload.BitPositionBack(b) : file.BitPositionBack(b);
        };
        start = at(back);
        end = bits > 0 ? at(back - bits + 1) / 8 + 1 : start / 8;
    }
    // The place (file offset * 8 + bit) of the reader's current bit.
    uint64_t BitPlace() const {
        uint64_t start = 0, end = 0;
        int bits = 0;
        SpanOfBits(0, bits, start, end);
        return start;
    }
    int64_t GetBytePosition() const;
    void SeekTo(uint64_t offset, uint32_t bitOffset, uint32_t packetRemaining, bool fileReader);
    // Positions the reader the video layer uses at offset with an empty packet.
    void PositionVideoReader(int64_t offset);

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
};

}  // namespace bitloupe
