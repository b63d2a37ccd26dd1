// The system layer of program streams: pack headers, system headers, PES packets and their
// payload, read with the file reader.
#pragma once

#include <cstdint>

#include "core/syntax/SystemFields.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

class ParseContext;

class SystemLayer {
  public:
    explicit SystemLayer(ParseContext& parser) : p_(parser) {}

    // Called right after the start code was read; with emit unset the header is only passed.
    void ParsePackHeader(bool emit);
    void ParseSystemHeader(bool emit);
    // Returns the number of payload bytes that follow the header; the reader stays on the
    // first payload byte. A packet that packet_length says runs past the end of the file is
    // marked as an error with the count of bytes missing.
    uint16_t ParsePesPacket(uint8_t streamId);
    // Steps over the payload of the packet just parsed, to where packet_length ends it. When
    // no system start code begins there (a damaged or lying length) the packet gets an error
    // item (packet 0: silently) and the reader goes back to the first payload byte, so that
    // the scan finds the next start code as it would without the length.
    void StepOverPayload(TreeItem packet);
    TreeItem LastPacketItem() const { return lastPacket_; }
    // Makes the packet item with its start code, stream_id and packet_length children, after
    // the packet counters were advanced.
    TreeItem AddPacketItem(uint8_t streamId, int packetLength);
    void ParseEndOfSystemStream();
    // Finds the next packet of streamId, listing what it passes; returns its payload length
    // (0 at an end code or at the end of the file).
    int64_t ParseSystemUntil(uint8_t streamId);
    // The same without a single item: passes packs, system headers and the other packets by
    // their lengths, and reads the wanted packet's header; returns its payload length.
    int64_t SkipUntil(uint8_t streamId);
    // Lists the bytes of a payload item on request.
    void ParsePacketPayload(TreeItem item);

    // Names of the data streams 0xF0..0xFF.
    static const char* DataStreamName(uint8_t streamId);

    // Driver state.
    TreeItem currentPackItem = 0;
    TreeItem firstPackItem = 0;
    TreeItem firstPacketItem = 0;
    TreeItem firstVideoPacketItem = 0;

    void ResetParse() {
        currentPackItem = firstPackItem = firstPacketItem = firstVideoPacketItem = 0;
    }

  private:
    struct TimeStamp {
        uint32_t high = 0, mid = 0, low = 0;  // bits 32..30, 29..15, 14..0
        uint32_t marker[3] = {0, 0, 0};       // the marker bit after each part
        uint64_t Value() const { return uint64_t{high} << 30 | uint64_t{mid} << 15 | low; }
    };
    // Reads a time stamp's parts up to its last marker bit (left to the caller) and lists them.
    TimeStamp ReadTimeStamp(const system_fields::TimeStampFields& names, TreeItem parent);

    // The PES header fields; return the packet's bytes left after the header (below 0 when
    // the header ran past packet_length).
    int64_t ParsePesHeaderMpeg1(int packetLength, TreeItem packet);
    int64_t ParsePesHeaderMpeg2(int packetLength, TreeItem packet);
    void ParseTrickMode(TreeItem packet);
    // Returns the header bytes it counted.
    int ParsePesExtension(TreeItem packet);
    // The payload item for the bytes that follow the header; remaining below 0 means the
    // header ran past packet_length. Returns the payload length.
    uint16_t AddPayloadItem(int64_t remaining, TreeItem packet);
    // Marks a packet as an error, with the item that says why.
    void FlagPacket(TreeItem packet, const char* why);
    // The header and payload item of a packet after its packet_length.
    uint16_t ParsePesBody(uint8_t streamId, int packetLength, TreeItem packet);
    // Reads the header of a packet of the followed stream without items; returns the payload
    // length.
    int64_t SkipPesHeader(uint8_t streamId);
    // The root item that stands for a stream, made when its first packet is met.
    void EnsureStreamRootItem(uint8_t streamId);
    // Where packs' children go: the current pack, or the program stream item before the first
    // pack header of a parse.
    TreeItem PackParent() const;

    // The packet item just made and where its packet_length ends it.
    TreeItem lastPacket_ = 0;
    int64_t packetEnd_ = 0;
    int packetLength_ = 0;
    // The PTS of the packet just parsed, -1 without one.
    int64_t lastPts_ = -1;
    int64_t lastDts_ = -1;

    ParseContext& p_;
};

}  // namespace bitloupe
