#include "core/session/SyntaxParser.h"

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
        if (silentSystemLayer) return system.SkipUntil(videoStreamId);
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
