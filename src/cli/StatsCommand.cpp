#include "cli/StatsCommand.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "core/render/StreamStats.h"

namespace bitloupe::cli {

namespace {

void PrintUsage() {
    std::fprintf(stderr, "usage:\n%s", StatsUsage());
}

struct StatsArguments {
    std::string path;
    int mode = 0;  // index in kParseModeWords
    bool mbs = false;
    bool json = false;
    bool summary = false;
};

bool ReadStatsArguments(int argc, char** argv, StatsArguments& a) {
    using enum Complaint;
    int format = 0;
    const char* const formats[] = {"csv", "json", nullptr};
    const std::vector<Option> options = {
        Choice("--mode", kParseModeWords, a.mode).Complains(kNeedsValue, kUsage),
        Choice("--format", formats, format).Complains(kNeedsValue, kUsage),
        Flag("--mbs", a.mbs),
        Flag("--summary", a.summary),
    };
    ParsedArguments parsed;
    if (!ParseArguments(argc, argv, options, {PrintUsage}, parsed)) return false;
    if (parsed.path.empty()) {
        PrintUsage();
        return false;
    }
    a.path = parsed.path;
    a.json = format == 1;
    return true;
}

const char kTypeLetters[] = "?IPBD???";
const char* const kStructures[4] = {"", "top", "bottom", "frame"};

// The columns of a picture's row, in CSV order; the macroblock ones only with --mbs.
struct Column {
    const char* name;
    std::string (*value)(const PictureStats& p);
};

std::string Int(int64_t v) {
    return std::to_string(v);
}
std::string Real(double v) {
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", v);
    return t;
}

const Column kColumns[] = {
    {"picture", [](const PictureStats& p) { return Int(p.number); }},
    {"display", [](const PictureStats& p) { return Int(p.display); }},
    {"type", [](const PictureStats& p) { return std::string(1, kTypeLetters[p.type & 7]); }},
    {"structure", [](const PictureStats& p) { return std::string(kStructures[p.structure & 3]); }},
    {"offset", [](const PictureStats& p) { return Int(static_cast<int64_t>(p.offset)); }},
    {"bits", [](const PictureStats& p) { return Int(static_cast<int64_t>(p.bits)); }},
    {"header_bits", [](const PictureStats& p) { return Int(static_cast<int64_t>(p.headerBits)); }},
    {"temporal_reference", [](const PictureStats& p) { return Int(p.temporalReference); }},
    {"pts", [](const PictureStats& p) { return p.pts >= 0 ? Int(p.pts) : std::string(); }},
    {"dts", [](const PictureStats& p) { return p.dts >= 0 ? Int(p.dts) : std::string(); }},
    {"vbv_delay", [](const PictureStats& p) { return Int(p.vbvDelay); }},
    {"top_field_first", [](const PictureStats& p) { return Int(p.topFieldFirst); }},
    {"repeat_first_field", [](const PictureStats& p) { return Int(p.repeatFirstField); }},
    {"slices", [](const PictureStats& p) { return Int(p.slices); }},
    {"mean_quantiser", [](const PictureStats& p) { return Real(p.meanQuantiser); }},
    {"gop", [](const PictureStats& p) { return Int(p.gop); }},
    {"gop_start", [](const PictureStats& p) { return Int(p.gopStart); }},
    {"buffer_before", [](const PictureStats& p) { return Real(p.bufferBefore); }},
    {"buffer_after", [](const PictureStats& p) { return Real(p.bufferAfter); }},
    {"buffer_stated", [](const PictureStats& p) { return p.stated >= 0 ? Real(p.stated) : ""; }},
    {"overflow", [](const PictureStats& p) { return Int(p.overflow); }},
    {"underflow", [](const PictureStats& p) { return Int(p.underflow); }},
    {"vbv_disagrees", [](const PictureStats& p) { return Int(p.disagrees); }},
    {"bitrate", [](const PictureStats& p) { return Real(p.bitrate); }},
};
const Column kMacroblockColumns[] = {
    {"mb_mean_quantiser", [](const PictureStats& p) { return Real(p.mbMeanQuantiser); }},
    {"intra", [](const PictureStats& p) { return Int(p.intra); }},
    {"skipped", [](const PictureStats& p) { return Int(p.skipped); }},
    {"forward", [](const PictureStats& p) { return Int(p.forward); }},
    {"backward", [](const PictureStats& p) { return Int(p.backward); }},
    {"interpolated", [](const PictureStats& p) { return Int(p.interpolated); }},
    {"mean_vector_length", [](const PictureStats& p) { return Real(p.meanVectorLength); }},
};

// Text columns are quoted in JSON, empty ones left out.
bool IsText(const char* name) {
    return std::string(name) == "type" || std::string(name) == "structure";
}

void PrintPictures(const StreamStats& stats, const StatsArguments& a) {
    std::vector<const Column*> columns;
    for (const Column& c : kColumns) columns.push_back(&c);
    if (a.mbs)
        for (const Column& c : kMacroblockColumns) columns.push_back(&c);
    if (!a.json) {
        for (size_t i = 0; i < columns.size(); ++i)
            std::printf("%s%s", i ? "," : "", columns[i]->name);
        std::putchar('\n');
        for (const PictureStats& p : stats.pictures) {
            std::string row;
            for (size_t i = 0; i < columns.size(); ++i)
                row += (i ? "," : "") + columns[i]->value(p);
            std::puts(row.c_str());
        }
        return;
    }
    JsonOut json;
    json << "[";
    for (size_t k = 0; k < stats.pictures.size(); ++k) {
        json << (k ? ",\n{" : "\n{");
        bool first = true;
        for (const Column* c : columns) {
            const std::string v = c->value(stats.pictures[k]);
            if (v.empty()) continue;
            json << (first ? "" : ", ") << "\"" << c->name << "\": ";
            if (IsText(c->name))
                JsonString(json, v);
            else
                json << v;
            first = false;
        }
        json << "}";
    }
    json << (stats.pictures.empty() ? "]\n" : "\n]\n");
}

void PrintSummary(const StreamStats& stats, bool json) {
    if (!json) {
        std::fputs(SummaryText(stats).c_str(), stdout);
        return;
    }
    const StreamSummary& s = stats.summary;
    JsonOut out;
    out << "{\"stream\": ";
    JsonString(out, s.kind);
    out << ", \"width\": " << s.width << ", \"height\": " << s.height << ", \"aspect\": ";
    JsonString(out, s.aspect);
    out << ", \"frame_rate\": " << Real(s.frameRate) << ", \"bit_rate\": " << s.bitRate
        << ", \"vbv_buffer_bits\": " << s.vbvBufferBits << ", \"profile_level\": ";
    JsonString(out, s.profileLevel);
    out << ", \"chroma_format\": ";
    JsonString(out, s.chromaFormat);
    out << ", \"progressive\": " << (s.progressive ? "true" : "false")
        << ", \"pictures\": " << s.pictures << ", \"I\": " << s.typeCounts[1]
        << ", \"P\": " << s.typeCounts[2] << ", \"B\": " << s.typeCounts[3]
        << ", \"D\": " << s.typeCounts[4] << ", \"duration\": " << Real(s.duration)
        << ", \"mean_bitrate\": " << Real(s.meanBitrate)
        << ", \"peak_bitrate\": " << Real(s.peakBitrate) << ", \"gops\": " << s.gops
        << ", \"min_gop_length\": " << s.minGopLength << ", \"max_gop_length\": " << s.maxGopLength
        << ", \"mean_gop_length\": " << Real(s.meanGopLength) << ", \"overflows\": " << s.overflows
        << ", \"underflows\": " << s.underflows << ", \"streams\": [";
    for (size_t i = 0; i < s.streams.size(); ++i)
        out << (i ? ", " : "") << "{\"stream_id\": " << int{s.streams[i].streamId}
            << ", \"packets\": " << s.streams[i].packets << ", \"bytes\": " << s.streams[i].bytes
            << "}";
    out << "]";
    if (s.firstPts >= 0)
        out << ", \"first_pts\": " << s.firstPts << ", \"last_pts\": " << s.lastPts;
    if (s.firstScr >= 0)
        out << ", \"first_scr\": " << s.firstScr << ", \"last_scr\": " << s.lastScr;
    out << "}\n";
}

}  // namespace

const char* StatsUsage() {
    return "  bitloupe-cli stats FILE [--mode video|ps|both] [--mbs] [--format csv|json] "
           "[--summary]\n";
}

int RunStats(int argc, char** argv) {
    StatsArguments a;
    if (!ReadStatsArguments(argc, argv, a)) return kExitUsage;
    CliEngine engine;
    int exitCode = kExitOk;
    // The figures are of the video: a program stream's system layer is read along with it.
    const int mode =
        kParseModeOfWord[a.mode] == kModeProgramStreamOnly ? kModeBoth : kParseModeOfWord[a.mode];
    if (!engine.OpenAndParse(a.path, mode, a.mbs, exitCode)) return exitCode;
    const StreamStats stats = engine.Stats(a.path);
    if (a.summary)
        PrintSummary(stats, a.json);
    else
        PrintPictures(stats, a);
    return kExitOk;
}

}  // namespace bitloupe::cli
