#include "app/skin.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

#include "app/skin_paint.h"

namespace skiv::app {

namespace sp = skinpaint;

Skin::Skin(qreal devicePixelRatio) : m_dpr(devicePixelRatio > 0 ? devicePixelRatio : 1.0) {
    const QPixmap base = sp::BackgroundBase(m_dpr);
    m_images[kBmpBackLoggedOut] = sp::Background(base, false);
    m_images[kBmpBackLoggedIn] = sp::Background(base, true);
    m_images[kBmpLogo] = sp::Logo(m_dpr);
    m_images[kBmpSeparator] = sp::Separator(m_dpr);
    m_images[kIconCloseHover] = sp::TitleMark(true, true, m_dpr);
    m_images[kIconClose] = sp::TitleMark(true, false, m_dpr);
    m_images[kIconMinimizeHover] = sp::TitleMark(false, true, m_dpr);
    m_images[kIconMinimize] = sp::TitleMark(false, false, m_dpr);
    m_images[kIconLogin] = sp::LoginPlate(m_dpr);
    m_images[kIconRollBackHover] = sp::StonePlate(QStringLiteral("되돌리기"), true, m_dpr);
    m_images[kIconRollBack] = sp::StonePlate(QStringLiteral("되돌리기"), false, m_dpr);
    m_images[kIconSaveHover] = sp::StonePlate(QStringLiteral("내셋팅 저장"), true, m_dpr);
    m_images[kIconSave] = sp::StonePlate(QStringLiteral("내셋팅 저장"), false, m_dpr);
    m_images[kIconInstallHover] = sp::StonePlate(QStringLiteral("내셋팅 설치"), true, m_dpr);
    m_images[kIconInstall] = sp::StonePlate(QStringLiteral("내셋팅 설치"), false, m_dpr);
    m_images[kBmpTree] = sp::TreeStrip(m_dpr);
    m_images[kIconApp] = sp::AppIcon(32, m_dpr);

    for (int size : {16, 24, 32, 48, 64, 128})
        m_appIcon.addPixmap(sp::AppIcon(size, m_dpr));

    QPoint hot;
    const QPixmap hand = sp::HandCursor(m_dpr, &hot);
    m_images[kCursorHand] = hand;
    m_hand = QCursor(hand, hot.x(), hot.y());
}

QPixmap Skin::Image(int id) const {
    auto it = m_images.find(id);
    return it == m_images.end() ? QPixmap() : it->second;
}

QPixmap Skin::TreeImage(int index) const {
    if (index < 0 || index > 14)
        return {};
    const QPixmap& strip = m_images.at(kBmpTree);
    const int w = qRound(17 * m_dpr), h = qRound(16 * m_dpr);
    QPixmap one = strip.copy(qRound(index * 17 * m_dpr), 0, w, h);
    one.setDevicePixelRatio(m_dpr);
    return one;
}

QFont Skin::StaticFont(bool bold) {
    // A 12-px Gulim is 12 px from the top of its tallest letter to the
    // bottom of its lowest one; the statics are 11-12 px tall for that. The
    // same face size of NanumGothic is taller (about 14 px), so take the
    // largest size whose line fits in 12 px.
    QFont f(QStringLiteral("NanumGothic"));
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    for (int px = 12; px >= 9; --px) {
        f.setPixelSize(px);
        if (QFontMetrics(f).height() <= 12)
            break;
    }
    return f;
}

QFont Skin::TextFont() {
    QFont f(QStringLiteral("NanumGothic"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(12);
    return f;
}

namespace {
Skin* g_instance = nullptr;
// Pixmaps must go before the application object does.
void ReleaseInstance() {
    delete g_instance;
    g_instance = nullptr;
}
}  // namespace

const Skin& Skin::Instance() {
    if (!g_instance) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        g_instance = new Skin(screen ? screen->devicePixelRatio() : 1.0);
        qAddPostRoutine(ReleaseInstance);
    }
    return *g_instance;
}

}  // namespace skiv::app
