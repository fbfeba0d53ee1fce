#include <gtest/gtest.h>

#include <vector>

#include "imaging/DibBitmap.h"
#include "imaging/DibImage.h"

namespace {

TEST(DibToQImage, ShowsThePictureUprightWithoutThePadding) {
    const int w = 7, h = 4;
    std::vector<uint8_t> rgb(w * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 13);
    HBITMAP bmp = CreateBitmapFromRgb(rgb.data(), w, h);
    ASSERT_NE(bmp, nullptr);
    QImage image = DibToQImage(bmp, w, h);
    ASSERT_EQ(image.width(), w);
    ASSERT_EQ(image.height(), h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &rgb[(y * w + x) * 3];
            EXPECT_EQ(image.pixel(x, y), qRgb(p[0], p[1], p[2])) << x << "," << y;
        }
    // Asking for more than the bitmap holds gives the bitmap's own size.
    EXPECT_EQ(DibToQImage(bmp, 100, 100).size(), QSize(8, 4));
    DeleteObject(bmp);
    EXPECT_TRUE(DibToQImage(nullptr, 5, 5).isNull());
}

}  // namespace
