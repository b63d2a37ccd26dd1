// The video start-code handlers: sequence, GOP and picture headers, extensions, user data and
// slice headers, with the sequence- and picture-level state they keep.
#pragma once

#include <cstdint>

#include "engine/TreeStore.h"

namespace bitloupe {

class CSyntaxParser;

class VideoHeaders {
public:
    explicit VideoHeaders(CSyntaxParser& parser) : p_(parser) {}

    void ParseSequenceHeader();
    void ParseSequenceError();
    void ParseSequenceEnd();
    void ParseReservedStartCode(uint32_t code);
    void ParseGopHeader();
    void ParsePictureHeader();
    void ParseExtension();
    void ParseUserData();
    void ParseSlice(uint32_t code);

    // The per-parse reset of the picture-level state.
    void ResetParse();

private:
    CSyntaxParser& p_;
};

}  // namespace bitloupe
