// The About box: the program's icon and "Calvora V2.1.0" with an OK button.
#pragma once

#include <QDialog>

namespace calvora {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    // Dialog units to pixels with the dialog's font (4 horizontal units per average character width, 8
    // vertical units per line).
    QRect DialogRect(int x, int y, int width, int height) const;
};

} // namespace calvora
