#pragma once
// Message boxes go through one replaceable function: the GUI installs a real
// dialog, tests install a recorder, the command-line tool prints.
#include <functional>
#include <string>

class CWnd;

enum class MessageIcon { None, Information };

struct MessageRequest {
    std::wstring text;
    std::wstring caption;   // empty: the application's title is shown
    MessageIcon icon = MessageIcon::None;
    CWnd* owner = nullptr;  // null: the application's main window, if any
    // A question: whether it may be put off (a Cancel beside Yes and No).
    bool offerCancel = true;
};

using MessageBoxHandler = std::function<int(const MessageRequest&)>;

// Returns the handler that was installed before.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a modal box with an OK button; returns 1 (IDOK) once dismissed.
int ShowMessageBox(const std::wstring& text, const std::wstring& caption = {},
                   MessageIcon icon = MessageIcon::None, CWnd* owner = nullptr);

// The title shown when a box has no caption of its own.
// A question that may be put off: Yes, No, or Cancel (stay where you were).
enum class Answer { Yes, No, Cancel };
using QuestionHandler = std::function<Answer(const MessageRequest&)>;
QuestionHandler SetQuestionHandler(QuestionHandler handler);
// Without a handler nobody can answer, and nothing is done: No.
Answer AskYesNoCancel(const std::wstring& text, const std::wstring& caption = {}, CWnd* owner = nullptr);
// A question with nothing to put off: Yes or No (a box closed says No).
Answer AskYesNo(const std::wstring& text, const std::wstring& caption = {}, CWnd* owner = nullptr);

const std::wstring& AppTitle();
void SetAppTitle(std::wstring title);
