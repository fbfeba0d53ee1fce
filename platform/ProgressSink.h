#pragma once
// What a long operation sees of the window that started it: a way to keep the
// user interface alive between rows, and a place to show how far it got.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void PumpOneMessage() = 0;
    virtual void DrawProgress(int percent) = 0;
};

// For callers without a window (the command-line tool, tests).
class NullProgressSink : public ProgressSink {
public:
    void PumpOneMessage() override {}
    void DrawProgress(int) override {}
};
