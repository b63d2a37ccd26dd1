#include "core/base/Host.h"

#include <cstdio>

namespace bitloupe {

MsgAnswer RecordingHost::MessageBox(const std::string& text, const std::string& caption,
                                    MsgIcon icon, MsgButtons buttons) {
    messages.push_back({text, caption, icon, buttons});
    if (echoToStderr) std::fprintf(stderr, "%s\n", text.c_str());
    if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return answer;
}

void ParseDialog::SetPaused(bool paused) {
    std::unique_lock<std::mutex> lock(gateMutex_);
    paused_.store(paused, std::memory_order_release);
    if (paused) {
        // Wait until the parse thread stands at the gate again since the last resume (or has
        // ended): one that was let go must get past the gate before a new pause holds it, or a
        // quick pause after a resume could keep it from ever moving on.
        gateCv_.wait(lock,
                     [&] { return (waiting_ && waitGeneration_ == generation_) || !running_; });
    } else {
        ++generation_;
        gateCv_.notify_all();
    }
}

void ParseDialog::Step() {
    std::unique_lock<std::mutex> lock(gateMutex_);
    if (!paused_.load(std::memory_order_acquire)) return;
    // A new generation lets the waiting thread go while the gate stays shut behind it.
    ++generation_;
    gateCv_.notify_all();
    gateCv_.wait(lock, [&] { return (waiting_ && waitGeneration_ == generation_) || !running_; });
}

void ParseDialog::SetParseRunning(bool running) {
    std::lock_guard<std::mutex> lock(gateMutex_);
    running_ = running;
    parseRunning_.store(running, std::memory_order_release);
    gateCv_.notify_all();
}

void ParseDialog::Block() {
    std::unique_lock<std::mutex> lock(gateMutex_);
    if (!paused_.load(std::memory_order_acquire)) return;
    const uint64_t generation = generation_;
    waiting_ = true;
    waitGeneration_ = generation;
    gateCv_.notify_all();
    // Let go by a resume, even when a new pause came before this thread woke up.
    gateCv_.wait(lock, [&] {
        return !paused_.load(std::memory_order_acquire) || generation_ != generation;
    });
    waiting_ = false;
}

int64_t ParseDialog::SetupSlider(int64_t size) {
    fileSize = size;
    const int64_t step = sliderRange > 0 ? size / sliderRange : size;
    UpdateProgress(0);
    SetSelectionStartFromOffset(-1);
    return step < 1 ? 1 : step;
}

int ParseDialog::SliderPositionFor(int64_t offset) const {
    if (fileSize <= 0) return 0;
    return static_cast<int>(static_cast<double>(sliderRange) * static_cast<double>(offset) /
                            static_cast<double>(fileSize));
}

int64_t ParseDialog::OffsetForSliderPosition(int position) const {
    if (sliderRange <= 0) return 0;
    return static_cast<int64_t>(static_cast<double>(fileSize) * static_cast<double>(position) /
                                static_cast<double>(sliderRange));
}

void ParseDialog::ResetToIdle() {
    stopped.store(true);
    if (IsPaused()) SetPaused(false);
}

}  // namespace bitloupe
