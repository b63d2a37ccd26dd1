// The single worker thread that runs a parse driver, with the dialog's pause gate armed for
// as long as it runs.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "core/base/Host.h"
#include "core/base/Messages.h"

namespace bitloupe {

class ParseThread {
  public:
    // With a poster, the thread posts msg::kCommandWorkerFinished as its last act.
    explicit ParseThread(ParseDialog& dialog, CommandPoster* poster = nullptr)
        : dialog_(dialog), poster_(poster) {}
    ~ParseThread() { Join(); }
    ParseThread(const ParseThread&) = delete;
    ParseThread& operator=(const ParseThread&) = delete;

    // Starts the driver on a new thread; false when one is running already.
    bool Start(std::function<void()> driver) {
        if (Running()) return false;
        Join();
        running_ = true;
        dialog_.SetParseRunning(true);
        thread_ = std::thread([this, driver = std::move(driver)] {
            driver();
            dialog_.SetParseRunning(false);
            running_ = false;
            if (poster_) poster_->PostCommand(msg::kCommandWorkerFinished);
        });
        return true;
    }
    bool Running() const { return running_.load(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    ParseDialog& dialog_;
    CommandPoster* poster_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace bitloupe
