#pragma once
// Helpers for driving real dialogs in tests: running a modal dialog with a
// script that works its controls, and recording message boxes.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace guitest {

// Calls step once a modal widget other than `notThis` is active (or after
// timeoutMs with null). Arm it before the call that opens the dialog.
inline void WhenModal(std::function<void(QWidget*)> step, QWidget* notThis = nullptr, int timeoutMs = 5000) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != notThis && modal->isVisible()) {
            step(modal);
            return;
        }
        if (timer->elapsed() > timeoutMs) {
            step(nullptr);
            return;
        }
        QTimer::singleShot(5, *poll);
    };
    QTimer::singleShot(0, *poll);
}

// Lets queued events run for a moment.
inline void Pump(int ms = 20) { QTest::qWait(ms); }

// Records message boxes instead of showing them; restores the handler after.
class MessageRecorder {
public:
    MessageRecorder() {
        m_previous = SetMessageBoxHandler([this](const MessageRequest& r) {
            messages.push_back(r);
            if (onMessage) onMessage(r);
            return 1;
        });
    }
    ~MessageRecorder() { SetMessageBoxHandler(m_previous); }
    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> t;
        for (const auto& m : messages) t.push_back(m.text);
        return t;
    }
    std::vector<MessageRequest> messages;
    std::function<void(const MessageRequest&)> onMessage;

private:
    MessageBoxHandler m_previous;
};

}  // namespace guitest
