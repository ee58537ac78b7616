// Where the program takes its icon from: the images installed beside it, else its own.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "ApplicationIcon.h"

namespace {

const QRgb Tile = qRgb(0x1E, 0x3C, 0x78);
const QRgb Installed = qRgb(255, 0, 255);

QRgb PixelAt(const QIcon& icon, int size, int x, int y) {
    return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_RGB32).pixel(x, y);
}

}  // namespace

TEST(ApplicationIconTest, InstalledImagesWinAndTheBuiltInOnesFillIn) {
    const QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    QDir root(prefix.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("bin")));
    // An installation with a 32 and a 48 pixel image in one flat colour, but no 16 pixel one.
    for (const int size : {32, 48}) {
        const QString folder = QStringLiteral("share/icons/hicolor/%1x%1/apps").arg(size);
        ASSERT_TRUE(root.mkpath(folder));
        QImage image(size, size, QImage::Format_RGB32);
        image.fill(Installed);
        ASSERT_TRUE(image.save(root.filePath(folder + QStringLiteral("/sorvell.png"))));
    }

    const QIcon icon = ApplicationIconFor(root.filePath(QStringLiteral("bin")));
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(48, 48)));
    EXPECT_FALSE(sizes.contains(QSize(256, 256)));
    EXPECT_EQ(PixelAt(icon, 32, 16, 16), Installed);
    EXPECT_EQ(PixelAt(icon, 48, 0, 0), Installed);
    EXPECT_EQ(PixelAt(icon, 16, 0, 0), Tile);
}

TEST(ApplicationIconTest, WithNothingInstalledTheBuiltInImagesOfBothSizes) {
    const QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QIcon icon = ApplicationIconFor(prefix.path() + QStringLiteral("/bin"));
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(32, 32)}));
    // The navy frame around the white plot, its green bars reaching the frame's lower edge.
    EXPECT_EQ(PixelAt(icon, 32, 0, 0), Tile);
    EXPECT_EQ(PixelAt(icon, 32, 16, 4), qRgb(255, 255, 255));
    EXPECT_EQ(PixelAt(icon, 32, 9, 29), qRgb(0, 170, 0));
    EXPECT_EQ(PixelAt(icon, 16, 0, 15), Tile);
    EXPECT_EQ(PixelAt(icon, 16, 4, 14), qRgb(0, 170, 0));
}
