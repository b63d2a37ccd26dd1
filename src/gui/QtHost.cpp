#include "gui/QtHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

namespace bitloupe {

QtHost::QtHost(QWidget* owner) : QObject(owner), owner_(owner) {}

MsgAnswer QtHost::MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                             MsgButtons buttons) {
    RecordingHost::Message m{text, caption, icon, buttons};
    if (QThread::currentThread() != thread()) {
        // The parse thread only tells: show it on the interface thread when it gets there.
        QMetaObject::invokeMethod(
            this, [this, m] { Show(m); }, Qt::QueuedConnection);
        return MsgAnswer::Ok;
    }
    return Show(m);
}

MsgAnswer QtHost::Show(const RecordingHost::Message& m) {
    messages.push_back(m);
    if (echo) std::fprintf(stderr, "%s: %s\n", m.caption.c_str(), m.text.c_str());
    if (automatic) return m.buttons == MsgButtons::Ok ? MsgAnswer::Ok : answer;

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (m.icon) {
        case MsgIcon::Error:
            icon = QMessageBox::Critical;
            break;
        case MsgIcon::Warning:
            icon = QMessageBox::Warning;
            break;
        case MsgIcon::Question:
            icon = QMessageBox::Question;
            break;
        case MsgIcon::Information:
            icon = QMessageBox::Information;
            break;
        case MsgIcon::None:
            break;
    }
    const QMessageBox::StandardButtons buttons =
        m.buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(icon, QString::fromStdString(m.caption), QString::fromStdString(m.text),
                    buttons, owner_);
    box.setDefaultButton(m.buttons == MsgButtons::YesNo ? QMessageBox::Yes : QMessageBox::Ok);
    // A wait cursor must not hide the pointer from a question.
    if (waitDepth_) QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = box.exec();
    if (waitDepth_) QApplication::restoreOverrideCursor();
    if (m.buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return result == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void QtHost::Beep() {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [] { QApplication::beep(); }, Qt::QueuedConnection);
        return;
    }
    QApplication::beep();
}

void QtHost::BeginWaitCursor() {
    ++waitDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtHost::EndWaitCursor() {
    if (waitDepth_ == 0) return;
    --waitDepth_;
    QApplication::restoreOverrideCursor();
}

void QtHost::PostCommand(int id) {
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            if (handler_) handler_(id);
        },
        Qt::QueuedConnection);
}

}  // namespace bitloupe
