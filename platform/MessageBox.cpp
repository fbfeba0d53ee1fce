#include "platform/MessageBox.h"

#include <utility>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
QuestionHandler& Asker() {
    static QuestionHandler handler;
    return handler;
}
std::wstring& Title() {
    static std::wstring title = L"Trimora";
    return title;
}
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

int ShowMessageBox(const std::wstring& text, const std::wstring& caption, MessageIcon icon, CWnd* owner) {
    MessageRequest request{text, caption.empty() ? Title() : caption, icon, owner};
    if (Handler()) return Handler()(request);
    return 1;
}

QuestionHandler SetQuestionHandler(QuestionHandler handler) { return std::exchange(Asker(), std::move(handler)); }

Answer AskYesNoCancel(const std::wstring& text, const std::wstring& caption, CWnd* owner) {
    MessageRequest request{text, caption.empty() ? Title() : caption, MessageIcon::None, owner};
    return Asker() ? Asker()(request) : Answer::No;
}

Answer AskYesNo(const std::wstring& text, const std::wstring& caption, CWnd* owner) {
    MessageRequest request{text, caption.empty() ? Title() : caption, MessageIcon::None, owner, false};
    return Asker() && Asker()(request) == Answer::Yes ? Answer::Yes : Answer::No;
}

const std::wstring& AppTitle() { return Title(); }
void SetAppTitle(std::wstring title) { Title() = std::move(title); }
