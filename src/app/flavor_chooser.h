#pragma once
// FlavorChooser: the modal list of installed game flavors, in the window's
// skin (its logged-in background under a dark veil, the logo, the stone
// colours). Each row shows the flavor's Korean name and folder name, and
// the game folder beneath. OK is enabled while a row is selected; a
// double-click chooses too.
//
// Use: construct with the rows and the row marked first, exec(), then
// Chosen() after Accepted. GUI thread only.

#include <QDialog>
#include <vector>

#include "workspace/window_ops.h"

class QListWidget;
class QPushButton;

namespace skiv::app {

class FlavorChooser : public QDialog {
public:
    FlavorChooser(const std::vector<FlavorChoice>& choices, std::size_t preselected,
                  QWidget* parent = nullptr);

    // The selected row, -1 for none.
    int Chosen() const;

    QListWidget* List() const { return m_list; }
    QPushButton* OkButton() const { return m_ok; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QListWidget* m_list;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

}  // namespace skiv::app
