#include "platform/MessageBox.h"

#include <utility>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
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

const std::wstring& AppTitle() { return Title(); }
void SetAppTitle(std::wstring title) { Title() = std::move(title); }
