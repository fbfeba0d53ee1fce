#pragma once
// The wait cursor as a scoped guard. The core only counts; the GUI installs
// hooks that really change the cursor.
#include <functional>

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

    static void SetHooks(std::function<void()> show, std::function<void()> hide);
    static int Depth();  // guards alive now, for tests
};
