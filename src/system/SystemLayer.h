// The system layer of program streams: pack headers, system headers, PES packets and their
// payload, read with the file reader.
#pragma once

#include <cstdint>

#include "engine/TreeStore.h"

namespace bitloupe {

class CSyntaxParser;

class SystemLayer {
public:
    explicit SystemLayer(CSyntaxParser& parser) : p_(parser) {}

    // Called right after the start code was read; with emit unset the header is only passed.
    void ParsePackHeader(bool emit);
    void ParseSystemHeader(bool emit);
    // Returns the number of payload bytes that follow the header; the reader stays on the
    // first payload byte.
    uint16_t ParsePesPacket(uint8_t streamId);
    void ParseEndOfSystemStream();
    // Finds the next packet of streamId, listing what it passes; returns its payload length.
    int64_t ParseSystemUntil(uint8_t streamId);
    // Lists the bytes of a payload item on request.
    void ParsePacketPayload(TreeItem item);

    // Driver state.
    TreeItem currentPackItem = 0;
    TreeItem firstPackItem = 0;
    TreeItem firstPacketItem = 0;
    TreeItem firstVideoPacketItem = 0;

    void ResetParse() {
        currentPackItem = firstPackItem = firstPacketItem = firstVideoPacketItem = 0;
    }

private:
    CSyntaxParser& p_;
};

}  // namespace bitloupe
