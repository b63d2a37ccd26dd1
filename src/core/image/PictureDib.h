// The picture that the display pane shows: a 24-bit bottom-up bitmap in memory with its focus
// rectangle, the picture structure it was painted with and a saved copy for undoing filters.
// The decoder paints into it (whole pictures from the frame stores, or single colour
// macroblocks), the image filters change it in place, the display pane draws it and the save
// commands write it, or parts of it, as BMP files.
//
// This file also holds the conversion from the decoder's Y, Cb, Cr samples to the bitmap's
// blue, green, red bytes, with the ten colour modes of the View menu.
//
// Colour values (Fill, the BMP background, GreyColour) are 0x00BBGGRR words: red in bits 0..7,
// green 8..15, blue 16..23. Pixels in the buffer are three bytes: blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/base/ZeroedMemory.h"

namespace bitloupe {

// --- colour conversion ---

// The four 16.16 fixed-point factors of the Y, Cb, Cr to colour conversion.
struct ColourFactors {
    int32_t crv;  // Cr to red
    int32_t cbu;  // Cb to blue
    int32_t cgu;  // Cb to green
    int32_t cgv;  // Cr to green
};

// Factors by matrix_coefficients 0..7.
inline constexpr ColourFactors kColourCoefficients[8] = {{117504, 138453, 13954, 34903},  //
                                                         {117504, 138453, 13954, 34903},  //
                                                         {104597, 132201, 25675, 53279},  //
                                                         {104597, 132201, 25675, 53279},  //
                                                         {104448, 132798, 24759, 53109},  //
                                                         {104597, 132201, 25675, 53279},  //
                                                         {104597, 132201, 25675, 53279},  //
                                                         {117579, 136230, 16907, 35559}};

// The row in force until a sequence display extension names another.
inline constexpr int kDefaultMatrixCoefficients = 5;

// The factors of a matrix_coefficients code; codes without a row of their own get the default.
ColourFactors ColourFactorsFor(int matrix_coefficients);

// Colour modes of the View menu ("Display: Normal" ... "Display: Cyan").
namespace colour_mode {
inline constexpr uint8_t kNormal = 0;
inline constexpr uint8_t kY = 1;
inline constexpr uint8_t kCb = 2;
inline constexpr uint8_t kCr = 3;
inline constexpr uint8_t kRed = 4;
inline constexpr uint8_t kGreen = 5;
inline constexpr uint8_t kBlue = 6;
inline constexpr uint8_t kYellow = 7;
inline constexpr uint8_t kMagenta = 8;
inline constexpr uint8_t kCyan = 9;
inline constexpr uint8_t kCount = 10;
}  // namespace colour_mode

// One sample triple converted to blue, green and red, each clipped to 0..255.
struct Bgr {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
};
Bgr ConvertYCbCr(uint8_t y, uint8_t cb, uint8_t cr, const ColourFactors& f);

// A row of n sample triples converted the same way into n pixels (blue, green, red).
void ConvertSamplesToBgr(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                         int n, const ColourFactors& f);

// The same conversion as a colour value (red in bits 0..7).
uint32_t YCbCrToColour(uint8_t y, uint8_t cb, uint8_t cr, const ColourFactors& f);

// The default "Field Background": the colour of Y = Cb = Cr = 128. Any of its three bytes is
// the grey byte that fills skipped macroblocks without a prediction (all three are equal for
// every row of the table).
uint32_t GreyColour(const ColourFactors& f);

// Writes the three bytes (blue, green, red) that colour mode `mode` shows for a sample triple.
// Modes Y, Cb and Cr show the sample itself as grey; the colour modes keep only some of the
// converted channels. An unknown mode shows the normal picture.
void WritePixel(uint8_t* bgr, uint8_t y, uint8_t cb, uint8_t cr, uint8_t mode,
                const ColourFactors& f);

// The unit the decoder hands to the bitmap: 16 rows of 16 pixels (blue, green, red), top row
// first, and where the macroblock sits in the picture, in samples (for a field picture the
// vertical position counts lines of the field).
struct ColourMacroblock {
    static constexpr int kRowBytes = 48;
    uint8_t rows[16][kRowBytes];
    int32_t x = 0;
    int32_t y = 0;
};

// Turns the decoder's three 16x16 arrays (row-major, 16 samples a row; the low byte of each
// sample is used) into the colour macroblock's rows for colour mode `mode`. With live
// de-interlacing the 16 rows are then smoothed vertically (DeInterlaceColourMacroblock). The
// position fields are left to the caller.
void ConvertMacroblockToColour(ColourMacroblock& out, const int16_t* y, const int16_t* cb,
                               const int16_t* cr, uint8_t mode, const ColourFactors& f,
                               bool liveDeInterlace);

// Vertical smoothing of the 16 rows, byte by byte, from an unfiltered copy: the first and
// last rows average with their one neighbour, the others weigh 1/4, 1/2, 1/4.
void DeInterlaceColourMacroblock(ColourMacroblock& mb);

// --- BMP results and their messages ---

enum class BmpResult : uint8_t {
    kOk,
    kNoData,        // no pixels, or the part asked for holds no pixel
    kCannotCreate,  // the file could not be created
    kCannotWrite,   // writing failed; the incomplete file has been removed
};

// Message texts of the save commands and the snapshot, byte for byte as the user sees them.
namespace dib_msg {
inline constexpr const char* kNoValidDataForSaving = "No valid data for saving!";  // "Warning"
inline constexpr const char* kColourDepthTooLow = "The color depth of your system is too low!";
inline constexpr const char* kFailedToSaveSnapshot = "Failed to save the snapshot!";
inline constexpr const char* kFailedToCreateBmp = "Failed to create the BMP file!";
inline constexpr const char* kFailedToWriteBmp = "Failed to write the BMP file!";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kErrorCaption = "Error";
}  // namespace dib_msg

// What to tell the user after a save: the text and its caption, or null texts for kOk.
struct BmpMessage {
    const char* text;
    const char* caption;
};
BmpMessage BmpResultMessage(BmpResult result);

// --- the bitmap ---

// The focus rectangle: inclusive corners in picture pixels, y = 0 the top line. It is kept as
// the painting set it and may reach beyond the picture (the bottom field's last macroblock row
// ends one line below the picture); whatever reads pixels through it clips it first.
struct FocusRect {
    int32_t x0 = 0;
    int32_t y0 = 0;
    int32_t x1 = -1;
    int32_t y1 = -1;
};

// A screen image handed over for a snapshot: rows top-down, `bytesPerLine` apart, of 16-bit
// (5-6-5), 24-bit (blue, green, red) or 32-bit (blue, green, red, unused) pixels.
struct ScreenBitmap {
    const uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    size_t bytesPerLine = 0;
};

class CPictureDib {
  public:
    // picture_structure values.
    static constexpr uint8_t kTopField = 1;
    static constexpr uint8_t kBottomField = 2;
    static constexpr uint8_t kFrame = 3;
    // Field options: which rows of a macroblock or which lines of the focus rectangle to touch.
    static constexpr uint8_t kAllLines = 0;
    static constexpr uint8_t kTopFieldLines = 1;
    static constexpr uint8_t kBottomFieldLines = 2;

    // Sizes beyond these are refused: each side at most 32768 pixels and the pixel buffer at
    // most 1 GiB, so every offset fits and a BMP file's 32-bit sizes cannot overflow.
    static constexpr int32_t kMaxSide = 32768;
    static constexpr size_t kMaxImageBytes = size_t{1} << 30;
    static bool IsValidSize(int32_t width, int32_t height);

    CPictureDib() = default;
    CPictureDib(const CPictureDib&) = delete;
    CPictureDib& operator=(const CPictureDib&) = delete;

    // Makes a zero-filled bitmap of width x height. At the size it already has (with pixels)
    // nothing changes and the pixels stay. Otherwise the old pixels and the saved copy are
    // dropped, and the focus rectangle becomes the whole picture. Returns false, leaving the
    // object without pixels, for a size that is zero, negative or too large (IsValidSize) or
    // when memory is lacking.
    bool Create(int32_t width, int32_t height);
    // Frees the pixels and the saved copy.
    void Release();

    // Every pixel gets the colour.
    void Fill(uint32_t colour);
    // Over the lines y0..y1 of the focus rectangle (clipped to the picture), at full width:
    // every line for kAllLines, every second line from y0 for kTopFieldLines, from y0 + 1 for
    // kBottomFieldLines.
    void FillFieldLines(uint8_t fieldOption, uint32_t colour);

    // Copies the colour macroblock into the bitmap where it belongs under the picture
    // structure: a field picture's rows go to every second line of its field. Field option
    // kTopFieldLines copies only rows 0, 2, .. 14, kBottomFieldLines rows 1, 3, .. 15. Parts
    // outside the picture are not written. Then the focus rectangle's bottom-right moves to
    // the macroblock's bottom-right, and, unless keepFocus is set, its top-left to the
    // macroblock's top-left (a slice passes keepFocus = false for its first macroblock only).
    void PaintMacroblock(const ColourMacroblock& mb, uint8_t fieldOption, bool keepFocus);

    // Converts the three planes (width x height bytes each, row-major, no padding) into the
    // bitmap with colour mode `mode`: every line for kAllLines, else only the even (top
    // field) or odd (bottom field) lines; the other lines keep their pixels. Returns false,
    // changing nothing, when the planes are not the bitmap's size.
    bool ConvertFromPlanes(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                           int32_t height, uint8_t fieldLines, uint8_t mode,
                           const ColourFactors& f);
    // The same for `count` lines from line `first` on, whose samples start at y, cb and cr
    // (rows of the bitmap's width, no padding): a band of the picture at a time.
    bool ConvertLines(int32_t first, int32_t count, const uint8_t* y, const uint8_t* cb,
                      const uint8_t* cr, uint8_t fieldLines, uint8_t mode, const ColourFactors& f);

    // The saved copy behind "Restore". SaveCopy keeps the pixels as they are now unless a copy
    // exists already (false when there are no pixels or memory is lacking); Restore copies it
    // back (false when there is none) and keeps it for the next Restore.
    bool SaveCopy();
    bool Restore();
    void DropSavedCopy();
    bool HasSavedCopy() const { return saved_ != nullptr; }

    // Creates the bitmap at the other's size and copies its pixels.
    bool CopyFrom(const CPictureDib& other);
    // Makes the bitmap from a screen image: source row 0 becomes the picture's top line. A
    // depth other than 16, 24 or 32 bits, a missing buffer, a line length too short for the
    // width or a refused size leave the object without pixels and return false.
    bool CreateFromScreenBitmap(const ScreenBitmap& screen);

    // BMP files: the whole bitmap; one field (the picture's even lines, or its odd lines when
    // bottom is set; height / 2 rows); the whole bitmap with every pixel outside the focus
    // rectangle written as `background`; the focus rectangle alone. Rows are padded to a
    // multiple of 4 bytes. The file is created or truncated; a write that fails removes it.
    BmpResult Save(const std::string& path) const;
    BmpResult SaveField(const std::string& path, bool bottom) const;
    BmpResult SaveFocusWithBackground(const std::string& path, uint32_t background) const;
    BmpResult SaveFocusOnly(const std::string& path) const;

    // Pixels: `Height()` rows of `Stride()` bytes, bottom-up (the first row is the picture's
    // last line); each row holds `RowBytes()` bytes of pixels and then zero padding up to a
    // multiple of 4 bytes, the layout of a BMP file's rows.
    bool HasPixels() const { return pixels_ != nullptr; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    size_t RowBytes() const { return static_cast<size_t>(width_) * 3; }
    size_t Stride() const { return stride_; }
    size_t ImageSize() const { return stride_ * static_cast<size_t>(height_); }
    size_t PixelCount() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
    uint8_t* Bits() { return pixels_.get(); }
    const uint8_t* Bits() const { return pixels_.get(); }
    // The first byte of picture line `line` (0 = top), or null outside the picture.
    uint8_t* Line(int32_t line);
    const uint8_t* Line(int32_t line) const;
    // The colour of a pixel (red in bits 0..7); 0 outside the picture.
    uint32_t Pixel(int32_t x, int32_t line) const;

    FocusRect Focus() const { return focus_; }
    void SetFocus(const FocusRect& r) { focus_ = r; }
    // The focus rectangle clipped to the picture; false when nothing of it is inside.
    bool ClippedFocus(FocusRect& out) const;

    uint8_t PictureStructure() const { return pictureStructure_; }
    void SetPictureStructure(uint8_t s) { pictureStructure_ = s; }

    // The aspect-corrected display size and its scales, set by the decoder for the scaled view.
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    double scaleX = 1.0;
    double scaleY = 1.0;

  private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    size_t stride_ = 0;
    FocusRect focus_;
    uint8_t pictureStructure_ = kFrame;
    ZeroedBlock pixels_;
    std::unique_ptr<uint8_t[]> saved_;
};

}  // namespace bitloupe
