#include "core/decode/JobReader.h"

namespace bitloupe {

JobReader::JobReader(TreeStore& tree, Host& host, CommandPoster& poster)
    : context(stream_, tree, host, dialog_, poster),
      system(context),
      video(context),
      macroblocks(context, video) {
    context.reportProgress = false;
    context.file.reportProgress = false;
    // A decode reads a picture or a few, from wherever the selection is.
    context.file.SetCacheBytes(256 << 10);
    context.payload.SetNextPacket(
        [this]() -> int64_t { return system.SkipUntil(context.videoStreamId); });
}

void JobReader::Follow(const ParseContext& parse) {
    context.file.ShareSource(parse.file);
    const CStreamState& live = parse.stream;
    stream_.streamType = live.streamType;
    stream_.mpegVersion = live.mpegVersion;
    stream_.videoVersion = live.videoVersion;
    context.videoStreamId = parse.videoStreamId;
    context.silentSystemLayer = true;
    dialog_.mode = parse.dialog.mode;
    stream_.greyColourFixed = live.greyColourFixed;
    if (live.greyColourFixed) {
        stream_.greyColour = live.greyColour;
        stream_.greyColourRgb = live.greyColourRgb;
    } else {
        video.UpdateGreyColour();
    }
}

}  // namespace bitloupe
