#include "engine/SyntaxParser.h"

namespace bitloupe {

CSyntaxParser::CSyntaxParser(CStreamState& streamState, TreeStore& treeStore, Host& hostIf,
                             ParseDialog& dialogIf, CommandPoster& posterIf)
    : stream(streamState),
      tree(treeStore),
      host(hostIf),
      dialog(dialogIf),
      poster(posterIf),
      payload(file),
      emit(*this, treeStore, streamState),
      system(*this),
      video(*this),
      macroblocks(*this),
      decoder(*this) {
    AllocatePictureBuffers = [this] { return decoder.AllocatePictureBuffers(); };
    file.SetProgress([this](int64_t offset) { dialog.UpdateProgress(offset); });
    payload.SetProgress([this](int64_t offset) { dialog.UpdateProgress(offset); });
    payload.SetNextPacket([this]() -> int64_t {
        if (silentSystemLayer) return SkipToVideoPacket(videoStreamId);
        return system.ParseSystemUntil(videoStreamId);
    });
}

void CSyntaxParser::GetPosition(ItemPosition& pos, bool systemLayer) const {
    if (!systemLayer && VideoThroughPayload()) {
        pos.offset = payload.CurrentOffset();
        pos.bitOffset = static_cast<uint32_t>(payload.bitOffset());
        pos.packetRemaining = payload.CurrentRemaining();
    } else {
        pos.offset = static_cast<uint64_t>(file.fileOffset());
        pos.bitOffset = static_cast<uint32_t>(file.bitOffset());
    }
}

int64_t CSyntaxParser::GetBytePosition() const {
    if (VideoThroughPayload()) return static_cast<int64_t>(payload.CurrentOffset());
    return file.fileOffset();
}

void CSyntaxParser::SeekTo(uint64_t offset, uint32_t bitOffset, uint32_t packetRemaining,
                           bool fileReader) {
    const int bits = static_cast<int>(bitOffset & 7);
    file.Seek(static_cast<int64_t>(offset));
    if (fileReader) {
        file.FillChunk();
        if (bits) file.ReadBits(bits);
        return;
    }
    payload.lastProgress = static_cast<int64_t>(offset);
    payload.packetRemaining = packetRemaining;
    payload.LoadPayload(true);
    if (bits) ReadBits(bits);
}

void CSyntaxParser::PositionVideoReader(int64_t offset) {
    if (UsesPayload()) {
        payload.packetRemaining = 0;
        payload.lastProgress = offset;
        file.Seek(offset);
        payload.LoadPayload(true);
    } else {
        SeekTo(static_cast<uint64_t>(offset), 0, 0, true);
    }
}

int64_t CSyntaxParser::SkipToVideoPacket(uint8_t streamId) {
    const uint32_t wanted = 0x00000100u + streamId;
    uint32_t acc = 0;
    while (!file.AtEnd() && !file.ScanStartCode(acc, wanted, wanted)) {
    }
    int64_t length = file.ReadWord();
    if (stream.mpegVersion == kMpeg1) {
        if (streamId == 0xBF) return length;
        while (file.CurrentByte() == 0xFF && !file.AtEnd()) {
            file.ReadByte();
            --length;
        }
        if (file.PeekBits(2) == 1) {
            file.ReadByte();
            file.ReadByte();
            length -= 2;
        }
        int skip = 1;
        if (file.PeekBits(4) == 2)
            skip = 5;
        else if (file.PeekBits(4) == 3)
            skip = 10;
        for (int i = 0; i < skip; ++i) file.ReadByte();
        return length - skip;
    }
    switch (streamId) {
        case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
            return length;
        default:
            if (streamId < 0xBC) return length;
    }
    file.ReadByte();
    file.ReadByte();
    const int headerLength = file.ReadByte();
    for (int i = 0; i < headerLength; ++i) file.ReadByte();
    return length - headerLength - 3;
}

void CSyntaxParser::SaveVideoState() {
    GetPosition(checkpoint_.position, false);
    checkpoint_.state = v;
    checkpoint_.sequence = stream;
    checkpoint_.valid = true;
}

void CSyntaxParser::RestoreVideoState() {
    if (!checkpoint_.valid) return;
    const ItemPosition& pos = checkpoint_.position;
    SeekTo(pos.offset, pos.bitOffset, pos.packetRemaining, !VideoThroughPayload());
    v = checkpoint_.state;
    static_cast<SequenceParameters&>(stream) = checkpoint_.sequence;
    checkpoint_.valid = false;
}

}  // namespace bitloupe
