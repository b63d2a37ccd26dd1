// The decoder's own reading of the file: a reader over the same bytes as the parse's, the
// stream and picture state of the picture being decoded, and the syntax parts it reads
// through. A decode builds a picture job from the parse's records and applies it here, so it
// never moves the parse's readers nor changes its state: a paused parse goes on where it
// stopped, whatever was decoded meanwhile.
#pragma once

#include <cstdint>

#include "core/base/Host.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/syntax/ParseContext.h"
#include "core/syntax/PictureJob.h"
#include "core/syntax/StreamState.h"
#include "core/syntax/SystemLayer.h"
#include "core/syntax/VideoHeaders.h"

namespace bitloupe {

class JobReader {
  public:
    // Items are read from and messages and commands go to the parse's tree, host and poster;
    // the dialog is one of its own, never paused and reporting no progress.
    JobReader(TreeStore& tree, Host& host, CommandPoster& poster);
    JobReader(const JobReader&) = delete;
    JobReader& operator=(const JobReader&) = delete;

    // Follows the parse before a decode: the same file, the stream's kind and versions, the
    // followed video stream, the parse mode and the chosen grey colour.
    void Follow(const ParseContext& parse);
    // Takes the picture's job: header, extensions, matrices and its sequence's parameters.
    void Apply(const PictureJob& job) { macroblocks.ApplyPictureJob(job); }

  private:
    CStreamState stream_;
    ParseDialog dialog_;

  public:
    ParseContext context;
    SystemLayer system;
    VideoHeaders video;
    MacroblockLayer macroblocks;
};

}  // namespace bitloupe
