// The stream at a glance: figures of every picture (its size, type, times, quantiser, the
// decoder buffer around it), of every GOP, and of the whole stream, gathered from the parse's
// records and ranges. The chart, the summary and bitloupe-cli stats show them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

struct PictureStats {
    TreeItem item = 0;
    uint32_t number = 0;    // stream order, from 1
    uint32_t display = 0;   // display order, from 1 (0 when not known)
    uint8_t type = 0;       // picture_coding_type: 1 I, 2 P, 3 B, 4 D
    uint8_t structure = 3;  // picture_structure: 1 top field, 2 bottom field, 3 frame
    uint8_t topFieldFirst = 0;
    uint8_t repeatFirstField = 0;
    uint16_t temporalReference = 0;
    uint16_t vbvDelay = 0xFFFF;
    uint64_t offset = 0;      // file offset of the picture start code
    uint64_t bits = 0;        // the picture's own bits: header, extensions, user data, slices
    uint64_t headerBits = 0;  // sequence and GOP headers (with their extensions) before it
    int64_t pts = -1;         // 90 kHz, where a PES packet carries a stamp for the picture
    int64_t dts = -1;
    double meanQuantiser = 0;  // quantiser_scale over its slice headers
    uint32_t slices = 0;
    uint32_t gop = 0;  // its GOP's number (from 1), 0 before any GOP
    bool gopStart = false;
    // After "Parse MBs in Picture": the macroblocks' figures.
    bool macroblocksParsed = false;
    double mbMeanQuantiser = 0;
    uint32_t intra = 0, skipped = 0, forward = 0, backward = 0, interpolated = 0;
    double meanVectorLength = 0;  // in half samples, over the vectors coded
    // The decoder buffer (bits) just before the picture is taken out and just after, from the
    // model; `stated` is what the picture's vbv_delay says it holds then (-1 without).
    double bufferBefore = 0;
    double bufferAfter = 0;
    double stated = -1;
    bool overflow = false;
    bool underflow = false;
    bool disagrees = false;  // the stream's vbv_delay and the model differ by over 1 %
    double bitrate = 0;      // bits of the second of pictures ending with this one, per second
};

struct GopStats {
    uint32_t number = 0;  // from 1
    uint32_t firstPicture = 0;
    uint32_t pictures = 0;
    bool closed = false;
    bool brokenLink = false;
    std::string timeCode;  // hh:mm:ss:ff
};

struct StreamSummary {
    std::string kind;  // "MPEG-2 video", "MPEG-2 program stream", ...
    uint32_t width = 0, height = 0;
    std::string aspect;
    double frameRate = 0;
    uint64_t bitRate = 0;  // as the sequence header says (bit/s)
    uint64_t vbvBufferBits = 0;
    std::string profileLevel;  // "Main@Main", empty for MPEG-1
    std::string chromaFormat;
    bool progressive = true;
    uint32_t pictures = 0;
    uint32_t typeCounts[5] = {};  // by picture_coding_type
    double duration = 0;          // seconds, at the frame rate with field repeats counted
    double meanBitrate = 0;       // bit/s over the whole stream
    double peakBitrate = 0;       // the largest over one second
    uint32_t gops = 0;
    uint32_t minGopLength = 0, maxGopLength = 0;
    double meanGopLength = 0;
    uint32_t overflows = 0, underflows = 0;
    // A program stream's streams.
    struct Packets {
        uint8_t streamId = 0;
        uint64_t packets = 0;
        uint64_t bytes = 0;
    };
    std::vector<Packets> streams;
    int64_t firstScr = -1, lastScr = -1;  // 27 MHz
    int64_t firstPts = -1, lastPts = -1;  // 90 kHz
};

struct StreamStats {
    std::vector<PictureStats> pictures;  // stream order
    std::vector<GopStats> gops;
    StreamSummary summary;
    double bufferSize = 0;  // bits
    double frameRate = 0;
};

// The figures kept up to date while a parse runs. A picture is settled once another follows it
// (or the parse has ended): each update gathers only the pictures after the settled ones, and
// updates at any points of a parse end with the figures one update at its end gives.
class StatsGatherer {
  public:
    // The caller holds the tree's lock, and the parse has ended or waits at its gate. `ended`:
    // nothing more comes, the last picture is settled too. True when the tree was found parsed
    // again from its start, and everything gathered again.
    bool Update(const TreeStore& tree, const CStreamState& stream, uint64_t fileBytes, bool ended);
    const StreamStats& Stats() const { return stats_; }
    // The macroblock figures of one picture again, after its macroblocks were parsed or
    // deleted; the picture's number (from 1), 0 when it is not among the figures.
    uint32_t RegatherMacroblocks(const TreeStore& tree, const CStreamState& stream,
                                 TreeItem picture);
    // The pictures no later update changes: the first Settled() of Stats().pictures.
    size_t Settled() const { return settled_; }
    void Reset();

  private:
    // What gathering the next picture starts from.
    struct SettledState {
        uint64_t previousEnd = 0;  // bit place where the picture before ended
        int64_t previousStart = -1;
        TreeItem currentGop = 0;
    };
    StreamStats stats_;
    size_t settled_ = 0;
    SettledState settledState_;  // as it was after the last settled picture
};

// The figures of the stream as parsed so far, in a file of `fileBytes`. The caller holds the
// tree's lock, and the parse is not running (or is paused).
StreamStats GatherStreamStats(const TreeStore& tree, const CStreamState& stream,
                              uint64_t fileBytes);

// The buffer model over pictures whose bits and types are known: fills each picture's
// buffer figures and flags. Bit rate in bit/s, buffer size in bits, frames per second.
void ModelBuffer(std::vector<PictureStats>& pictures, double bitRate, double bufferSize,
                 double frameRate);

// The summary as lines of "name: value" text, for reading and copying.
std::string SummaryText(const StreamStats& stats);

}  // namespace bitloupe
