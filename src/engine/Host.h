// What the engine needs from its surroundings: message boxes and beeps (the host), the state
// of the parsing dialog, and a way to post command ids to the main window. The desktop
// application, the command-line tool and the tests each supply their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace bitloupe {

enum class MsgIcon { None, Error, Warning, Question, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

class Host {
public:
    virtual ~Host() = default;
    virtual MsgAnswer MessageBox(const std::string& text, const std::string& caption,
                                 MsgIcon icon, MsgButtons buttons) = 0;
    virtual void Beep() = 0;
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}
};

// Remembers every message and beep; answers questions with `answer`. Optionally echoes each
// message text to stderr (the command-line tool does).
class RecordingHost : public Host {
public:
    struct Message {
        std::string text;
        std::string caption;
        MsgIcon icon;
        MsgButtons buttons;
    };
    MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    void Beep() override { ++beeps; }

    std::vector<Message> messages;
    int beeps = 0;
    MsgAnswer answer = MsgAnswer::Yes;
    bool echoToStderr = false;
};

class CommandPoster {
public:
    virtual ~CommandPoster() = default;
    virtual void PostCommand(int id) = 0;
};

class RecordingPoster : public CommandPoster {
public:
    void PostCommand(int id) override { posted.push_back(id); }
    std::vector<int> posted;
};

// Parsing modes of the dialog.
inline constexpr int kModeProgramStreamOnly = 0;
inline constexpr int kModeVideoOnly = 1;
inline constexpr int kModeBoth = 2;

// The parsing dialog's state as the engine sees it. The flags are written by the user-interface
// thread and read by the parse thread, hence atomics. Pause is cooperative: the parse's byte
// scans call `WaitWhilePaused`, which blocks while the dialog is paused.
class ParseDialog {
public:
    virtual ~ParseDialog() = default;

    // Control values, read when a parse starts.
    int mode = kModeVideoOnly;
    int64_t startOffset = 0;
    bool cleanTree = true;
    bool startFromPicture = false;
    int pictureKind = 0;  // 0 any, 1 I, 2 P, 3 B, 4 D
    int pictureNumber = 1;
    int64_t fileSize = 100;
    int sliderRange = 1000;
    int sliderPosition = 0;
    int selectionStart = 0;
    int selectionEnd = 0;  // selection range selectionStart..selectionEnd, empty when equal
    bool visible = true;

    std::atomic<bool> stopped{true};

    // Called when a parse starts (the Parse button).
    void BeginParse() {
        stopped.store(false);
        paused_.store(false);
    }
    bool IsStopped() const { return stopped.load(std::memory_order_relaxed); }
    bool IsPaused() const { return paused_.load(std::memory_order_acquire); }

    // Pause gate: `SetPaused(true)` makes the parse thread wait at its next scanned byte and
    // returns once it is waiting (or once no parse holds the gate), so the caller may then use
    // the parser. `SetPaused(false)` lets it go on.
    void SetPaused(bool paused);
    void WaitWhilePaused() {
        if (paused_.load(std::memory_order_acquire)) Block();
    }
    // Marks whether a parse thread is running, for `SetPaused` to know whether to wait.
    void SetParseRunning(bool running);

    // Sets up the slider for a newly opened file; returns the progress step in bytes.
    int64_t SetupSlider(int64_t size);
    // Moves the progress indicator to the given file offset.
    virtual void UpdateProgress(int64_t offset);
    void SetSelectionStartFromOffset();
    // Returns the dialog to idle: stopped, the Parse button enabled again.
    virtual void ResetToIdle();
    virtual void SetParseEnabled(bool enabled) { parseEnabled = enabled; }
    bool parseEnabled = false;

private:
    void Block();
    std::atomic<bool> paused_{false};
    std::mutex gateMutex_;
    std::condition_variable gateCv_;
    bool waiting_ = false;
    bool running_ = false;
};

}  // namespace bitloupe
