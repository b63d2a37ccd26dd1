#include "core/session/SyntaxParser.h"

namespace bitloupe {

CSyntaxParser::CSyntaxParser(CStreamState& streamState, TreeStore& treeStore, Host& hostIf,
                             ParseDialog& dialogIf, CommandPoster& posterIf)
    : ParseContext(streamState, treeStore, hostIf, dialogIf, posterIf),
      system(*this),
      video(*this),
      macroblocks(*this, video),
      decoder(*this, macroblocks) {
    AllocatePictureBuffers = [this] { return decoder.AllocatePictureBuffers(); };
    file.SetProgress([this](int64_t offset) { dialog.UpdateProgress(offset); });
    payload.SetProgress([this](int64_t offset) { dialog.UpdateProgress(offset); });
    payload.SetNextPacket([this]() -> int64_t {
        if (silentSystemLayer) return system.SkipUntil(videoStreamId);
        return system.ParseSystemUntil(videoStreamId);
    });
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
