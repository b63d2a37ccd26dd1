// The video start-code handlers: sequence, GOP and picture headers, extensions, user data and
// slice headers, with the sequence- and picture-level state they keep.
//
// Every handler is entered with the reader just behind its 32-bit start code and leaves it
// wherever the syntax ended; the start-code loop then scans on. State lives in the parser's
// `stream` (sequence level, per-item records) and `v` (picture level), never in this object,
// so the pause checkpoint (a copy of `v`) is all a pause needs.
#pragma once

#include <cstdint>

#include "core/tree/TreeStore.h"

namespace bitloupe {

class ParseContext;

class VideoHeaders {
  public:
    explicit VideoHeaders(ParseContext& parser) : p_(parser) {}

    // --- start-code handlers (VideoHeaders.cpp) ---
    void ParseSequenceHeader();
    void ParseSequenceError();
    void ParseSequenceEnd();
    void ParseReservedStartCode(uint32_t code);
    void ParseGopHeader();
    void ParsePictureHeader();
    // Lists the slice header and leaves a placeholder for its macroblocks, which are parsed
    // on demand from the slice's record and the placeholder's position.
    void ParseSlice(uint32_t code);

    // --- extensions and user data (Extensions.cpp) ---
    void ParseExtension();
    void ParseUserData();
    void ParseSequenceExtension(TreeItem item);
    void ParseSequenceDisplayExtension(TreeItem item);
    void ParseQuantMatrixExtension(TreeItem item);
    void ParseCopyrightExtension(TreeItem item);
    void ParseSequenceScalableExtension(TreeItem item);
    void ParsePictureDisplayExtension(TreeItem item);
    void ParsePictureCodingExtension(TreeItem item);
    void ParsePictureSpatialScalableExtension(TreeItem item);
    void ParsePictureTemporalScalableExtension(TreeItem item);

    // --- derived state ---
    // mbWidth, mbHeight, mbCount and the coded size from the sizes and progressive_sequence.
    void UpdateMacroblockDimensions();
    void UpdatePelAspectRatio();
    // Takes the conversion factors of a matrix_coefficients code (codes without a row of
    // their own get the default row).
    void SelectColourMatrix(int code);
    // The grey of Y = Cb = Cr = 128 under the current factors, unless the user fixed it.
    void UpdateGreyColour();
    // The picture coding values an MPEG-1 picture implies.
    void SetMpeg1PictureDefaults();
    // Which earlier pictures the current one predicts from; lists them and keeps the history.
    void UpdatePredictionFrames();

    // The per-parse reset of the picture-level state.
    void ResetParse();

  private:
    // 64 values of 8 bits in zig-zag order, stored at their natural positions.
    void ReadMatrix(uint8_t* natural);
    bool Mpeg2() const;

    ParseContext& p_;
};

}  // namespace bitloupe
