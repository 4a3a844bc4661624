#pragma once
// FolderChooser: the modal folder chooser. A lazy tree of the drives
// (mount points here) and "Network Neighborhood"; an item's sub-folders are
// listed the first time it is expanded. OK is enabled only while a folder
// (or drive) item is selected; the path label shows its path.
//
// Use: SetPath(initial folder), exec(), then GetPath() after Accepted: the
// path of the selected item, ending with '/'. The initial path is opened
// component by component when the dialog is first shown.
//
// Items show their names through CapitalizeIfAllUpper but remember the
// names the file system gave, which build the paths. Runs on the thread
// that opens it (the GUI thread; workers reach it through the window).

#include <QDialog>
#include <vector>

#include "app/drive_list.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace skiv::app {

class FolderChooser : public QDialog {
public:
    // Tree images, indexes into bitmap 151.
    enum Image : int { kImageFolderOpen = 0, kImageFolder = 1, kImageNetwork = 7 };

    explicit FolderChooser(QWidget* parent = nullptr);
    ~FolderChooser() override;

    // The folder to open at start; after closing, the selected item's path.
    void SetPath(const QString& path) { m_strPath = path; }
    QString GetPath() const { return m_strPath; }
    // Replaces the mount points listed as drives (before the first show).
    void SetDrives(std::vector<DriveRoot> drives) {
        m_drives = std::move(drives);
        m_drivesGiven = true;
    }

    // "WINDOWS" -> "Windows"; a name with a lower-case ASCII letter, or
    // none at all ("C:"), keeps its case.
    static QString CapitalizeIfAllUpper(const QString& name);

    // The path of an item, ending with '/'.
    QString GetItemPath(const QTreeWidgetItem* item) const;

    QTreeWidget* Tree() const { return m_tree; }
    QPushButton* OkButton() const { return m_ok; }
    QLabel* PathLabel() const { return m_label; }
    QTreeWidgetItem* NetworkRoot() const { return m_networkRoot; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum Kind : int { kDrive, kFolder, kNetworkRoot, kNetworkContainer };

    void OnInitDialog();
    void OpenInitialPath();
    // Lists the children the first time an item opens; selects it.
    void OnItemExpanding(QTreeWidgetItem* item);
    bool PopulateItem(QTreeWidgetItem* item);
    bool EnumerateNetwork(QTreeWidgetItem* item);
    void OnSelectionChanged();
    QTreeWidgetItem* InsertTreeItem(QTreeWidgetItem* parent, Kind kind, const QString& name,
                                    int image, int selectedImage);

    QTreeWidget* m_tree;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QLabel* m_label;
    QTreeWidgetItem* m_networkRoot = nullptr;
    QString m_strPath;
    std::vector<DriveRoot> m_drives;
    bool m_drivesGiven = false;
    bool m_initialised = false;
};

}  // namespace skiv::app
