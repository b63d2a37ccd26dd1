// What reading a picture again needs from the records of the parse: its sequence's parameters,
// its header, coding extension, quantiser matrices and display extension. The decoder builds
// one for each picture it decodes and the on-demand macroblock parse for each picture it
// parses; each applies it to a context of its own.
#pragma once

#include "core/syntax/StreamState.h"
#include "core/syntax/VideoState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

struct PictureJob {
    TreeItem picture = 0;
    SequenceParameters sequence;
    PictureRecord header;
    PictureCodingExtension coding;
    QuantMatrixSet quant;
    PictureDisplayExtension display;
    // The records the picture has; a context keeps its own values where one is missing.
    bool hasSequence = false;
    bool hasCoding = false;
    bool hasQuant = false;
    bool hasDisplay = false;
};

// Gathers the job of a picture item from the records. Returns null when it is complete, else
// the message that names the record missing (the picture header, or for MPEG-2 video the
// picture coding or quantiser matrix extension).
const char* GatherPictureJob(const CStreamState& records, TreeItem picture, PictureJob& job);

}  // namespace bitloupe
