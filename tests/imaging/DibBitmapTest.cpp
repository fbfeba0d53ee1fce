#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/DibBitmap.h"

namespace {

std::vector<uint8_t> Pattern(int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 31 + i / 7);
    return rgb;
}

TEST(CreateBitmapFromRgb, HeaderDeclaresTheStrideWidthBottomUp) {
    for (int w : {236, 237, 238, 239}) {
        std::vector<uint8_t> rgb = Pattern(w, 177);
        HBITMAP bmp = CreateBitmapFromRgb(rgb.data(), w, 177);
        ASSERT_NE(bmp, nullptr);
        const BITMAPINFOHEADER& h = bmp->header;
        const int stride = w == 236 ? 236 : 240;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, stride);
        EXPECT_EQ(h.biHeight, 177);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(h.biSizeImage, static_cast<uint32_t>(stride) * 177 * 3);
        EXPECT_EQ(h.biXPelsPerMeter, 3780);
        EXPECT_EQ(h.biYPelsPerMeter, 3780);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(bmp->stride, stride * 3);
        DeleteObject(bmp);
    }
}

TEST(CreateBitmapFromRgb, PixelsAreSwappedToBgrAndRowsReversed) {
    const int w = 237, h = 5;
    std::vector<uint8_t> rgb = Pattern(w, h);
    rgb[0] = 255, rgb[1] = 0, rgb[2] = 0;  // top-left pure red
    HBITMAP bmp = CreateBitmapFromRgb(rgb.data(), w, h);
    ASSERT_NE(bmp, nullptr);
    const uint8_t* lastRow = bmp->bits + static_cast<size_t>(h - 1) * bmp->stride;
    EXPECT_EQ(lastRow[0], 0);
    EXPECT_EQ(lastRow[1], 0);
    EXPECT_EQ(lastRow[2], 255);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            ASSERT_EQ(GetDibPixel(bmp, x, y), (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]);
        }
        // The three columns of padding are not part of the picture.
        for (int x = w; x < 240; ++x) ASSERT_EQ(GetDibPixel(bmp, x, y), 0u);
    }
    DeleteObject(bmp);
}

TEST(CreateBitmapFromRgb, EachCallGivesAnIndependentBitmap) {
    std::vector<uint8_t> rgb = Pattern(40, 30);
    HBITMAP a = CreateBitmapFromRgb(rgb.data(), 40, 30);
    HBITMAP b = CreateBitmapFromRgb(rgb.data(), 40, 30);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->bits, b->bits);
    EXPECT_EQ(0, std::memcmp(a->bits, b->bits, static_cast<size_t>(a->stride) * 30));
    DeleteObject(a);
    EXPECT_EQ(GetDibPixel(b, 1, 1), (uint32_t(rgb[123]) << 16) | (uint32_t(rgb[124]) << 8) | rgb[125]);
    DeleteObject(b);
}

TEST(CreateBitmapFromRgb, NoBitmapMeansNoPixelsWritten) {
    PreviewBuffer preview;
    preview.Resize(10 * 10 * 3);
    EXPECT_EQ(CreateBitmapFromRgb(preview, 10, 11), nullptr);  // buffer too small
    HBITMAP ok = CreateBitmapFromRgb(preview, 10, 10);
    EXPECT_NE(ok, nullptr);
    DeleteObject(ok);

    CDibBitmap dib;
    EXPECT_EQ(dib.Create(0, 10), 1);
    EXPECT_EQ(dib.m_hBitmap, nullptr);
    EXPECT_EQ(dib.m_pBits, nullptr);
    dib.FillFromRgb(preview.Data(), 0, 10);  // must not write anywhere
    EXPECT_EQ(dib.m_pBits, nullptr);
}

TEST(CDibBitmap, SecondCreateReplacesTheFirstBitmap) {
    CDibBitmap dib;
    dib.Create(5, 5);
    HBITMAP first = dib.m_hBitmap;
    ASSERT_NE(first, nullptr);
    dib.Create(9, 3);
    EXPECT_EQ(dib.m_width, 9);
    EXPECT_EQ(dib.m_strideWidth, 12);
    EXPECT_EQ(dib.m_height, 3);
    ASSERT_NE(dib.m_hBitmap, nullptr);
    EXPECT_EQ(dib.m_hBitmap->header.biWidth, 12);
    HBITMAP taken = dib.Detach();
    EXPECT_EQ(dib.m_hBitmap, nullptr);
    EXPECT_EQ(dib.m_pBits, nullptr);
    DeleteObject(taken);
}

}  // namespace
