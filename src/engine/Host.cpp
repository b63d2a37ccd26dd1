#include "engine/Host.h"

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
        // Wait until the parse thread stands at the gate, or has ended.
        gateCv_.wait(lock, [&] { return waiting_ || !running_; });
    } else {
        gateCv_.notify_all();
    }
}

void ParseDialog::SetParseRunning(bool running) {
    std::lock_guard<std::mutex> lock(gateMutex_);
    running_ = running;
    gateCv_.notify_all();
}

void ParseDialog::Block() {
    std::unique_lock<std::mutex> lock(gateMutex_);
    if (!paused_.load(std::memory_order_acquire)) return;
    waiting_ = true;
    gateCv_.notify_all();
    gateCv_.wait(lock, [&] { return !paused_.load(std::memory_order_acquire); });
    waiting_ = false;
}

int64_t ParseDialog::SetupSlider(int64_t size) {
    fileSize = size;
    if (sliderPosition > 0) {
        sliderPosition = 0;
        selectionStart = selectionEnd = 0;
    }
    const int64_t step = sliderRange > 0 ? size / sliderRange : size;
    UpdateProgress(0);
    return step < 1 ? 1 : step;
}

void ParseDialog::UpdateProgress(int64_t offset) {
    if (fileSize <= 0) return;
    const int pos = static_cast<int>(static_cast<double>(sliderRange) *
                                     static_cast<double>(offset) / static_cast<double>(fileSize));
    if (pos == sliderPosition) return;
    sliderPosition = pos;
    if (!IsStopped() && !IsPaused()) {
        if (selectionStart < pos) {
            selectionEnd = pos;
        } else {
            selectionEnd = selectionStart;
        }
    }
}

void ParseDialog::SetSelectionStartFromOffset() {
    if (fileSize <= 0) return;
    selectionStart = static_cast<int>(static_cast<double>(sliderRange) *
                                      static_cast<double>(startOffset) /
                                      static_cast<double>(fileSize));
}

void ParseDialog::ResetToIdle() {
    stopped.store(true);
    if (IsPaused()) SetPaused(false);
    parseEnabled = true;
}

}  // namespace bitloupe
