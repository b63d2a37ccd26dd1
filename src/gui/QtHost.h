// The engine's surroundings in the desktop application: message boxes, beeps and the wait
// cursor (the host), and command ids posted to the main window (the poster). Both are safe to
// call from the parse thread: its messages (it only ever tells, see Host.h) and its commands
// are queued to the interface thread, so the parse never waits for the user.
#pragma once

#include <QObject>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "core/base/Host.h"

namespace bitloupe {

class QtHost : public QObject, public Host, public CommandPoster {
    Q_OBJECT

  public:
    explicit QtHost(QWidget* owner);

    MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    void Beep() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void PostCommand(int id) override;

    // Where posted commands go (the main window's command table).
    void SetCommandHandler(std::function<void(int)> handler) { handler_ = std::move(handler); }

    // For scripts and tests: no dialog is shown; every message is written to stderr (when
    // echo is set), remembered, and answered with its default button (Yes for a question)
    // unless `answer` says otherwise.
    bool automatic = false;
    bool echo = false;
    MsgAnswer answer = MsgAnswer::Yes;
    std::vector<RecordingHost::Message> messages;

  private:
    MsgAnswer Show(const RecordingHost::Message& m);

    QWidget* owner_;
    std::function<void(int)> handler_;
    int waitDepth_ = 0;
};

}  // namespace bitloupe
