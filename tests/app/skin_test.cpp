// Skin at a high-DPI ratio: every image keeps its logical size and shows
// the picture of a plain screen, only sharper. Parts of the skin are painted
// at logical resolution and scaled up (grain, the plates' glow); a layer
// placed or scaled wrongly shows up here as a different picture.

#include <QtTest>
#include <cstdlib>

#include "app/skin.h"
#include "app_tests.h"

using skiv::app::Skin;

namespace {

// Mean absolute channel difference (0-255) between two images of one size.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    }
    return sum / (4.0 * x.width() * x.height());
}

// A ratio-2 image brought down to plain pixels.
QImage Plain(const QPixmap& sharp, QSize size) {
    return sharp.toImage().scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

class SkinTest : public QObject {
    Q_OBJECT

    // Built once: painting a whole skin is the dearest part of start-up.
    Skin m_plain{1.0};
    Skin m_sharp{2.0};

private slots:
    void highDpiImagesKeepTheirLogicalSize_data() {
        QTest::addColumn<int>("id");
        for (int id : {131, 132, 136, 137, 139, 140, 141, 142, 143, 144, 147, 148, 151})
            QTest::addRow("%d", id) << id;
    }
    void highDpiImagesKeepTheirLogicalSize() {
        QFETCH(int, id);
        const QPixmap plain = m_plain.Image(id), sharp = m_sharp.Image(id);
        QVERIFY(!plain.isNull());
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
        QCOMPARE(sharp.size(), plain.size() * 2);
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(plain.size()));
    }

    void highDpiImagesShowThePlainPicture_data() {
        QTest::addColumn<int>("id");
        for (int id : {131, 136, 139, 140, 141, 142, 143, 144, 147, 148})
            QTest::addRow("%d", id) << id;
    }
    void highDpiImagesShowThePlainPicture() {
        QFETCH(int, id);
        const QImage plain = m_plain.Image(id).toImage();
        const double d = MeanDifference(Plain(m_sharp.Image(id), plain.size()), plain);
        QVERIFY2(d < 3.0, qPrintable(QStringLiteral("mean difference %1").arg(d)));
    }

    // The measure above tells pictures apart: a hover plate is not its
    // normal plate, and one text's plate is not another's.
    void differentPlatesDifferBeyondTheBound() {
        const QSize size = m_plain.Image(kSave).size();
        const QImage save = Plain(m_sharp.Image(kSave), size);
        QVERIFY(MeanDifference(save, m_plain.Image(kSaveHover).toImage()) > 8.0);
        QVERIFY(MeanDifference(save, m_plain.Image(kInstall).toImage()) > 3.0);
    }

private:
    static constexpr int kSave = skiv::app::kIconSave;
    static constexpr int kSaveHover = skiv::app::kIconSaveHover;
    static constexpr int kInstall = skiv::app::kIconInstall;
};

SKIV_APP_TEST(SkinTest);

#include "skin_test.moc"
