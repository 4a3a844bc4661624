#include "app/folder_chooser.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "app/dialog_units.h"
#include "app/skin.h"

namespace skiv::app {

namespace {

constexpr int kRoleName = Qt::UserRole;        // file-system name, or a drive's mount path
constexpr int kRoleKind = Qt::UserRole + 1;    // Kind
constexpr int kRoleListed = Qt::UserRole + 2;  // children were listed once

// Base units of the chooser's 8-pt dialog font.
QRect Du(int x, int y, int w, int h) {
    return MapDialogRect(x, y, w, h, 6, 13);
}

QIcon TreeIcon(int image, int selectedImage) {
    const Skin& skin = Skin::Instance();
    QIcon icon(skin.TreeImage(image));
    if (selectedImage >= 0 && selectedImage != image)
        icon.addPixmap(skin.TreeImage(selectedImage), QIcon::Selected);
    return icon;
}

// Splits at '/': "/a/b/" gives "", "a", "b", "".
QStringList Components(const QString& path) {
    return path.split(QLatin1Char('/'));
}

}  // namespace

FolderChooser::FolderChooser(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("폴더 선택"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(Skin::Instance().AppIcon());
    setFixedSize(Du(0, 0, 186, 218).size());

    m_label = new QLabel(QStringLiteral("Static"), this);
    m_label->setObjectName(QStringLiteral("pathLabel"));
    m_label->setGeometry(Du(7, 7, 172, 10));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_label->setTextFormat(Qt::PlainText);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->setGeometry(Du(7, 17, 172, 178));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setRootIsDecorated(true);
    m_tree->setIconSize(QSize(17, 16));
    m_tree->setUniformRowHeights(true);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);

    m_ok = new QPushButton(QStringLiteral("확인"), this);
    m_ok->setObjectName(QStringLiteral("1"));
    m_ok->setGeometry(Du(7, 197, 50, 14));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("취소"), this);
    m_cancel->setObjectName(QStringLiteral("2"));
    m_cancel->setGeometry(Du(129, 197, 50, 14));

    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { OnItemExpanding(item); });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] { OnSelectionChanged(); });
}

FolderChooser::~FolderChooser() = default;

QString FolderChooser::CapitalizeIfAllUpper(const QString& name) {
    for (QChar c : name)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            return name;
    // Lower-cases ASCII only, as the rule looks at ASCII letters only.
    QString out = name;
    for (QChar& c : out)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    if (!out.isEmpty() && out[0] >= QLatin1Char('a') && out[0] <= QLatin1Char('z'))
        out[0] = QChar(out[0].unicode() - 32);
    return out;
}

void FolderChooser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
}

void FolderChooser::OnInitDialog() {
    if (!m_drivesGiven)
        m_drives = MountedDrives();
    m_ok->setEnabled(false);
    for (const DriveRoot& d : m_drives) {
        if (d.type < kDriveRemovable || d.type > kDriveRamDisk)
            continue;
        QString name = d.path;
        if (name.size() > 1 && name.endsWith(QLatin1Char('/')))
            name.chop(1);
        QTreeWidgetItem* item = InsertTreeItem(nullptr, kDrive, name, d.type, d.type);
        item->setData(0, kRoleName, d.path);
    }
    m_networkRoot = InsertTreeItem(nullptr, kNetworkRoot, QStringLiteral("Network Neighborhood"),
                                   kImageNetwork, kImageNetwork);
    OpenInitialPath();
}

// The drive is the mount point that holds the path (the longest one that
// prefixes it); its components below are matched child by child, exactly
// first, then ignoring case.
void FolderChooser::OpenInitialPath() {
    const QString path = m_strPath;
    if (path.startsWith(QLatin1String("//"))) {
        OnItemExpanding(m_networkRoot);
        m_networkRoot->setExpanded(true);
        return;
    }
    QTreeWidgetItem* current = nullptr;
    int bestLength = -1;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = m_tree->topLevelItem(i);
        if (top->data(0, kRoleKind).toInt() != kDrive)
            continue;
        const QString mount = top->data(0, kRoleName).toString();
        const bool holds = path.startsWith(mount) || path + QLatin1Char('/') == mount;
        if (holds && mount.size() > bestLength) {
            current = top;
            bestLength = static_cast<int>(mount.size());
        }
    }
    if (!current)
        return;
    OnItemExpanding(current);
    current->setExpanded(true);

    const QStringList parts = Components(path.mid(bestLength));
    for (const QString& part : parts) {
        if (part.isEmpty())
            continue;
        QTreeWidgetItem* match = nullptr;
        for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (int i = 0; i < current->childCount() && !match; ++i) {
                QTreeWidgetItem* child = current->child(i);
                if (child->data(0, kRoleName).toString().compare(part, cs) == 0)
                    match = child;
            }
            if (match)
                break;
        }
        if (!match)
            continue;
        OnItemExpanding(match);
        match->setExpanded(true);
        current = match;
    }
    m_tree->scrollToItem(current);
}

QTreeWidgetItem* FolderChooser::InsertTreeItem(QTreeWidgetItem* parent, Kind kind,
                                               const QString& name, int image, int selectedImage) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, CapitalizeIfAllUpper(name));
    item->setData(0, kRoleName, name);
    item->setData(0, kRoleKind, kind);
    item->setIcon(0, TreeIcon(image, selectedImage < 0 ? image : selectedImage));
    // Every item starts with an expand button; listing removes it when
    // nothing turns up.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    if (parent)
        parent->addChild(item);
    else
        m_tree->addTopLevelItem(item);
    return item;
}

QString FolderChooser::GetItemPath(const QTreeWidgetItem* item) const {
    QString path;
    for (; item; item = item->parent()) {
        const int kind = item->data(0, kRoleKind).toInt();
        const QString name = item->data(0, kRoleName).toString();
        if (kind == kNetworkContainer)
            return name + QLatin1Char('/') + path;
        if (kind == kDrive)
            return name + path;  // the mount path ends with '/'
        path.prepend(name + QLatin1Char('/'));
    }
    return path;
}

void FolderChooser::OnItemExpanding(QTreeWidgetItem* item) {
    if (!item || item->childCount() > 0 || item->data(0, kRoleListed).toBool())
        return;
    item->setData(0, kRoleListed, true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    PopulateItem(item);
    if (!item->isSelected() || m_tree->currentItem() != item)
        m_tree->setCurrentItem(item);
    QApplication::restoreOverrideCursor();
}

bool FolderChooser::PopulateItem(QTreeWidgetItem* item) {
    bool added = false;
    const int kind = item->data(0, kRoleKind).toInt();
    if (kind == kNetworkRoot || kind == kNetworkContainer) {
        added = EnumerateNetwork(item);
    } else {
        // Hidden folders too; sorted by name, ignoring case, as users of the
        // chooser expect (a Linux listing comes in no useful order).
        const QDir dir(GetItemPath(item));
        const QStringList names =
            dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                          QDir::Name | QDir::IgnoreCase);
        for (const QString& name : names) {
            InsertTreeItem(item, kFolder, name, kImageFolder, kImageFolderOpen);
            added = true;
        }
    }
    if (!added)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    return added;
}

// There is no network browse service to ask here: the network lists
// nothing, and its item loses the expand button.
bool FolderChooser::EnumerateNetwork(QTreeWidgetItem*) {
    return false;
}

void FolderChooser::OnSelectionChanged() {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.front();
    // No selection (a Ctrl+click deselects) leaves nothing to return.
    if (!item) {
        m_ok->setEnabled(false);
        m_label->setText(QString());
        return;
    }
    const int kind = item->data(0, kRoleKind).toInt();
    if (kind == kNetworkRoot || kind == kNetworkContainer) {
        m_ok->setEnabled(false);
        m_label->setText(QString());
        return;
    }
    m_ok->setEnabled(true);
    m_label->setText(GetItemPath(item));
}

void FolderChooser::done(int result) {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    m_strPath = selected.isEmpty() ? QString() : GetItemPath(selected.front());
    m_tree->clear();
    m_networkRoot = nullptr;
    QDialog::done(result);
}

}  // namespace skiv::app
