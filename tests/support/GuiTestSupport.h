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
    // Each timer holds its own copy of the poll; a poll that held itself
    // through a shared pointer would never be freed.
    struct Poll {
        std::function<void(QWidget*)> step;
        QWidget* notThis;
        int timeoutMs;
        QElapsedTimer timer;
        void operator()() const {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != notThis && modal->isVisible()) {
                step(modal);
                return;
            }
            if (timer.elapsed() > timeoutMs) {
                step(nullptr);
                return;
            }
            QTimer::singleShot(5, *this);
        }
    };
    Poll poll{std::move(step), notThis, timeoutMs, {}};
    poll.timer.start();
    QTimer::singleShot(0, poll);
}

// Calls step from the event loop every intervalMs until it returns true.
inline void Repeat(std::function<bool()> step, int intervalMs = 1) {
    struct Tick {
        std::function<bool()> step;
        int intervalMs;
        void operator()() const {
            if (!step()) QTimer::singleShot(intervalMs, *this);
        }
    };
    QTimer::singleShot(intervalMs, Tick{std::move(step), intervalMs});
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
        m_previousAsker = SetQuestionHandler([this](const MessageRequest& r) {
            questions.push_back(r);
            return answer;
        });
    }
    ~MessageRecorder() {
        SetMessageBoxHandler(m_previous);
        SetQuestionHandler(m_previousAsker);
    }
    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> t;
        for (const auto& m : messages) t.push_back(m.text);
        return t;
    }
    std::vector<MessageRequest> messages;
    std::function<void(const MessageRequest&)> onMessage;
    // Questions are answered, not shown; by default with No.
    std::vector<MessageRequest> questions;
    Answer answer = Answer::No;

private:
    MessageBoxHandler m_previous;
    QuestionHandler m_previousAsker;
};

}  // namespace guitest
