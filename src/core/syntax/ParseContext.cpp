#include "core/syntax/ParseContext.h"

#include "core/base/Messages.h"

namespace bitloupe {

ParseContext::ParseContext(CStreamState& streamState, TreeStore& treeStore, Host& hostIf,
                           ParseDialog& dialogIf, CommandPoster& posterIf)
    : stream(streamState),
      tree(treeStore),
      host(hostIf),
      dialog(dialogIf),
      poster(posterIf),
      payload(file),
      emit(*this, treeStore, streamState) {}

void ParseContext::GetPosition(ItemPosition& pos, bool systemLayer) const {
    if (!systemLayer && VideoThroughPayload()) {
        pos.offset = payload.CurrentOffset();
        pos.bitOffset = static_cast<uint32_t>(payload.bitOffset());
        pos.packetRemaining = payload.CurrentRemaining();
    } else {
        pos.offset = static_cast<uint64_t>(file.fileOffset());
        pos.bitOffset = static_cast<uint32_t>(file.bitOffset());
    }
}

int64_t ParseContext::GetBytePosition() const {
    if (VideoThroughPayload()) return static_cast<int64_t>(payload.CurrentOffset());
    return file.fileOffset();
}

void ParseContext::SeekTo(uint64_t offset, uint32_t bitOffset, uint32_t packetRemaining,
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

void ParseContext::PositionVideoReader(int64_t offset) {
    if (UsesPayload()) {
        payload.packetRemaining = 0;
        payload.lastProgress = offset;
        file.Seek(offset);
        payload.LoadPayload(true);
    } else {
        SeekTo(static_cast<uint64_t>(offset), 0, 0, true);
    }
}

bool ParseContext::ReportOutOfMemory() {
    if (!tree.OutOfMemory()) return false;
    host.MessageBox(msg::kOutOfMemory, msg::kWarningCaption, MsgIcon::None, MsgButtons::Ok);
    return true;
}

}  // namespace bitloupe
