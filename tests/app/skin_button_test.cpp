// SkinButton: image placement, edges, press offset, hover rules, clicks.

#include <QMouseEvent>
#include <QPainter>
#include <QtTest>

#include "app/skin.h"
#include "app/skin_button.h"
#include "app_tests.h"

using skiv::app::SkinButton;

namespace {

// An image whose every pixel tells where it came from: red = x * 8,
// green = y * 8.
QPixmap CoordinateImage(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 8, y * 8, 100));
    return QPixmap::fromImage(img);
}

QPixmap Solid(int w, int h, QColor c) {
    QPixmap pm(w, h);
    pm.fill(c);
    return pm;
}

QImage Render(QWidget& w) {
    QImage img(w.size(), QImage::Format_ARGB32);
    img.fill(Qt::black);
    w.render(&img);
    return img;
}

void Move(QWidget& w, QPoint at, Qt::MouseButtons buttons = Qt::NoButton) {
    QMouseEvent e(QEvent::MouseMove, at, w.mapToGlobal(at), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

}  // namespace

class SkinButtonTest : public QObject {
    Q_OBJECT

    QWidget* m_top = nullptr;
    SkinButton* m_button = nullptr;

    // Edge colours of the test palette.
    const QColor kFace{40, 40, 40}, kLight{250, 250, 250}, kDark{5, 5, 5};

    void Activate() {
        m_top->show();
        QApplication::setActiveWindow(m_top);
        QVERIFY(QTest::qWaitForWindowActive(m_top));
    }

private slots:
    void init() {
        m_top = new QWidget;
        m_top->setGeometry(300, 300, 200, 200);
        QCursor::setPos(0, 0);  // far from the button: no stray enter events
        m_button = new SkinButton(m_top);
        QPalette pal;
        pal.setColor(QPalette::Button, kFace);
        pal.setColor(QPalette::Light, kLight);
        pal.setColor(QPalette::Dark, kDark);
        m_button->setPalette(pal);
    }
    void cleanup() {
        delete m_top;
        m_top = nullptr;
    }

    void imagesAreMeasuredAsTwiceTheirCentre() {
        QVERIFY(m_button->SetIconHandles(Solid(115, 53, Qt::red), Solid(16, 16, Qt::blue)));
        QCOMPARE(m_button->MeasuredSize(true), QSize(114, 52));
        QCOMPARE(m_button->MeasuredSize(false), QSize(16, 16));
        // A 1 x 1 image measures nothing: the button keeps no images.
        QVERIFY(!m_button->SetIconHandles(Solid(1, 1, Qt::red), QPixmap()));
        QVERIFY(m_button->IconRect().isNull());
        // No hover image: no images, not a failure.
        QVERIFY(m_button->SetIconHandles(QPixmap(), Solid(16, 16, Qt::blue)));
        QVERIFY(m_button->IconRect().isNull());
    }

    void largerImageOverhangsEquallyAndIsClipped() {
        // The task plates: 115 x 53 in a 110 x 49 button sit at (-2, -2).
        m_button->setGeometry(0, 0, 110, 49);
        m_button->SetIconHandles(Solid(115, 53, Qt::red), QPixmap());
        QCOMPARE(m_button->IconRect(), QRect(-2, -2, 114, 52));

        // A 25 x 25 image (24 x 24 measured) in 20 x 19: (-2, -3), halves
        // rounded down; the top-left pixel shown is the image's (2, 3).
        m_button->setGeometry(0, 0, 20, 19);
        m_button->SetIconHandles(CoordinateImage(25, 25), QPixmap());
        QCOMPARE(m_button->IconRect(), QRect(-2, -3, 24, 24));
        const QImage img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(0, 0)), QColor(2 * 8, 3 * 8, 100));
        QCOMPARE(QColor(img.pixel(19, 18)), QColor(21 * 8, 21 * 8, 100));
    }

    void smallerImageIsCentredAndPressShiftsIt() {
        m_button->setGeometry(0, 0, 30, 30);
        m_button->SetIconHandles(CoordinateImage(11, 7), QPixmap());  // measures 10 x 6
        QCOMPARE(m_button->IconRect(), QRect(10, 12, 10, 6));
        QImage img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(10, 12)), QColor(0, 0, 100));
        QCOMPARE(QColor(img.pixel(9, 12)), kFace);
        // Drawn cropped to the measured size: column 10 of the image is not shown.
        QCOMPARE(QColor(img.pixel(20, 12)), kFace);

        m_button->setDown(true);
        img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(11, 13)), QColor(0, 0, 100));
        QCOMPARE(QColor(img.pixel(10, 12)), kFace);
    }

    void edgesRaisedWhenHoveredSunkenWhenPressed() {
        m_button->setGeometry(10, 10, 30, 30);
        m_button->SetIconHandles(Solid(10, 10, Qt::red), QPixmap());
        QImage img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(0, 15)), kFace);
        QCOMPARE(QColor(img.pixel(29, 15)), kFace);

        Activate();
        Move(*m_button, QPoint(15, 15));
        QVERIFY(m_button->IsHovered());
        img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(0, 15)), kLight);  // left
        QCOMPARE(QColor(img.pixel(15, 0)), kLight);  // top
        QCOMPARE(QColor(img.pixel(29, 15)), kDark);  // right
        QCOMPARE(QColor(img.pixel(15, 29)), kDark);  // bottom

        m_button->setDown(true);
        img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(0, 15)), kDark);
        QCOMPARE(QColor(img.pixel(15, 0)), kDark);
        QCOMPARE(QColor(img.pixel(29, 15)), kLight);
        QCOMPARE(QColor(img.pixel(15, 29)), kLight);
    }

    void hoverImageWhileHoveredOrPressed() {
        m_button->setGeometry(0, 0, 20, 20);
        m_button->SetIconHandles(Solid(10, 10, Qt::green), Solid(10, 10, Qt::red));
        QCOMPARE(QColor(Render(*m_button).pixel(10, 10)), QColor(Qt::red));
        Activate();
        Move(*m_button, QPoint(5, 5));
        QCOMPARE(QColor(Render(*m_button).pixel(10, 10)), QColor(Qt::green));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(m_button, &leave);
        QVERIFY(!m_button->IsHovered());
        m_button->setDown(true);
        QCOMPARE(QColor(Render(*m_button).pixel(11, 11)), QColor(Qt::green));

        // Without a normal image the hover image is always shown.
        m_button->setDown(false);
        m_button->SetIconHandles(Solid(10, 10, Qt::green), QPixmap());
        QCOMPARE(QColor(Render(*m_button).pixel(10, 10)), QColor(Qt::green));
    }

    void noHoverWhileApplicationInactiveOrDraggedIn() {
        m_button->setGeometry(0, 0, 20, 20);
        m_button->SetIconHandles(Solid(10, 10, Qt::green), Solid(10, 10, Qt::red));
        m_top->show();
        QApplication::setActiveWindow(nullptr);
        QVERIFY(!QApplication::activeWindow());
        Move(*m_button, QPoint(5, 5));
        QVERIFY(!m_button->IsHovered());

        Activate();
        Move(*m_button, QPoint(5, 5), Qt::LeftButton);  // a drag from elsewhere
        QVERIFY(!m_button->IsHovered());
        Move(*m_button, QPoint(6, 6));
        QVERIFY(m_button->IsHovered());
        // Leaving the application clears the hover look.
        QApplication::setActiveWindow(nullptr);
        QTRY_VERIFY(!m_button->IsHovered());
    }

    void disablingClearsHoverAndGreysTheImage() {
        m_button->setGeometry(0, 0, 20, 20);
        m_button->SetIconHandles(Solid(10, 10, QColor(255, 0, 0)), QPixmap());
        Activate();
        Move(*m_button, QPoint(5, 5));
        QVERIFY(m_button->IsHovered());
        m_button->setEnabled(false);
        QVERIFY(!m_button->IsHovered());
        const QColor c(Render(*m_button).pixel(10, 10));
        QVERIFY2(c != QColor(255, 0, 0), "disabled image drawn as normal");
        QVERIFY(qAbs(c.red() - c.green()) < 60);  // greyed, not red
    }

    void doubleClickGivesTwoClicks() {
        m_button->setGeometry(0, 0, 20, 20);
        m_top->show();
        int clicks = 0;
        connect(m_button, &QAbstractButton::clicked, this, [&] { ++clicks; });
        const QPoint at(5, 5);
        auto send = [&](QEvent::Type type, Qt::MouseButtons held) {
            QMouseEvent e(type, at, m_button->mapToGlobal(at), Qt::LeftButton, held,
                          Qt::NoModifier);
            QApplication::sendEvent(m_button, &e);
        };
        send(QEvent::MouseButtonPress, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::NoButton);
        send(QEvent::MouseButtonDblClick, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::NoButton);
        QCOMPARE(clicks, 2);
    }

    void checkStyleTogglesAndIgnoresHover() {
        m_button->setGeometry(0, 0, 20, 20);
        m_button->setCheckable(true);
        m_button->SetIconHandles(Solid(10, 10, Qt::green), Solid(10, 10, Qt::red));
        Activate();
        Move(*m_button, QPoint(5, 5));
        QCOMPARE(QColor(Render(*m_button).pixel(10, 10)), QColor(Qt::red));
        QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(m_button->isChecked());
        const QImage img = Render(*m_button);
        QCOMPARE(QColor(img.pixel(5, 5)), QColor(Qt::green));  // not shifted
        QCOMPARE(QColor(img.pixel(0, 10)), kDark);             // sunken while checked
    }

    void tipAndCursor() {
        m_button->SetTipText(QStringLiteral("닫기"), true);
        QCOMPARE(m_button->toolTip(), QStringLiteral("닫기"));
        m_button->SetTipText(QStringLiteral("닫기"), false);
        QVERIFY(m_button->toolTip().isEmpty());
        const skiv::app::Skin& skin = skiv::app::Skin::Instance();
        QVERIFY(m_button->SetHoverCursor(skin, skiv::app::kCursorHand));
        QCOMPARE(m_button->cursor().shape(), Qt::BitmapCursor);
        QVERIFY(!m_button->SetHoverCursor(skin, 999));
        QVERIFY(m_button->SetHoverCursor(skin, 0));
        QCOMPARE(m_button->cursor().shape(), Qt::ArrowCursor);
    }
};

SKIV_APP_TEST(SkinButtonTest);
#include "skin_button_test.moc"
