#include "platform/WaitCursor.h"

#include <atomic>
#include <utility>

namespace {
struct Hooks {
    std::function<void()> show;
    std::function<void()> hide;
    // trimora-cli exports on several threads, each through the pipeline's
    // guard; the count must not tear. The hooks are only set up front.
    std::atomic<int> depth{0};
};
Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}
}  // namespace

CWaitCursor::CWaitCursor() {
    Hooks& h = TheHooks();
    ++h.depth;
    if (h.show) h.show();
}

CWaitCursor::~CWaitCursor() {
    Hooks& h = TheHooks();
    --h.depth;
    if (h.hide) h.hide();
}

void CWaitCursor::SetHooks(std::function<void()> show, std::function<void()> hide) {
    TheHooks().show = std::move(show);
    TheHooks().hide = std::move(hide);
}

int CWaitCursor::Depth() { return TheHooks().depth; }
