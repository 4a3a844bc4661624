// FolderChooser on a temporary tree standing in for a drive.

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/folder_chooser.h"
#include "app_tests.h"

using skiv::app::DriveRoot;
using skiv::app::FolderChooser;

namespace {

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text)
            return parent->child(i);
    return nullptr;
}

}  // namespace

class FolderChooserTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_root;  // the temporary "drive", ending with '/'

    // A dialog over the temporary drive, shown (which builds the tree).
    std::unique_ptr<FolderChooser> Open(const QString& initial) {
        auto dlg = std::make_unique<FolderChooser>();
        dlg->SetDrives({DriveRoot{m_root, skiv::app::kDriveFixed}});
        dlg->SetPath(initial);
        dlg->show();
        return dlg;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        m_root = m_tmp.path() + QLatin1Char('/');
        QDir d(m_root);
        for (const char* sub :
             {"DATA", "MyData", "Games/WoW/Interface", "Games/Other", "empty", ".hidden"})
            QVERIFY(d.mkpath(QString::fromLatin1(sub)));
        QFile file(m_root + QStringLiteral("Games/notafolder.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void capitalizeIfAllUpper() {
        QCOMPARE(FolderChooser::CapitalizeIfAllUpper(QStringLiteral("WINDOWS")),
                 QStringLiteral("Windows"));
        QCOMPARE(FolderChooser::CapitalizeIfAllUpper(QStringLiteral("MyData")),
                 QStringLiteral("MyData"));
        QCOMPARE(FolderChooser::CapitalizeIfAllUpper(QStringLiteral("C:")), QStringLiteral("C:"));
        QCOMPARE(FolderChooser::CapitalizeIfAllUpper(QStringLiteral("WOW_2")),
                 QStringLiteral("Wow_2"));
        QCOMPARE(FolderChooser::CapitalizeIfAllUpper(QStringLiteral("한글DIR")),
                 QStringLiteral("한글dir"));
    }

    void initialPathIsOpenedComponentByComponent() {
        auto dlg = Open(m_root + QStringLiteral("games/wow/"));  // case differs: still found
        QTreeWidgetItem* drive = dlg->Tree()->topLevelItem(0);
        QVERIFY(drive->isExpanded());
        QTreeWidgetItem* games = Child(drive, QStringLiteral("Games"));
        QVERIFY(games && games->isExpanded());
        QTreeWidgetItem* wow = Child(games, QStringLiteral("WoW"));
        QVERIFY(wow);
        QCOMPARE(dlg->Tree()->currentItem(), wow);
        QVERIFY(dlg->OkButton()->isEnabled());
        // Paths use the names on disk, not the shown ones.
        QCOMPARE(dlg->PathLabel()->text(), m_root + QStringLiteral("Games/WoW/"));
        // Files are not listed; hidden folders are.
        QVERIFY(!Child(games, QStringLiteral("notafolder.txt")));
        QVERIFY(Child(drive, QStringLiteral(".hidden")));
        // The last item is the one the dialog returns.
        dlg->accept();
        QCOMPARE(dlg->GetPath(), m_root + QStringLiteral("Games/WoW/"));
    }

    void shownNamesAreCapitalisedPathsAreNot() {
        auto dlg = Open(m_root);
        QTreeWidgetItem* drive = dlg->Tree()->topLevelItem(0);
        QTreeWidgetItem* data = Child(drive, QStringLiteral("Data"));
        QVERIFY(data);
        QVERIFY(Child(drive, QStringLiteral("MyData")));
        QCOMPARE(dlg->GetItemPath(data), m_root + QStringLiteral("DATA/"));
        QVERIFY(QDir(dlg->GetItemPath(data)).exists());
    }

    void unmatchedStartExpandsNothing() {
        auto dlg = Open(QStringLiteral("/no/such/place/"));
        QTreeWidgetItem* drive = dlg->Tree()->topLevelItem(0);
        QVERIFY(!drive->isExpanded());
        QCOMPARE(drive->childCount(), 0);
        QCOMPARE(dlg->PathLabel()->text(), QStringLiteral("Static"));
        QVERIFY(!dlg->OkButton()->isEnabled());
        // Drives first, then the network.
        QCOMPARE(dlg->Tree()->topLevelItemCount(), 2);
        QCOMPARE(dlg->Tree()->topLevelItem(1), dlg->NetworkRoot());
        QCOMPARE(dlg->NetworkRoot()->text(0), QStringLiteral("Network Neighborhood"));
    }

    void okOnlyForFolders() {
        auto dlg = Open(m_root);
        dlg->Tree()->setCurrentItem(dlg->NetworkRoot());
        QVERIFY(!dlg->OkButton()->isEnabled());
        QCOMPARE(dlg->PathLabel()->text(), QString());
        QTreeWidgetItem* drive = dlg->Tree()->topLevelItem(0);
        dlg->Tree()->setCurrentItem(drive);
        QVERIFY(dlg->OkButton()->isEnabled());
        QCOMPARE(dlg->PathLabel()->text(), m_root);
    }

    void deselectedChooserKeepsOkDisabled() {
        auto dlg = Open(m_root + QStringLiteral("MyData/"));
        QTreeWidgetItem* item = dlg->Tree()->currentItem();
        QVERIFY(item && item->isSelected());
        QVERIFY(dlg->OkButton()->isEnabled());
        QTest::mouseClick(dlg->Tree()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          dlg->Tree()->visualItemRect(item).center());
        QVERIFY(dlg->Tree()->selectedItems().isEmpty());
        QVERIFY(!dlg->OkButton()->isEnabled());
        QCOMPARE(dlg->PathLabel()->text(), QString());
    }

    void expandingListsOnceAndDropsTheButtonWhenEmpty() {
        auto dlg = Open(m_root);
        QTreeWidgetItem* drive = dlg->Tree()->topLevelItem(0);
        QTreeWidgetItem* empty = Child(drive, QStringLiteral("empty"));
        QVERIFY(empty);
        QCOMPARE(empty->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        empty->setExpanded(true);
        QCOMPARE(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
        QCOMPARE(dlg->Tree()->currentItem(), empty);  // expanding selects

        // The network lists nothing here.
        dlg->NetworkRoot()->setExpanded(true);
        QCOMPARE(dlg->NetworkRoot()->childCount(), 0);
        QCOMPARE(dlg->NetworkRoot()->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

        QTreeWidgetItem* games = Child(drive, QStringLiteral("Games"));
        games->setExpanded(true);
        const int listed = games->childCount();
        QCOMPARE(listed, 2);
        games->setExpanded(false);
        games->setExpanded(true);
        QCOMPARE(games->childCount(), listed);
    }

    void cancelLeavesTheSelectionPathToo() {
        auto dlg = Open(m_root + QStringLiteral("MyData/"));
        dlg->reject();
        QCOMPARE(dlg->result(), int(QDialog::Rejected));
        QCOMPARE(dlg->GetPath(), m_root + QStringLiteral("MyData/"));
    }

    void driveTypesAndMounts() {
        using skiv::app::DriveTypeOf;
        QCOMPARE(DriveTypeOf(QStringLiteral("nfs4"), QStringLiteral("/mnt/share/")),
                 int(skiv::app::kDriveRemote));
        QCOMPARE(DriveTypeOf(QStringLiteral("cifs"), QStringLiteral("/media/x/")),
                 int(skiv::app::kDriveRemote));
        QCOMPARE(DriveTypeOf(QStringLiteral("iso9660"), QStringLiteral("/media/cd/")),
                 int(skiv::app::kDriveCdRom));
        QCOMPARE(DriveTypeOf(QStringLiteral("tmpfs"), QStringLiteral("/tmp/")),
                 int(skiv::app::kDriveRamDisk));
        QCOMPARE(DriveTypeOf(QStringLiteral("vfat"), QStringLiteral("/media/u/STICK/")),
                 int(skiv::app::kDriveRemovable));
        QCOMPARE(DriveTypeOf(QStringLiteral("ext4"), QStringLiteral("/")),
                 int(skiv::app::kDriveFixed));

        const auto drives = skiv::app::MountedDrives();
        bool root = false;
        for (const DriveRoot& d : drives) {
            QVERIFY2(d.path.endsWith(QLatin1Char('/')), qPrintable(d.path));
            QVERIFY2(!d.path.startsWith(QLatin1String("/proc")), qPrintable(d.path));
            root = root || d.path == QLatin1String("/");
        }
        QVERIFY(root);
    }
};

SKIV_APP_TEST(FolderChooserTest);
#include "folder_chooser_test.moc"
