#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/PipelineWrappers.h"
#include "imaging/PreviewBuffer.h"
#include "platform/MessageBox.h"

namespace {

TEST(ByteBuffer, BytesThatBecomeNewAreZeroEvenAfterShrinking) {
    ByteBuffer b;
    EXPECT_TRUE(b.Empty());
    b.Resize(10);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(b[i], 0);
        b[i] = 0xAB;
    }
    b.Resize(4);
    b.Resize(5000);
    EXPECT_EQ(b[3], 0xAB);
    for (size_t i = 4; i < 5000; ++i) ASSERT_EQ(b[i], 0) << i;
    b.Clear();
    EXPECT_EQ(b.Size(), 0u);
    EXPECT_EQ(b.Data(), nullptr);
}

TEST(ByteBuffer, APreviewSizedBlockPassedOnToTheNextBufferComesBackZero) {
    {
        ByteBuffer first;
        first.Resize(300 * 1024);
        std::memset(first.Data(), 0xAB, first.Size());
    }
    ByteBuffer next;
    next.Resize(200 * 1024);
    for (size_t i = 0; i < next.Size(); ++i) ASSERT_EQ(next[i], 0) << i;
    std::memset(next.Data(), 0xCD, next.Size());
    next.Resize(100 * 1024);
    next.Clear();
    ByteBuffer grown;
    grown.Resize(90 * 1024);
    grown.Resize(300 * 1024);
    for (size_t i = 0; i < grown.Size(); ++i) ASSERT_EQ(grown[i], 0) << i;
}

TEST(ByteBuffer, MovingHandsTheBytesOver) {
    ByteBuffer a;
    a.Resize(3);
    a[2] = 7;
    ByteBuffer b(std::move(a));
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(a.Data(), nullptr);
    ASSERT_EQ(b.Size(), 3u);
    EXPECT_EQ(b[2], 7);
    ByteBuffer c;
    c.Resize(100);
    c = std::move(b);
    EXPECT_EQ(c.Size(), 3u);
    EXPECT_EQ(c[2], 7);
}

TEST(ByteBufferDeathTest, RunningOutOfMemorySaysSoAndEndsWithStatus1) {
    EXPECT_EXIT(
        {
            SetMessageBoxHandler([](const MessageRequest& m) {
                std::fprintf(stderr, "box[%ls|%ls]", m.text.c_str(), m.caption.c_str());
                return 1;
            });
            SetOutOfMemoryHandler(ShowOutOfMemory);
            ByteBuffer b;
            b.Resize(SIZE_MAX / 2);
        },
        ::testing::ExitedWithCode(1), "box\\[out of memory\\|Trimora\\]");
}

TEST(ByteBuffer, OutOfMemoryHandlerIsReplaceable) {
    struct Escape {};
    OutOfMemoryHandler before = SetOutOfMemoryHandler([] { throw Escape{}; });
    ByteBuffer b;
    b.Resize(8);
    b[0] = 5;
    EXPECT_THROW(b.Resize(SIZE_MAX / 2), Escape);
    // Nothing was lost on the way out.
    EXPECT_EQ(b.Size(), 8u);
    EXPECT_EQ(b[0], 5);
    SetOutOfMemoryHandler(before);
}

}  // namespace
