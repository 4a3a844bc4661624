#pragma once
// VersionsBox: the small list box of the member panel's versions link. A
// frameless box in the window's skin (white ground, the orange frame and
// title of the main window, its static font) listing the stored versions
// newest first (number, date, size, computer, files changed), with an
// install and a close link. Chosen() is the version picked for install,
// 0 when the box was closed. GUI thread only.

#include <QDialog>
#include <vector>

#include "service/delta_exchange.h"

class QListWidget;

namespace skiv::app {

class Skin;

class VersionsBox final : public QDialog {
public:
    VersionsBox(const Skin& skin, const std::vector<VersionInfo>& versions,
                QWidget* parent = nullptr);
    int Chosen() const { return m_chosen; }
    // One line of the list, as shown.
    static QString LineOf(const VersionInfo& v);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Choose();

    QListWidget* m_list = nullptr;
    std::vector<int> m_numbers;
    int m_chosen = 0;
};

}  // namespace skiv::app
