#pragma once
// A modal dialog laid out from a dialog template of the language pack: every control at its
// x, y, w, h in pixels. A button with id 1 ends the dialog with OK, one with id 2 with Cancel.

#include <QDialog>
#include <map>

#include "pack/language_pack.h"

namespace revuzada {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

class CPackDialog : public QDialog {
    Q_OBJECT
public:
    CPackDialog(const DialogTemplate& dialog, QWidget* parent);

    // The control with this id (the first one, should the template repeat an id), or nullptr.
    QWidget* Item(int id) const;
    template <typename T>
    T* ItemAs(int id) const {
        return qobject_cast<T*>(Item(id));
    }

private:
    std::map<int, QWidget*> items_;
};

}  // namespace revuzada
