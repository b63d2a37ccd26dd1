// The DCT coefficients of one block after its DC term (all of them in a non-intra block), up to
// end_of_block: written once for the tree parse, which shows every code as an item, and for the
// decoder's silent reader, which keeps only the coefficients. Both read the same bits, stop at
// the same place on a broken code and inverse-quantise alike.
//
// A sink supplies what differs:
//   kItems                         true: codes are read through the full lookup, which hands
//                                  back their bits for display; false: most are found in one
//                                  step from the first ten bits of the window
//   RunLevel(coef)                 a run/level code was read
//   EndOfBlock(coef, valid)        end_of_block was read (valid: allowed in this block)
//   Escape() -> TreeItem           an escape code was read; its run and level are read next
//   EscapeRun(run, escape)
//   EscapeLevel(level, raw, bits, escape)   the level as coded (raw: its bits)
//   ForbiddenLevel(escape)         an MPEG-2 escape level of 0
//   Level(position, level)         a level placed at its natural position (after the clamp
//                                  to -2048..2048 that inverse quantisation applies)
#pragma once

#include <cstdint>

#include "core/syntax/Dequantise.h"
#include "core/syntax/VlcTables.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

// What the coefficient loop fills: the inverse-quantised coefficients (natural order, zero
// before the loop but for an intra DC term) and their running sum, under the block's scan and
// quantiser matrix.
struct CoefficientTarget {
    int16_t* F;
    int32_t sum;
    const uint8_t* scan;    // kScanTables, zig-zag or alternate
    const uint8_t* matrix;  // the selected quantiser matrix
    int quantiserScale;
    bool intraVlcFormat;
};

// Reads the coefficients into t, with MPEG-2 mismatch control after the last. False on a code
// not in the tables, a run past the block, a forbidden escape level or an end_of_block code the
// block may not use. Instantiated per block
// kind, so the arithmetic has no branches on it.
template <bool intra, bool mpeg2, class R, class Sink>
bool ReadCoefficients(R& r, CoefficientTarget& t, Sink& sink) {
    int n = intra ? 1 : 0;
    int32_t sum = t.sum;
    const vlc::DctTable table =
        mpeg2 && intra && t.intraVlcFormat ? vlc::DctTable::kOne : vlc::DctTable::kZeroNext;
    const vlc::FastDctEntry* fastFirst = vlc::FastDctTable(vlc::DctTable::kZeroFirst);
    const vlc::FastDctEntry* fastNext = vlc::FastDctTable(table);
    for (;;) {
        const bool first = n == 0;  // only a non-intra block starts at 0
        DctResult coef;
        vlc::FastDctEntry fast;
        uint32_t window = 0;
        if constexpr (!Sink::kItems) {
            window = r.PeekBits(32);
            // The table as a variable of its own: GCC 12 with UndefinedBehaviorSanitizer at -O0
            // reads `(c ? a : b)[i]` into a struct wrongly.
            const vlc::FastDctEntry* fastTable = first ? fastFirst : fastNext;
            fast = fastTable[window >> (32 - vlc::kFastDctBits)];
        }
        if (fast.length != 0) {
            coef.run = fast.run;
            coef.length = fast.length;
            if (fast.run < kDctEndOfBlock) {
                const bool negative = (window >> (31 - fast.length)) & 1;
                coef.level = negative ? static_cast<int16_t>(-fast.level) : fast.level;
                r.SkipBits(fast.length + 1);
            } else {
                coef.code = window >> (32 - fast.length);
                r.SkipBits(fast.length);
            }
        } else {
            coef = first ? GetDctCoefficient(r, true) : vlc::GetDct(r, table);
        }
        if (!coef.IsValid()) return false;
        if (coef.IsEndOfBlock()) {
            const bool valid = !mpeg2 || coef.length == 2 || (coef.length == 4 && coef.code == 6);
            sink.EndOfBlock(coef, valid);
            t.sum = sum;
            if (mpeg2 && valid) ApplyMismatchControl(t.F, sum);
            return valid;
        }
        int run, level;
        if (coef.IsEscape()) {
            const TreeItem escape = sink.Escape();
            run = static_cast<int>(r.ReadBits(6));
            sink.EscapeRun(run, escape);
            if (n + run >= 64) return false;
            if (mpeg2) {
                const int raw = static_cast<int>(r.ReadBits(12));
                if (raw == 0) {
                    sink.ForbiddenLevel(escape);
                    return false;
                }
                level = raw >= 2048 ? raw - 4096 : raw;
                sink.EscapeLevel(level, static_cast<uint32_t>(raw), 12, escape);
            } else {
                const int b = static_cast<int>(r.ReadBits(8));
                if (b != 0 && b != 128) {
                    level = b > 128 ? b - 256 : b;
                    sink.EscapeLevel(level, static_cast<uint32_t>(b), 8, escape);
                } else {
                    const int second = static_cast<int>(r.ReadBits(8));
                    level = b == 0 ? second : second - 256;
                    sink.EscapeLevel(level, static_cast<uint32_t>(b << 8 | second), 16, escape);
                }
            }
        } else {
            run = coef.run;
            level = coef.level;
            if (n + run >= 64) return false;
            sink.RunLevel(coef);
        }
        n += run;  // the skipped coefficients are still 0 in the fresh block
        const int p = t.scan[n];
        const int32_t f = DequantisedValue(level, t.quantiserScale, t.matrix[p], intra, !mpeg2);
        t.F[p] = static_cast<int16_t>(f);
        sum += f;
        sink.Level(p, level);
        ++n;
    }
}

// Calls ReadCoefficients for the block kind.
template <class R, class Sink>
bool ReadCoefficientsOf(R& r, CoefficientTarget& t, Sink& sink, bool intra, bool mpeg2) {
    if (intra)
        return mpeg2 ? ReadCoefficients<true, true>(r, t, sink)
                     : ReadCoefficients<true, false>(r, t, sink);
    return mpeg2 ? ReadCoefficients<false, true>(r, t, sink)
                 : ReadCoefficients<false, false>(r, t, sink);
}

// The sink of a reading that keeps nothing but the coefficients.
struct SilentCoefficientSink {
    static constexpr bool kItems = false;
    static void RunLevel(const DctResult&) {}
    static void EndOfBlock(const DctResult&, bool) {}
    static TreeItem Escape() { return 0; }
    static void EscapeRun(int, TreeItem) {}
    static void EscapeLevel(int, uint32_t, int, TreeItem) {}
    static void ForbiddenLevel(TreeItem) {}
    static void Level(int, int) {}
};

}  // namespace bitloupe
