#include "system/SystemLayer.h"

#include "engine/SyntaxParser.h"

namespace bitloupe {

void SystemLayer::ParsePackHeader(bool) {}
void SystemLayer::ParseSystemHeader(bool) {}
uint16_t SystemLayer::ParsePesPacket(uint8_t) { return 0; }
void SystemLayer::ParseEndOfSystemStream() {}
int64_t SystemLayer::ParseSystemUntil(uint8_t streamId) { return p_.SkipToVideoPacket(streamId); }
void SystemLayer::ParsePacketPayload(TreeItem) {}

}  // namespace bitloupe
