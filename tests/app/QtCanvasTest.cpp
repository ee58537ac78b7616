#include "QtCanvas.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstddef>
#include <functional>
#include <tuple>

namespace {

const QRgb White = qRgb(255, 255, 255);
const QRgb Black = qRgb(0, 0, 0);
const QRgb Green = qRgb(0, 170, 0);

// Draws on a white image and answers it.
QImage Draw(const std::function<void(QtCanvas&)>& drawing, QSize size = QSize(40, 40)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(White);
    QPainter painter(&image);
    QtCanvas canvas(painter, QtCanvas::DefaultTextFont());
    drawing(canvas);
    painter.end();
    return image;
}

// The pixels of colour within the image, as a list of points.
std::vector<QPoint> PixelsOf(const QImage& image, QRgb colour) {
    std::vector<QPoint> points;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour) {
                points.emplace_back(x, y);
            }
        }
    }
    return points;
}

}  // namespace

TEST(QtCanvas, LineToLeavesOutItsEndPointAndMovesThePosition) {
    const QImage image = Draw([](QtCanvas& canvas) {
        canvas.MoveTo(5, 5);
        canvas.LineTo(9, 5);  // 5..8
        canvas.LineTo(9, 8);  // 5..7 at x = 9
        canvas.LineTo(7, 8);  // 9, 8 at y = 8
        canvas.MoveTo(20, 20);
        canvas.LineTo(20, 20);  // nothing
    });
    EXPECT_EQ(PixelsOf(image, Black),
              (std::vector<QPoint>{
                  {5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}, {9, 6}, {9, 7}, {8, 8}, {9, 8}}));
}

TEST(QtCanvas, WidePenCoversItsWidthAndBothEndPoints) {
    const Pen green{3, Rgb(0, 170, 0)};
    const auto stroke = [&](QPoint from, QPoint to) {
        return Draw([&](QtCanvas& canvas) {
            canvas.SelectPen(&green);
            canvas.MoveTo(from.x(), from.y());
            canvas.LineTo(to.x(), to.y());
        });
    };
    // A bar from row 30 up to and including 20 covers columns 9..11; downwards and across the
    // same; a stroke of no length is its pen's dot.
    const std::tuple<QPoint, QPoint, QRect> strokes[] = {
        {{10, 30}, {10, 20}, QRect(QPoint(9, 20), QPoint(11, 30))},
        {{10, 20}, {10, 21}, QRect(QPoint(9, 20), QPoint(11, 21))},
        {{30, 10}, {25, 10}, QRect(QPoint(25, 9), QPoint(30, 11))},
        {{5, 5}, {5, 5}, QRect(QPoint(4, 4), QPoint(6, 6))},
    };
    for (const auto& [from, to, block] : strokes) {
        const std::vector<QPoint> pixels = PixelsOf(stroke(from, to), Green);
        EXPECT_EQ(pixels.size(), static_cast<std::size_t>(block.width() * block.height()));
        for (const QPoint& p : pixels) {
            EXPECT_TRUE(block.contains(p)) << p.x() << "," << p.y();
        }
    }
    // A slanting stroke reaches its end point.
    const QImage slant = stroke({10, 10}, {20, 15});
    EXPECT_EQ(slant.pixel(21, 16), Green);
    EXPECT_EQ(slant.pixel(22, 16), White);
}

TEST(QtCanvas, SlantingLineStepsWithoutItsEndPoint) {
    const QImage image = Draw([](QtCanvas& canvas) {
        canvas.MoveTo(2, 2);
        canvas.LineTo(6, 4);
    });
    const std::vector<QPoint> pixels = PixelsOf(image, Black);
    ASSERT_EQ(pixels.size(), 4u);  // one pixel per column 2..5
    EXPECT_EQ(pixels.front(), QPoint(2, 2));
    for (const QPoint& p : pixels) {
        EXPECT_NE(p, QPoint(6, 4));
    }
}

TEST(QtCanvas, LinesFarOffTheImageAreClippedNotStepped) {
    const QImage image = Draw([](QtCanvas& canvas) {
        canvas.MoveTo(10, 10);
        canvas.LineTo(14, -1000000);
        canvas.MoveTo(20, 10);
        canvas.LineTo(20, 1000000);
    });
    EXPECT_EQ(image.pixel(20, 39), Black);
    EXPECT_EQ(image.pixel(20, 9), White);
}

TEST(QtCanvas, RectangleOutlinesWithTheCurrentPenAndFillsWhite) {
    const Pen green{1, Rgb(0, 170, 0)};
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    {
        QPainter painter(&image);
        QtCanvas canvas(painter, QtCanvas::DefaultTextFont());
        canvas.Rectangle(2, 3, 8, 10);  // default pen: black, pixels 2..7 x 3..9
        canvas.SelectPen(&green);
        canvas.Rectangle(12, 12, 15, 15);
    }
    EXPECT_EQ(image.pixel(2, 3), Black);
    EXPECT_EQ(image.pixel(7, 9), Black);
    EXPECT_EQ(image.pixel(7, 5), Black);
    EXPECT_EQ(image.pixel(4, 9), Black);
    EXPECT_EQ(image.pixel(3, 4), White);
    EXPECT_EQ(image.pixel(6, 8), White);
    EXPECT_EQ(image.pixel(8, 5), qRgb(10, 20, 30));   // right edge left out
    EXPECT_EQ(image.pixel(4, 10), qRgb(10, 20, 30));  // bottom edge left out
    EXPECT_EQ(image.pixel(12, 12), Green);
    EXPECT_EQ(image.pixel(13, 13), White);
}

TEST(QtCanvas, SelectPenAnswersThePenItReplacesStartingWithTheDefault) {
    QImage image(4, 4, QImage::Format_RGB32);
    QPainter painter(&image);
    QtCanvas canvas(painter, QtCanvas::DefaultTextFont());
    const Pen red{3, Rgb(200, 0, 0)};
    const Pen* original = canvas.SelectPen(&red);
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(original->width, 1);
    EXPECT_EQ(original->colour, Rgb(0, 0, 0));
    EXPECT_EQ(canvas.SelectPen(original), &red);
}

TEST(QtCanvas, TextStandsByItsTopLeftCornerOnAnOpaqueBox) {
    const QImage image = Draw(
        [](QtCanvas& canvas) {
            canvas.SetBkColor(Rgb(200, 200, 200));
            canvas.SetTextColor(Rgb(0, 0, 0));
            canvas.TextOut(10, 20, "-100");
        },
        QSize(80, 60));
    const std::vector<QPoint> grey = PixelsOf(image, qRgb(200, 200, 200));
    ASSERT_FALSE(grey.empty());
    int left = 1000, top = 1000, bottom = 0;
    for (const QPoint& p : grey) {
        left = std::min(left, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    EXPECT_EQ(left, 10);
    EXPECT_EQ(top, 20);
    // A box about as high as the system font (16 pixels), centred labels depend on it.
    EXPECT_GE(bottom - top + 1, 14);
    EXPECT_LE(bottom - top + 1, 17);
    // Some glyph pixels are dark.
    int dark = 0;
    for (int y = 20; y <= bottom; ++y) {
        for (int x = 10; x < 60; ++x) {
            dark += qGray(image.pixel(x, y)) < 80 ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 10);
    EXPECT_EQ(image.pixel(9, 25), White);
}
