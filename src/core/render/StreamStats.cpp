#include "core/render/StreamStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/render/PictureFacts.h"
#include "core/syntax/MacroblockLayer.h"
#include "core/syntax/VideoTables.h"
#include "core/tree/ItemKinds.h"
#include "core/tree/ItemLookup.h"

namespace bitloupe {

namespace {

// Video bits in [start, end): in a program stream only those of the followed stream's payloads.
uint64_t VideoBits(const CStreamState& stream, uint64_t start, uint64_t end) {
    if (end <= start) return 0;
    std::vector<std::pair<uint64_t, uint64_t>> pieces, gaps;
    stream.SplitAtPayloads(start, end, pieces, gaps);
    uint64_t bits = 0;
    for (const auto& [from, to] : pieces) bits += to - from;
    return bits;
}

// How long a picture is shown, in frame periods: a field half a period, a repeated first field
// half a period more (in a progressive sequence a whole frame or two more).
double DisplayPeriods(const PictureStats& p, bool progressiveSequence) {
    if (p.structure != video_tables::kFramePicture) return 0.5;
    if (!p.repeatFirstField) return 1.0;
    if (progressiveSequence) return p.topFieldFirst ? 3.0 : 2.0;
    return 1.5;
}

void AddMacroblockFigures(const TreeStore& tree, const CStreamState& stream, TreeItem picture,
                          PictureStats& p) {
    p.macroblocksParsed = MacroblocksParsed(tree, picture);
    if (!p.macroblocksParsed) return;
    double quantiser = 0, vectorLength = 0;
    uint32_t coded = 0, vectors = 0;
    for (TreeItem s = tree.GetChildItem(picture); s; s = tree.GetNextSiblingItem(s)) {
        if (KindOf(tree.GetItemData(s)) != ItemKind::Slice) continue;
        for (TreeItem m = tree.GetChildItem(s); m; m = tree.GetNextSiblingItem(m)) {
            const ItemKind kind = KindOf(tree.GetItemData(m));
            if (kind == ItemKind::SkippedMacroblock) {
                ++p.skipped;
                continue;
            }
            if (kind != ItemKind::Macroblock) continue;
            const auto r = stream.macroblockRecords.find(m);
            if (r == stream.macroblockRecords.end()) continue;
            const MacroblockRecord& mb = r->second;
            ++coded;
            quantiser += mb.quantiser_scale;
            if (mb.macroblock_intra) {
                ++p.intra;
                continue;
            }
            const bool f = mb.macroblock_motion_forward, b = mb.macroblock_motion_backward;
            if (f && b)
                ++p.interpolated;
            else if (b)
                ++p.backward;
            else
                ++p.forward;  // a P macroblock without vectors predicts forward with zero
            for (int s2 = 0; s2 < 2; ++s2) {
                if (!(s2 ? b : f)) continue;
                for (int r2 = 0; r2 < mb.motionVectorCount; ++r2) {
                    vectorLength += std::hypot(mb.vector[r2][s2][0], mb.vector[r2][s2][1]);
                    ++vectors;
                }
            }
        }
    }
    p.mbMeanQuantiser = coded ? quantiser / coded : 0;
    p.meanVectorLength = vectors ? vectorLength / vectors : 0;
}

std::string TimeCodeText(const GopRecord& g) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", g.time_code_hours, g.time_code_minutes,
                  g.time_code_seconds, g.time_code_pictures);
    return text;
}

void Summarise(const CStreamState& stream, StreamStats& stats) {
    StreamSummary& s = stats.summary;
    const bool mpeg2 = stream.videoVersion == kMpeg2;
    const bool ps = stream.streamType == kProgramStream;
    s.kind = std::string(mpeg2 ? "MPEG-2" : "MPEG-1") +
             (ps ? " video in a program stream" : " video elementary stream");
    s.width = stream.horizontal_size;
    s.height = stream.vertical_size;
    const int aspect = stream.aspect_ratio_information & 15;
    s.aspect = mpeg2 ? video_tables::kAspectRatioNames[aspect]
                     : video_tables::kPelAspectRatioNames[aspect];
    if (s.aspect.size() > 1 && s.aspect.front() == '"')
        s.aspect = s.aspect.substr(1, s.aspect.size() - 2);
    s.frameRate = stats.frameRate;
    s.bitRate = stream.bitRate;
    s.vbvBufferBits = uint64_t{stream.vbvSize} * 1024;
    if (mpeg2) {
        const int pl = stream.profile_and_level_indication;
        s.profileLevel = (pl >> 7) ? "escape"
                                   : std::string(video_tables::kProfileNames[(pl >> 4) & 7]) + "@" +
                                         video_tables::kLevelNames[pl & 15];
        s.chromaFormat = video_tables::kChromaFormatNames[stream.chroma_format & 3];
        s.progressive = stream.progressive_sequence != 0;
    } else {
        s.chromaFormat = "4:2:0";
    }
    s.pictures = static_cast<uint32_t>(stats.pictures.size());
    uint64_t bits = 0;
    double periods = 0;
    for (const PictureStats& p : stats.pictures) {
        if (p.type < 5) ++s.typeCounts[p.type];
        bits += p.bits + p.headerBits;
        periods += DisplayPeriods(p, s.progressive);
        if (periods / std::max(stats.frameRate, 1e-9) >= 1.0 - 1e-9)
            s.peakBitrate = std::max(s.peakBitrate, p.bitrate);
        s.overflows += p.overflow;
        s.underflows += p.underflow;
    }
    s.duration = stats.frameRate > 0 ? periods / stats.frameRate : 0;
    s.meanBitrate = s.duration > 0 ? static_cast<double>(bits) / s.duration : 0;
    // A stream shorter than a second has no whole second to peak in.
    if (s.peakBitrate == 0) s.peakBitrate = s.meanBitrate;
    s.gops = static_cast<uint32_t>(stats.gops.size());
    uint64_t gopPictures = 0;
    for (const GopStats& g : stats.gops) {
        s.minGopLength = s.minGopLength ? std::min(s.minGopLength, g.pictures) : g.pictures;
        s.maxGopLength = std::max(s.maxGopLength, g.pictures);
        gopPictures += g.pictures;
    }
    s.meanGopLength = s.gops ? static_cast<double>(gopPictures) / s.gops : 0;
    if (ps) {
        for (int id = 0xBC; id <= 0xFF; ++id) {
            const uint32_t n = stream.counters.streamPacketCounts[id - 0xBC];
            if (n) s.streams.push_back({static_cast<uint8_t>(id), n, 0});
        }
        uint64_t videoBytes = 0;
        for (const auto& packet : stream.videoPacketTimes) {
            videoBytes += static_cast<uint64_t>(packet.payloadBytes);
            if (packet.pts < 0) continue;
            if (s.firstPts < 0) s.firstPts = packet.pts;
            s.lastPts = packet.pts;
        }
        for (auto& st : s.streams)
            if (st.streamId == 0xE0) st.bytes = videoBytes;
        s.firstScr = stream.firstScr;
        s.lastScr = stream.lastScr;
    }
}

}  // namespace

void ModelBuffer(std::vector<PictureStats>& pictures, double bitRate, double bufferSize,
                 double frameRate) {
    if (pictures.empty() || bitRate <= 0 || frameRate <= 0) return;
    const double period = 1.0 / frameRate;
    // A stream whose pictures carry vbv_delay fills the buffer at the bit rate without pause
    // (more than it holds is an overflow); without, the buffer fills until full and waits.
    const bool constant = pictures.front().vbvDelay != 0xFFFF;
    double fullness = constant ? pictures.front().vbvDelay * bitRate / 90000.0 : bufferSize;
    // Pictures leave the buffer one display period apart: a B picture's own, an I or P
    // picture's that of the I or P picture before it (it is shown after the B pictures).
    double previousReference = 1.0;
    for (PictureStats& p : pictures) {
        const double size = static_cast<double>(p.bits + p.headerBits);
        p.bufferBefore = fullness;
        p.stated = p.vbvDelay != 0xFFFF ? p.vbvDelay * bitRate / 90000.0 : -1;
        p.overflow = constant && fullness > bufferSize + 1;
        p.underflow = size > fullness + 1;
        p.disagrees = p.stated >= 0 && std::abs(p.stated - fullness) > 0.01 * bufferSize;
        // After a fault (bits lost or added, a wrong vbv_delay) the model takes up the stream's
        // own account again: each fault is told at its picture, not at every picture after it.
        if (constant && p.disagrees) fullness = p.stated;
        fullness = std::max(0.0, fullness - size);
        p.bufferAfter = fullness;
        const double own = DisplayPeriods(p, true);
        double periods = own;
        if (p.type != video_tables::kPictureB) {
            periods = previousReference;
            previousReference = own;
        }
        fullness += bitRate * periods * period;
        if (!constant) fullness = std::min(fullness, bufferSize);
    }
}

void StatsGatherer::Reset() {
    *this = StatsGatherer();
}

bool StatsGatherer::Update(const TreeStore& tree, const CStreamState& stream, uint64_t fileBytes,
                           bool ended) {
    StreamStats& stats = stats_;
    stats.frameRate = FrameRateOf(stream);
    stats.bufferSize = static_cast<double>(stream.vbvSize) * 1024.0;
    const bool mpeg2 = stream.videoVersion == kMpeg2;

    const std::vector<TreeItem> items = AllPictures(tree, stream);
    // The settled pictures must still be the tree's first ones: a tree parsed again from its
    // start is gathered again.
    const bool restarted = settled_ > items.size() ||
                           (settled_ && stats.pictures[settled_ - 1].item != items[settled_ - 1]);
    if (restarted) {
        stats = StreamStats();
        settled_ = 0;
    }
    // The pictures after the settled ones are gathered again, from the state they began in.
    stats.pictures.resize(settled_);
    while (!stats.gops.empty() && stats.gops.back().firstPicture > settled_) stats.gops.pop_back();
    if (!stats.gops.empty())
        stats.gops.back().pictures =
            static_cast<uint32_t>(settled_ + 1 - stats.gops.back().firstPicture);
    SettledState state = settled_ ? settledState_ : SettledState();
    if (settled_ == 0) {
        // Where the video's bits begin: the first placed item under the video root.
        ItemFacts videoRange;
        state.previousEnd = ItemRange(tree, stream.videoItem, videoRange) ? videoRange.start : 0;
    }
    // A picture is settled once another follows it, or when the parse has ended.
    const size_t settled =
        std::max(settled_, ended || items.empty() ? items.size() : items.size() - 1);
    const size_t firstChanged = settled_;
    stats.pictures.reserve(items.size());
    for (size_t i = settled_; i < items.size(); ++i) {
        if (i == settled) settledState_ = state;
        const TreeItem item = items[i];
        PictureStats p;
        p.item = item;
        p.number = static_cast<uint32_t>(i + 1);
        if (const auto r = stream.pictureRecords.find(item); r != stream.pictureRecords.end()) {
            p.type = r->second.picture_coding_type;
            p.temporalReference = r->second.temporal_reference;
            p.vbvDelay = r->second.vbv_delay;
        }
        if (const auto c = stream.pictureCodingRecords.find(item);
            c != stream.pictureCodingRecords.end()) {
            p.structure = c->second.picture_structure;
            p.topFieldFirst = c->second.top_field_first;
            p.repeatFirstField = c->second.repeat_first_field;
        }
        ItemFacts range;
        if (ItemRange(tree, item, range)) {
            // The last picture of data that stops without an end code runs to the end of the
            // file (in a program stream, to the end of the last payload); while the parse runs,
            // to what it has read of it.
            uint64_t next = 0;
            if (ended && i + 1 == items.size() && !NextItemOffset(tree, item, next)) {
                uint64_t end = fileBytes;
                if (!stream.videoPacketTimes.empty()) {
                    const auto& last = stream.videoPacketTimes.back();
                    end = last.payloadStart + static_cast<uint64_t>(last.payloadBytes);
                }
                range.end = std::max<uint64_t>(range.end, std::min(end, fileBytes));
            }
            p.offset = range.start / 8;
            p.bits = VideoBits(stream, range.start, range.end * 8);
            p.headerBits = VideoBits(stream, state.previousEnd, range.start);
            state.previousEnd = range.end * 8;
        }
        // The stamps of the packet the picture's start code begins in, when it is the first
        // picture to begin there (the picture the stamps belong to).
        const auto* packet = VideoPacketAt(stream, static_cast<int64_t>(p.offset));
        if (packet && static_cast<int64_t>(packet->payloadStart) > state.previousStart) {
            p.pts = packet->pts;
            p.dts = packet->dts;
        }
        state.previousStart = static_cast<int64_t>(p.offset);
        // Slices and their quantisers.
        double quantiser = 0;
        const auto coding = stream.pictureCodingRecords.find(item);
        const bool nonLinear =
            coding != stream.pictureCodingRecords.end() && coding->second.q_scale_type;
        for (TreeItem s = tree.GetChildItem(item); s; s = tree.GetNextSiblingItem(s)) {
            const auto r = stream.sliceRecords.find(s);
            if (r == stream.sliceRecords.end()) continue;
            ++p.slices;
            quantiser += MacroblockLayer::QuantiserScale(r->second.header.quantiser_scale_code,
                                                         mpeg2, nonLinear);
        }
        p.meanQuantiser = p.slices ? quantiser / p.slices : 0;
        AddMacroblockFigures(tree, stream, item, p);
        // GOPs.
        const TreeItem parent = tree.GetParentItem(item);
        if (tree.GetItemData(parent) == kind::kGop && parent != state.currentGop) {
            state.currentGop = parent;
            GopStats g;
            g.number = static_cast<uint32_t>(stats.gops.size() + 1);
            g.firstPicture = p.number;
            if (const auto r = stream.gopRecords.find(parent); r != stream.gopRecords.end()) {
                g.closed = r->second.closed_gop;
                g.brokenLink = r->second.broken_link;
                g.timeCode = TimeCodeText(r->second);
            }
            stats.gops.push_back(g);
            p.gopStart = true;
        }
        if (!stats.gops.empty() && state.currentGop) {
            p.gop = stats.gops.back().number;
            ++stats.gops.back().pictures;
        }
        stats.pictures.push_back(p);
    }
    if (settled == items.size()) settledState_ = state;
    settled_ = settled;

    // Display order: GOP by GOP, by temporal_reference (the two fields of a frame together, in
    // their coded order). GOP numbers rise in stream order, so only the GOPs from the first
    // picture gathered again are ordered again.
    size_t from = std::min(firstChanged, stats.pictures.size());
    while (from > 0 && from < stats.pictures.size() &&
           stats.pictures[from - 1].gop == stats.pictures[from].gop)
        --from;
    std::vector<size_t> order(stats.pictures.size() - from);
    for (size_t k = 0; k < order.size(); ++k) order[k] = from + k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const PictureStats& x = stats.pictures[a];
        const PictureStats& y = stats.pictures[b];
        if (x.gop != y.gop) return x.gop < y.gop;
        return x.temporalReference < y.temporalReference;
    });
    for (size_t k = 0; k < order.size(); ++k)
        stats.pictures[order[k]].display = static_cast<uint32_t>(from + k + 1);

    // The bit rate over the second of pictures ending with each one (stream order, each picture
    // taking its display periods).
    const bool progressive = !mpeg2 || stream.progressive_sequence;
    double time = 0, windowBits = 0;
    size_t first = 0;
    std::vector<double> ends(stats.pictures.size());
    auto size = [&](size_t k) {
        return static_cast<double>(stats.pictures[k].bits + stats.pictures[k].headerBits);
    };
    for (size_t i = 0; i < stats.pictures.size(); ++i) {
        time += DisplayPeriods(stats.pictures[i], progressive) / stats.frameRate;
        ends[i] = time;
        windowBits += size(i);
        // The bits of the pictures shown within the last second (before a second has passed,
        // of those shown so far: the rate climbs as a meter's would).
        while (first < i && ends[first] <= time - 1.0) windowBits -= size(first++);
        stats.pictures[i].bitrate = windowBits;
    }

    // A bit rate of all ones says none is given (a variable rate): there is no rate to model.
    if (stream.bit_rate_value != 0x3FFFF)
        ModelBuffer(stats.pictures, static_cast<double>(stream.bitRate), stats.bufferSize,
                    stats.frameRate);
    stats.summary = StreamSummary();
    Summarise(stream, stats);
    return restarted;
}

uint32_t StatsGatherer::RegatherMacroblocks(const TreeStore& tree, const CStreamState& stream,
                                            TreeItem picture) {
    for (PictureStats& p : stats_.pictures) {
        if (p.item != picture) continue;
        p.macroblocksParsed = false;
        p.mbMeanQuantiser = p.meanVectorLength = 0;
        p.intra = p.skipped = p.forward = p.backward = p.interpolated = 0;
        AddMacroblockFigures(tree, stream, picture, p);
        return p.number;
    }
    return 0;
}

StreamStats GatherStreamStats(const TreeStore& tree, const CStreamState& stream,
                              uint64_t fileBytes) {
    StatsGatherer gatherer;
    gatherer.Update(tree, stream, fileBytes, true);
    return gatherer.Stats();
}

std::string SummaryText(const StreamStats& stats) {
    const StreamSummary& s = stats.summary;
    std::string out;
    auto add = [&](const std::string& name, const std::string& value) {
        out += name;
        out.append(name.size() < 24 ? 24 - name.size() : 0, ' ');
        out += " " + value + "\n";
    };
    auto number = [](double v, int decimals) {
        char t[64];
        std::snprintf(t, sizeof t, "%.*f", decimals, v);
        return std::string(t);
    };
    add("Stream:", s.kind);
    add("Size:", std::to_string(s.width) + "x" + std::to_string(s.height));
    add("Aspect:", s.aspect);
    add("Frame rate:", number(s.frameRate, 3) + " Hz");
    add("Bit rate (header):", std::to_string(s.bitRate) + " bit/s");
    add("VBV buffer:", std::to_string(s.vbvBufferBits) + " bits");
    if (!s.profileLevel.empty()) add("Profile@Level:", s.profileLevel);
    add("Chroma format:", s.chromaFormat);
    add("Progressive sequence:", s.progressive ? "yes" : "no");
    add("Pictures:", std::to_string(s.pictures) + " (I " + std::to_string(s.typeCounts[1]) +
                         ", P " + std::to_string(s.typeCounts[2]) + ", B " +
                         std::to_string(s.typeCounts[3]) + ", D " +
                         std::to_string(s.typeCounts[4]) + ")");
    add("Duration:", number(s.duration, 3) + " s");
    add("Mean bit rate:", number(s.meanBitrate / 1000.0, 1) + " kbit/s");
    add("Peak bit rate (1 s):", number(s.peakBitrate / 1000.0, 1) + " kbit/s");
    add("GOPs:", std::to_string(s.gops) + " (length " + std::to_string(s.minGopLength) + " to " +
                     std::to_string(s.maxGopLength) + ", mean " + number(s.meanGopLength, 1) + ")");
    add("Buffer overflows:", std::to_string(s.overflows));
    add("Buffer underflows:", std::to_string(s.underflows));
    for (const auto& st : s.streams) {
        char name[32];
        std::snprintf(name, sizeof name, "Stream 0x%02X:", st.streamId);
        add(name, std::to_string(st.packets) + " packets" +
                      (st.bytes ? ", " + std::to_string(st.bytes) + " payload bytes" : ""));
    }
    if (s.firstScr >= 0)
        add("SCR range:",
            number(s.firstScr / 27e6, 3) + " s to " + number(s.lastScr / 27e6, 3) + " s");
    if (s.firstPts >= 0)
        add("PTS range:",
            number(s.firstPts / 90000.0, 3) + " s to " + number(s.lastPts / 90000.0, 3) + " s");
    return out;
}

}  // namespace bitloupe
