// FlavorChooser: the rows it shows, the row marked first, and what OK,
// a double-click and an empty selection give.

#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "app/flavor_chooser.h"
#include "app_tests.h"

using skiv::FlavorChoice;
using skiv::app::FlavorChooser;

class FlavorChooserTest : public QObject {
    Q_OBJECT

    const std::vector<FlavorChoice> m_choices{
        {"_retail_", "본 서버", "/g/World of Warcraft/_retail_/"},
        {"_classic_", "클래식", "/g/World of Warcraft/_classic_/"},
        {"", "월드 오브 워크래프트", "/old/World of Warcraft/"}};

private slots:
    void marksTheRememberedRowAndReturnsTheOneChosen() {
        FlavorChooser dlg(m_choices, 1);
        dlg.show();
        QCOMPARE(dlg.List()->count(), 3);
        QCOMPARE(dlg.List()->item(1)->text(),
                 QStringLiteral("클래식  (_classic_)\n/g/World of Warcraft/_classic_/"));
        // The one-folder layout has no flavor folder to name.
        QCOMPARE(dlg.List()->item(2)->text(),
                 QStringLiteral("월드 오브 워크래프트\n/old/World of Warcraft/"));
        QCOMPARE(dlg.Chosen(), 1);
        QVERIFY(dlg.OkButton()->isEnabled());

        dlg.List()->clearSelection();
        QVERIFY(!dlg.OkButton()->isEnabled());
        QCOMPARE(dlg.Chosen(), -1);

        QListWidgetItem* last = dlg.List()->item(2);
        const QRect r = dlg.List()->visualItemRect(last);
        // As a person double-clicks: a press and release, then the second.
        QTest::mouseClick(dlg.List()->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(dlg.List()->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.Chosen(), 2);
    }
};

SKIV_APP_TEST(FlavorChooserTest);
#include "flavor_chooser_test.moc"
