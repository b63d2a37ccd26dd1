#include "core/syntax/PictureJob.h"

#include "core/base/Messages.h"

namespace bitloupe {

const char* GatherPictureJob(const CStreamState& records, TreeItem picture, PictureJob& job) {
    job = PictureJob();
    job.picture = picture;
    const auto header = records.pictureRecords.find(picture);
    if (header == records.pictureRecords.end()) return msg::kPictureHeaderLost;
    job.header = header->second;
    if (const SequenceParameters* sequence = records.SequenceOf(job.header)) {
        job.sequence = *sequence;
        job.hasSequence = true;
    }
    const auto quant = records.quantMatrixRecords.find(picture);
    if (quant != records.quantMatrixRecords.end()) {
        job.quant = quant->second;
        job.hasQuant = true;
    }
    if (records.videoVersion != kMpeg2) return nullptr;
    const auto coding = records.pictureCodingRecords.find(picture);
    if (coding == records.pictureCodingRecords.end()) return msg::kPictureCodingExtensionLost;
    if (!job.hasQuant) return msg::kQuantMatrixExtensionLost;
    job.coding = coding->second;
    job.hasCoding = true;
    const auto display = records.pictureDisplayRecords.find(picture);
    if (display != records.pictureDisplayRecords.end()) {
        job.display = display->second;
        job.hasDisplay = true;
    }
    return nullptr;
}

}  // namespace bitloupe
