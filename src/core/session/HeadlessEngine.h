// The engine with recording surroundings and no dialog shown, parsing on the calling thread:
// the command-line tool, the tests and the fuzz targets wire it alike.
#pragma once

#include "core/base/Host.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

struct HeadlessEngine {
    TreeStore tree;
    CStreamState stream;
    RecordingHost host;
    ParseDialog dialog;
    RecordingPoster poster;
    CSyntaxParser parser{stream, tree, host, dialog, poster};

    HeadlessEngine() { dialog.visible = false; }
    HeadlessEngine(const HeadlessEngine&) = delete;
    HeadlessEngine& operator=(const HeadlessEngine&) = delete;
};

}  // namespace bitloupe
