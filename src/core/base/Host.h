// What the engine needs from its surroundings: message boxes and beeps (the host), the state
// of the parsing dialog, and a way to post command ids to the main window. The desktop
// application, the command-line tool and the tests each supply their own.
//
// Which thread calls what
// -----------------------
// The interface thread runs every window, command and decoder; a parse or an on-demand
// macroblock parse runs on the one parse thread (`ParseThread`).
//
// Host: the interface thread may ask anything and waits for the answer. The parse thread only
//   tells (`MsgButtons::Ok`) and beeps; it never asks a question and never touches the wait
//   cursor. A host may therefore show a message of the parse thread later, on the interface
//   thread, and return at once: the parse never waits for the user, so it can never wait for
//   an interface thread that is itself waiting at the pause gate.
// CommandPoster: callable from either thread; the command runs later on the interface thread.
//   The parse thread posts `msg::kCommandWorkerFinished` as its last act.
// ParseDialog: the interface thread writes the request (mode to pictureNumber, fileSize,
//   sliderRange) only while no parse runs, and the parse reads it as it starts and while it
//   runs. The parse reports progress through atomics (`UpdateProgress`,
//   `SetSelectionStartFromOffset`) that the interface polls, and ends with `ResetToIdle`,
//   which only sets the stop flag. Stop and pause are the interface thread's; the parse
//   thread waits at the pause gate between runs of scanned bytes and between macroblocks.
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
    virtual MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                                 MsgButtons buttons) = 0;
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

// The parsing dialog's state as the engine sees it (thread rules above). Pause is cooperative:
// the parse's scans call `WaitWhilePaused`, which blocks while the dialog is paused.
class ParseDialog {
  public:
    virtual ~ParseDialog() = default;

    // The request: control values, read when a parse starts.
    int mode = kModeVideoOnly;
    int64_t startOffset = 0;
    bool cleanTree = true;
    bool startFromPicture = false;
    int pictureKind = 0;  // 0 any, 1 I, 2 P, 3 B, 4 D
    int pictureNumber = 1;
    int64_t fileSize = 100;
    int sliderRange = 1000;
    // Whether the dialog is shown: progress is reported only then.
    std::atomic<bool> visible{true};

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
    // With the parse paused: lets it go on to its next gate and returns once it waits there
    // (or has ended), one scan at a time.
    void Step();
    void WaitWhilePaused() {
        if (paused_.load(std::memory_order_acquire)) Block();
    }
    // Marks whether a parse thread is running, for `SetPaused` to know whether to wait.
    void SetParseRunning(bool running);
    bool ParseRunning() const { return parseRunning_.load(std::memory_order_acquire); }

    // Sets up the slider for a newly opened file; returns the progress step in bytes.
    virtual int64_t SetupSlider(int64_t size);
    // Progress sink of the parse thread: the file offset reached, and the offset where the
    // parse really began after seeking a start picture (-1 for none).
    void UpdateProgress(int64_t offset) { progress_.store(offset, std::memory_order_relaxed); }
    void SetSelectionStartFromOffset(int64_t offset) {
        selectionStartOffset_.store(offset, std::memory_order_relaxed);
    }
    int64_t ProgressOffset() const { return progress_.load(std::memory_order_relaxed); }
    int64_t SelectionStartOffset() const {
        return selectionStartOffset_.load(std::memory_order_relaxed);
    }
    // The slider's arithmetic: the position of a file offset, and the offset of a position.
    int SliderPositionFor(int64_t offset) const;
    int64_t OffsetForSliderPosition(int position) const;
    // Ends the parse as the Stop button does: stopped, and let go if paused.
    void ResetToIdle();
    virtual void SetParseEnabled(bool enabled) { parseEnabled = enabled; }
    bool parseEnabled = false;

  private:
    void Block();
    std::atomic<bool> paused_{false};
    std::atomic<bool> parseRunning_{false};
    std::atomic<int64_t> progress_{0};
    std::atomic<int64_t> selectionStartOffset_{-1};
    std::mutex gateMutex_;
    std::condition_variable gateCv_;
    bool waiting_ = false;
    bool running_ = false;
    uint64_t generation_ = 0;      // counts resumes
    uint64_t waitGeneration_ = 0;  // the resume count when the parse thread reached the gate
};

}  // namespace bitloupe
