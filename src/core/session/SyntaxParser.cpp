#include "core/session/SyntaxParser.h"

namespace bitloupe {

CSyntaxParser::CSyntaxParser(CStreamState& streamState, TreeStore& treeStore, Host& hostIf,
                             ParseDialog& dialogIf, CommandPoster& posterIf)
    : ParseContext(streamState, treeStore, hostIf, dialogIf, posterIf),
      system(*this),
      video(*this),
      macroblocks(*this, video),
      decoder(*this) {
    AllocatePictureBuffers = [this] { return decoder.AllocatePictureBuffers(stream); };
    file.SetProgress([this](int64_t offset) { dialog.UpdateProgress(offset); });
    payload.SetProgress([this](int64_t offset) { dialog.UpdateProgress(offset); });
    payload.SetNextPacket([this]() -> int64_t {
        if (silentSystemLayer) return system.SkipUntil(videoStreamId);
        return system.ParseSystemUntil(videoStreamId);
    });
}

}  // namespace bitloupe
