#include "video/VideoHeaders.h"

#include "engine/SyntaxParser.h"

namespace bitloupe {

void VideoHeaders::ParseSequenceHeader() {}
void VideoHeaders::ParseSequenceError() {}
void VideoHeaders::ParseSequenceEnd() {}
void VideoHeaders::ParseReservedStartCode(uint32_t) {}
void VideoHeaders::ParseGopHeader() {}
void VideoHeaders::ParsePictureHeader() {}
void VideoHeaders::ParseExtension() {}
void VideoHeaders::ParseUserData() {}
void VideoHeaders::ParseSlice(uint32_t) {}

void VideoHeaders::ResetParse() {
    VideoState& v = p_.v;
    v.currentGopItem = v.currentPictureItem = p_.stream.videoItem;
    v.firstPictureItem = v.firstMacroblockItem = v.firstBlockItem = 0;
    v.lastTemporalReference = -1;
    v.picturesInGop = -1;
    for (ReferenceEntry& e : v.referenceHistory) e = ReferenceEntry();
}

}  // namespace bitloupe
