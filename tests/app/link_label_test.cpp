// LinkLabel: colours, where addresses go, failure texts, sizing.

#include <QtTest>

#include "app/link_label.h"
#include "app/modal_hooks.h"
#include "app/skin.h"
#include "app_tests.h"

using skiv::app::LinkLabel;
using skiv::app::ModalBox;
using skiv::app::OpenTarget;

namespace {

// Counts the pixels of exactly this colour.
int CountColour(QWidget& w, QColor c) {
    QImage img(w.size(), QImage::Format_ARGB32);
    img.fill(Qt::white);
    w.render(&img);
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += QColor(img.pixel(x, y)) == c;
    return n;
}

}  // namespace

class LinkLabelTest : public QObject {
    Q_OBJECT

    QWidget* m_top = nullptr;
    LinkLabel* m_link = nullptr;
    std::vector<std::pair<OpenTarget, QString>> m_opened;
    std::vector<ModalBox> m_boxes;
    bool m_openSucceeds = true;

private slots:
    void init() {
        m_opened.clear();
        m_boxes.clear();
        m_openSucceeds = true;
        skiv::app::SetOpenHook([this](OpenTarget t, const QString& a) {
            m_opened.emplace_back(t, a);
            return m_openSucceeds;
        });
        skiv::app::SetBoxHook([this](const ModalBox& b) {
            m_boxes.push_back(b);
            return true;
        });
        m_top = new QWidget;
        m_top->resize(300, 100);
        m_link = new LinkLabel(m_top);
        m_link->setGeometry(10, 10, 200, 40);
        m_link->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_link->setFont(skiv::app::Skin::StaticFont(true));
    }
    void cleanup() {
        delete m_top;
        skiv::app::SetOpenHook(nullptr);
        skiv::app::SetBoxHook(nullptr);
    }

    void attachTakesAddressFromTextAndTheOtherWayRound() {
        m_link->setText(QStringLiteral("https://example.test/join"));
        m_link->Attach(skiv::app::Skin::Instance());
        QCOMPARE(m_link->LinkUrl(), QStringLiteral("https://example.test/join"));
        QCOMPARE(m_link->toolTip(), m_link->LinkUrl());
        QCOMPARE(m_link->cursor().shape(), Qt::BitmapCursor);

        LinkLabel empty(m_top);
        empty.SetLinkUrl(QStringLiteral("mailto:help@example.test"));
        empty.Attach(skiv::app::Skin::Instance());
        QCOMPARE(empty.text(), QStringLiteral("mailto:help@example.test"));
    }

    void sizedToItsDrawnText() {
        m_link->setText(QStringLiteral("Kelbo 회원가입"));
        m_link->Attach(skiv::app::Skin::Instance());
        m_link->SetLinkUrl(QStringLiteral("https://example.test/r"));
        QFont f = m_link->font();
        f.setUnderline(true);
        const QFontMetrics fm(f);
        QCOMPARE(m_link->geometry().topLeft(), QPoint(10, 10));
        QCOMPARE(m_link->width(), fm.horizontalAdvance(m_link->text()));
        QVERIFY(m_link->height() >= fm.height());
        // The underline is inside the control: its bottom row has link ink.
        m_link->SetColourOverride(QColor(Qt::black));
        QImage img(m_link->size(), QImage::Format_ARGB32);
        img.fill(Qt::white);
        m_link->render(&img);
        int inked = 0;
        for (int y = fm.ascent() + 1; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                inked += qGray(img.pixel(x, y)) < 128;
        QVERIFY2(inked > img.width() / 2, "no underline below the baseline");
        // The tooltip follows the address, the text stays.
        QCOMPARE(m_link->toolTip(), QStringLiteral("https://example.test/r"));
        QCOMPARE(m_link->text(), QStringLiteral("Kelbo 회원가입"));
    }

    void mailAddressGoesToMailHandlerAndTurnsVisited() {
        m_link->setText(QStringLiteral("write to us"));
        m_link->SetLinkUrl(QStringLiteral("mailto:help@example.test"));
        QVERIFY(CountColour(*m_link, QColor(LinkLabel::kLinkColour)) > 0);
        QCOMPARE(CountColour(*m_link, QColor(LinkLabel::kVisitedColour)), 0);

        m_link->Click();
        QCOMPARE(m_opened.size(), size_t(1));
        QCOMPARE(m_opened[0].first, OpenTarget::kMail);
        QVERIFY(m_link->IsVisited());
        QVERIFY(CountColour(*m_link, QColor(LinkLabel::kVisitedColour)) > 0);
        QCOMPARE(CountColour(*m_link, QColor(LinkLabel::kLinkColour)), 0);
        QVERIFY(m_boxes.empty());
    }

    void otherAddressesGoToTheBrowserAndStayUnvisited() {
        m_link->setText(QStringLiteral("x"));
        for (const char* address : {"MAILTO:help@example.test", "https://example.test/join"}) {
            m_opened.clear();
            m_link->SetLinkUrl(QString::fromLatin1(address));
            m_link->Click();
            QCOMPARE(m_opened.size(), size_t(1));
            QCOMPARE(m_opened[0].first, OpenTarget::kBrowser);
            QCOMPARE(m_opened[0].second, QString::fromLatin1(address));
        }
        QVERIFY(!m_link->IsVisited());
        // A failing browser is not reported.
        m_openSucceeds = false;
        m_link->Click();
        QVERIFY(m_boxes.empty());
    }

    void failedMailOpenShowsTheShellText() {
        m_openSucceeds = false;
        m_link->setText(QStringLiteral("x"));
        m_link->SetLinkUrl(QStringLiteral("mailto:help@example.test"));
        m_link->Click();
        QVERIFY(!m_link->IsVisited());
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].kind, ModalBox::kWarning);
        QCOMPARE(m_boxes[0].caption, QCoreApplication::applicationName());
        QCOMPARE(m_boxes[0].text, QStringLiteral("Unable to open hyperlink:\n\nThere is no "
                                                 "application associated\nwith the given "
                                                 "filename extension."));
    }

    void errorTexts() {
        QCOMPARE(LinkLabel::OpenErrorText(26),
                 QStringLiteral("Unable to open hyperlink:\n\nA sharing violation occurred. "));
        QCOMPARE(LinkLabel::OpenErrorText(4),
                 QStringLiteral("Unable to open hyperlink:\n\nUnknown Error (4) occurred."));
        QCOMPARE(LinkLabel::OpenErrorText(0),
                 QStringLiteral("Unable to open hyperlink:\n\nThe operating system is out\nof "
                                "memory or resources."));
    }

    void ownerColourWins() {
        m_link->setText(QStringLiteral("Kelbo 회원가입"));
        m_link->SetColourOverride(QColor(240, 74, 0));
        QVERIFY(CountColour(*m_link, QColor(240, 74, 0)) > 0);
        QCOMPARE(CountColour(*m_link, QColor(LinkLabel::kLinkColour)), 0);
    }
};

SKIV_APP_TEST(LinkLabelTest);
#include "link_label_test.moc"
