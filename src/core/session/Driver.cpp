// Opening a file, finding out what it holds, and the two parse drivers that scan it for start
// codes and hand each code to the layer that owns it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "core/base/Messages.h"
#include "core/session/SyntaxParser.h"
#include "core/syntax/StartCodes.h"

namespace bitloupe {

namespace {

// Hex digits for file offsets: the base-16 logarithm of the size rounded up, made even.
int OffsetDigitsFor(int64_t size) {
    int digits = 0;
    uint64_t reach = 1;
    while (reach < static_cast<uint64_t>(size) && digits < 16) {
        reach = digits == 15 ? UINT64_MAX : reach * 16;
        ++digits;
    }
    if (digits & 1) ++digits;
    return digits;
}

// "Tuesday, 8, December, 2026, 4:50:15 AM": local time with no leading zeros.
std::string FormatFileTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char weekday[32], month[32], ampm[8];
    std::strftime(weekday, sizeof weekday, "%A", &tm);
    std::strftime(month, sizeof month, "%B", &tm);
    std::strftime(ampm, sizeof ampm, "%p", &tm);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s, %d, %s, %d, %d:%d:%d %s", weekday, tm.tm_mday, month,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, ampm);
    return buf;
}

bool ReadFileStatus(const std::string& path, FileStatus& status) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    status.modified = st.st_mtime;
    status.accessed = st.st_atime;
    status.created = st.st_ctime;
#ifdef STATX_BTIME
    struct statx stx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME))
        status.created = static_cast<std::time_t>(stx.stx_btime.tv_sec);
#endif
    status.size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
    status.attribute = 0;
    const bool writable = (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
    if (!writable) status.attribute |= 0x01;
    if (S_ISDIR(st.st_mode)) status.attribute |= 0x10;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    status.fullPath = ec ? path : full.lexically_normal().string();
    return true;
}

const char* const kAttributeNames[] = {" read-only", " hidden",    " system",
                                       " volume",    " directory", " archive"};

}  // namespace

bool CSyntaxParser::OpenFile(const std::string& path) {
    file.Close();
    FileStatus status;
    if (!ReadFileStatus(path, status) || !file.Open(path)) {
        host.MessageBox(msg::kFailedToOpenFile, msg::kAppCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    return OpenReader(status);
}

bool CSyntaxParser::OpenMemory(const uint8_t* data, size_t size, const std::string& name) {
    file.Close();
    FileStatus status;
    status.size = static_cast<int64_t>(size);
    status.fullPath = name;
    file.OpenMemory(data, size);
    return OpenReader(status);
}

bool CSyntaxParser::OpenReader(const FileStatus& status) {
    stream.Reset();
    v = VideoState();
    decoder.outOfMemory = false;
    system.ResetParse();
    fileStatus = status;
    emit.offsetDigits = OffsetDigitsFor(status.size);
    tree.DeleteAllItems();
    AddFileInfo();
    DetectStreamType();

    if (stream.streamType == kUnknownStream || stream.mpegVersion == kMpegUnknown) {
        stream.invalidFile = true;
        file.Close();
        tree.SetItemImage(stream.fileItem, image::kInvalidFile);
        dialog.SetParseEnabled(false);
        host.MessageBox(msg::kNotValidMpeg, msg::kAppCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    if (stream.streamType == kTransportStream) {
        stream.invalidFile = true;
        file.Close();
        dialog.SetParseEnabled(false);
        tree.InsertItem("Transport Stream (MPEG-2, to be supported)", image::kTransportStream, 0,
                        kTreeRoot);
        host.MessageBox(msg::kTransportStreamUnsupported, msg::kAppCaption, MsgIcon::None,
                        MsgButtons::Ok);
        return false;
    }
    stream.invalidFile = false;
    DetectVideoVersion();
    AddStreamTypeItem();
    dialog.visible = true;
    dialog.SetParseEnabled(true);
    progressStep = dialog.SetupSlider(status.size);
    ParseSequenceLevel(true);
    return true;
}

void CSyntaxParser::DetectStreamType() {
    const bool report = file.reportProgress;
    file.reportProgress = false;
    file.Seek(0);
    file.FillChunk();
    stream.mpegVersion = kMpegUnknown;
    stream.streamType = kUnknownStream;

    if (file.CurrentByte() == 0x47 && !file.AtEnd()) {
        stream.streamType = kTransportStream;
        stream.mpegVersion = kMpeg2;
    } else {
        uint32_t value = file.ReadBits(16) << 16;
        value |= file.ReadBits(16);
        while ((value == 0 || value == 1) && !file.AtEnd() && file.fileOffset() <= 2048)
            value = (value << 8) | file.ReadByte();
        if (value == start_code::kPack) {
            stream.streamType = kProgramStream;
            if (file.PeekBits(2) == 1)
                stream.mpegVersion = kMpeg2;
            else if (file.PeekBits(4) == 2)
                stream.mpegVersion = kMpeg1;
        } else if (value == start_code::kSequenceHeader) {
            stream.streamType = kPureVideoStream;
            // The first start code after the sequence header that is not a system code tells
            // the version: an extension means MPEG-2.
            while (!file.AtEnd() && file.fileOffset() <= 2048) {
                value = (value << 8) | file.ReadByte();
                if (value >= start_code::kVideoFirst && value <= start_code::kVideoLast) {
                    stream.mpegVersion = value == start_code::kExtension ? kMpeg2 : kMpeg1;
                    break;
                }
            }
        }
    }
    stream.videoVersion = stream.mpegVersion;
    file.Seek(0);
    file.FillChunk();
    file.reportProgress = report;
}

void CSyntaxParser::DetectVideoVersion() {
    if (stream.streamType != kProgramStream) return;
    // The video of a program stream need not be of the packs' version: an MPEG-1 system stream
    // may carry MPEG-2 video and a DVD's program stream MPEG-1 video. The code after the video's
    // first sequence header tells, as for a video stream; without a sequence header in the
    // first megabytes the packs' version stands.
    constexpr int64_t kSearchBytes = 16 << 20;
    const bool report = reportProgress;
    reportProgress = false;
    silentSystemLayer = true;
    SetupProgress();
    PositionVideoReader(0);
    uint32_t acc = 0xFFFFFFFFu;
    bool sequence = false;
    while (!AtEnd() && GetBytePosition() < kSearchBytes) {
        if (!ScanStartCode(acc, start_code::kVideoFirst, start_code::kVideoLast)) continue;
        if (sequence) {
            stream.videoVersion = acc == start_code::kExtension ? kMpeg2 : kMpeg1;
            break;
        }
        sequence = acc == start_code::kSequenceHeader;
        acc = 0xFFFFFFFFu;
    }
    reportProgress = report;
    SetupProgress();
}

void CSyntaxParser::AddFileInfo() {
    const TreeItem item =
        tree.InsertItem(fileStatus.fullPath, image::kFile, kind::kFile, kTreeRoot, kInsertLast);
    stream.fileItem = item;
    const int64_t size = fileStatus.size;
    std::string sizeText;
    if (size == 1)
        sizeText = "Size: 1 byte";
    else
        sizeText = "Size: " + GroupDigits(static_cast<uint64_t>(size < 0 ? 0 : size)) + " bytes";
    auto add = [&](const std::string& text) {
        emit.InsertVirtual(text.data(), static_cast<int>(text.size()), item);
    };
    add(sizeText);
    add("Data Created: " + FormatFileTime(fileStatus.created));
    add("Data Modified: " + FormatFileTime(fileStatus.modified));
    add("Data Accessed: " + FormatFileTime(fileStatus.accessed));
    std::string attr = "Attribute:";
    if (fileStatus.attribute == 0) {
        attr += " normal";
    } else {
        for (int bit = 0; bit < 6; ++bit)
            if (fileStatus.attribute & (1 << bit)) attr += kAttributeNames[bit];
    }
    add(attr);
}

void CSyntaxParser::AddStreamTypeItem() {
    std::string text = "MPEG-Stream Type:";
    text += stream.mpegVersion == kMpeg2 ? " MPEG-2" : " MPEG-1";
    text += stream.streamType == kProgramStream ? " (Program Stream)" : " (Pure Video Stream)";
    emit.InsertVirtual(text.data(), static_cast<int>(text.size()), stream.fileItem);
}

void CSyntaxParser::InsertSystemItem() {
    stream.systemItem = tree.InsertItem("Program Stream", image::kProgramStream, 0, kTreeRoot,
                                        stream.fileItem ? stream.fileItem : kInsertLast);
}

void CSyntaxParser::InsertVideoItem() {
    std::string text =
        stream.streamType == kProgramStream ? "Elementary Video Stream #1" : "Pure Video Stream";
    text += stream.videoVersion == kMpeg2 ? " (MPEG-2)" : " (MPEG-1)";
    stream.videoItem = tree.InsertItem(text, image::kVideoRoot, kind::kVideoRoot, kTreeRoot,
                                       stream.systemItem ? stream.systemItem : kInsertLast);
    // The video root doubles as the root of stream 0xE0's packets.
    stream.streamRootItems[0xE0 - 0xBC] = stream.videoItem;
}

void CSyntaxParser::DeleteSystemItem() {
    if (!stream.systemItem) return;
    tree.DeleteItem(stream.systemItem);
    stream.systemItem = 0;
    stream.ClearSystemMaps();
}

void CSyntaxParser::DeleteVideoItem() {
    if (!stream.videoItem) return;
    tree.DeleteItem(stream.videoItem);
    stream.videoItem = 0;
    stream.ClearVideoMaps();
}

void CSyntaxParser::SetupProgress() {
    file.progressStep = payload.progressStep = progressStep;
    file.reportProgress = reportProgress;
    payload.reportProgress = reportProgress;
    file.progressAllowed =
        dialog.visible && (!UsesPayload() || dialog.mode == kModeProgramStreamOnly);
}

void CSyntaxParser::ParseSequenceLevel(bool ui) {
    if (ui) {
        dialog.UpdateProgress(0);
        dialog.SetSelectionStartFromOffset(-1);
        if (stream.streamType == kProgramStream) {
            DeleteSystemItem();
            InsertSystemItem();
        } else {
            stream.systemItem = 0;
        }
        DeleteVideoItem();
        InsertVideoItem();
        tree.SelectItem(stream.videoItem);
    }
    silentSystemLayer = true;
    reportProgress = false;
    SetupProgress();
    stream.ResetParse();
    video.ResetParse();
    PositionVideoReader(0);

    uint32_t acc = 0xFFFFFFFFu;
    while (!AtEnd()) {
        if (!ScanStartCode(acc, start_code::kVideoFirst, start_code::kVideoLast)) continue;
        // Picture, slice, user data or GOP: the sequence level is over.
        if (!ParseSequenceLevelCode(acc)) break;
        acc = 0xFFFFFFFFu;
    }
    if (ui) {
        if (stream.systemItem) tree.Collapse(stream.systemItem);
        tree.Expand(stream.videoItem);
        tree.EnsureVisible(stream.videoItem);
    }
}

void CSyntaxParser::BeginSystemParse() {
    if (stream.videoItem) tree.Collapse(stream.videoItem);
    if (dialog.cleanTree && stream.systemItem) DeleteSystemItem();
    if (!stream.systemItem) InsertSystemItem();
    tree.SelectItem(stream.systemItem);
    begun_ = true;
}

void CSyntaxParser::ParseSystemStream() {
    if (!begun_) BeginSystemParse();
    begun_ = false;

    const int64_t start = dialog.startOffset;
    if (start > 0) emit.InsertVirtual("......", stream.systemItem);

    reportProgress = true;
    SetupProgress();
    stream.ResetParse();
    video.ResetParse();
    system.ResetParse();
    SeekTo(static_cast<uint64_t>(start < 0 ? 0 : start), 0, 0, true);

    uint32_t acc = 0xFFFFFFFFu;
    while (!file.AtEnd()) {
        if (ShouldStop()) break;
        if (!file.ScanStartCode(acc, start_code::kSystemFirst, start_code::kLast)) continue;
        const uint32_t code = acc;
        acc = 0xFFFFFFFFu;
        const StartCode what = StartCodeOf(code);
        if (what == StartCode::EndOfSystemStream) {
            system.ParseEndOfSystemStream();
            break;
        }
        if (what == StartCode::Pack) {
            system.ParsePackHeader(true);
        } else if (what == StartCode::SystemHeader) {
            system.ParseSystemHeader(true);
        } else {
            system.ParsePesPacket(static_cast<uint8_t>(code & 0xFF));
            system.StepOverPayload(system.LastPacketItem());
        }
        if (stream.counters.packCount == 1 && system.currentPackItem)
            tree.EnsureVisible(system.currentPackItem);
    }

    if (start > 0) emit.InsertVirtual("......", stream.systemItem);
    ReportOutOfMemory();
    if (!dialog.IsStopped()) dialog.ResetToIdle();
    if (system.firstVideoPacketItem) {
        tree.SelectItem(system.firstVideoPacketItem);
        tree.Expand(system.firstVideoPacketItem);
    }
    tree.EnsureVisible(stream.systemItem);
}

void CSyntaxParser::BeginVideoParse() {
    const bool programStream = UsesPayload();
    const bool both = programStream && dialog.mode == kModeBoth;

    if (programStream && both) {
        if (dialog.cleanTree && stream.systemItem) DeleteSystemItem();
        if (!stream.systemItem) InsertSystemItem();
    } else if (programStream && stream.systemItem) {
        tree.Collapse(stream.systemItem);
    }
    if (dialog.cleanTree && stream.videoItem) DeleteVideoItem();
    if (!stream.videoItem) InsertVideoItem();
    tree.SelectItem(stream.videoItem);
    begun_ = true;
}

void CSyntaxParser::ParseVideoStream() {
    if (!begun_) BeginVideoParse();
    begun_ = false;
    const bool both = UsesPayload() && dialog.mode == kModeBoth;
    const int64_t start = StartVideoParse(both);

    VideoWalk walk;
    walk.parseNow = start == 0 && !dialog.startFromPicture;
    uint32_t acc = 0xFFFFFFFFu;
    while (!AtEnd()) {
        if (ShouldStop()) {
            walk.stoppedByUser = true;
            break;
        }
        if (!ScanStartCode(acc, start_code::kVideoFirst, start_code::kVideoLast)) continue;
        const uint32_t code = acc;
        acc = 0xFFFFFFFFu;
        ParseVideoCode(code, walk);
    }
    FinishVideoParse(walk, both);
}

int64_t CSyntaxParser::StartVideoParse(bool both) {
    silentSystemLayer = !both;
    v.currentGopItem = v.currentPictureItem = stream.videoItem;
    v.firstPictureItem = 0;

    const int64_t start = dialog.startOffset < 0 ? 0 : dialog.startOffset;
    if (start >= 1 && dialog.cleanTree) {
        // List the sequence-level headers again before jumping into the stream.
        const bool silent = silentSystemLayer;
        ParseSequenceLevel(false);
        silentSystemLayer = silent;
    } else {
        stream.ResetParse();
    }
    if (start > 0) {
        emit.InsertVirtual("......", stream.videoItem);
        if (both) emit.InsertVirtual("......", stream.systemItem);
    }

    reportProgress = true;
    SetupProgress();
    system.ResetParse();
    PositionVideoReader(start);
    video.ResetParse();
    return start;
}

bool CSyntaxParser::ParseSequenceLevelCode(uint32_t code) {
    switch (StartCodeOf(code)) {
        case StartCode::Reserved:
            video.ParseReservedStartCode(code);
            return true;
        case StartCode::SequenceHeader:
            video.ParseSequenceHeader();
            return true;
        case StartCode::SequenceError:
            video.ParseSequenceError();
            return true;
        case StartCode::Extension:
            video.ParseExtension();
            return true;
        case StartCode::SequenceEnd:
            video.ParseSequenceEnd();
            return true;
        default:
            return false;
    }
}

void CSyntaxParser::ParseVideoCode(uint32_t code, VideoWalk& walk) {
    switch (StartCodeOf(code)) {
        case StartCode::Picture:
            ParsePictureStart(walk);
            break;
        case StartCode::Slice:
            if (walk.parseNow) video.ParseSlice(code);
            break;
        case StartCode::UserData:
            video.ParseUserData();
            break;
        case StartCode::SequenceEnd:
            walk.sequenceEnded = true;
            video.ParseSequenceEnd();
            break;
        case StartCode::Group:
            if (walk.parseNow) {
                tree.Collapse(v.currentGopItem);
                tree.Collapse(v.currentPictureItem);
            } else if (v.currentGopItem != stream.videoItem) {
                // A GOP passed over while seeking the start picture.
                tree.DeleteItemLater(v.currentGopItem);
                v.currentGopItem = v.currentPictureItem = stream.videoItem;
            }
            if (dialog.startFromPicture && stream.counters.gopCount == 0)
                emit.InsertVirtual("......", stream.videoItem);
            video.ParseGopHeader();
            break;
        default:
            ParseSequenceLevelCode(code);
            break;
    }
}

void CSyntaxParser::ParsePictureStart(VideoWalk& walk) {
    tree.Collapse(v.currentPictureItem);
    video.ParsePictureHeader();
    if (!walk.parseNow && dialog.startFromPicture) {
        const int kindIndex = dialog.pictureKind;
        const uint32_t count = kindIndex >= 1 && kindIndex <= 4
                                   ? stream.counters.typeCounts[kindIndex]
                                   : stream.counters.pictureCount;
        if (count < static_cast<uint32_t>(dialog.pictureNumber)) {
            // Passed over on the way to the start picture.
            if (v.currentPictureItem != v.currentGopItem)
                tree.DeleteItemLater(v.currentPictureItem);
            v.currentPictureItem = v.currentGopItem;
            return;
        }
    }
    const bool justStarted = !walk.parseNow;
    walk.parseNow = true;
    if (!v.firstPictureItem) v.firstPictureItem = v.currentPictureItem;
    if (justStarted) {
        dialog.SetSelectionStartFromOffset(GetBytePosition());
        if (v.picturesInGop >= 2) {
            // Marks the pictures passed over, right after the GOP header.
            const TreeItem first = tree.GetChildItem(v.currentGopItem);
            tree.InsertItemLater("......", image::kVirtual, kind::kVirtual, v.currentGopItem,
                                 first ? first : kInsertFirst);
        }
    }
}

void CSyntaxParser::FinishVideoParse(const VideoWalk& walk, bool both) {
    if (walk.stoppedByUser) {
        tree.Collapse(v.currentGopItem);
        tree.Collapse(v.currentPictureItem);
    }
    if (!ReportOutOfMemory() && AllocatePictureBuffers && !AllocatePictureBuffers()) {
        host.MessageBox(msg::kOutOfMemory, msg::kWarningCaption, MsgIcon::None, MsgButtons::Ok);
    }
    if (tree.GetParentItem(v.firstPictureItem) != v.currentGopItem) tree.Collapse(v.currentGopItem);
    if (v.currentPictureItem != v.firstPictureItem) tree.Collapse(v.currentPictureItem);
    if (!dialog.IsStopped()) dialog.ResetToIdle();
    if (!walk.sequenceEnded) {
        emit.InsertVirtual("......", stream.videoItem);
        if (both) emit.InsertVirtual("......", stream.systemItem);
    }
    if (both) tree.Collapse(stream.systemItem);
    v.currentPictureItem = v.firstPictureItem;
    if (v.firstPictureItem) {
        tree.SelectItem(v.firstPictureItem);
        tree.Expand(v.firstPictureItem);
        tree.EnsureVisible(v.firstPictureItem);
    }
    tree.EnsureVisible(stream.videoItem);
}

}  // namespace bitloupe
