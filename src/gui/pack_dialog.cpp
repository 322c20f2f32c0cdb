#include "gui/pack_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace revuzada {

CPackDialog::CPackDialog(const DialogTemplate& dialog, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromStdString(dialog.caption));
    for (const DialogControl& control : dialog.controls) {
        const QString label = QString::fromStdString(control.text);
        QWidget* widget = nullptr;
        if (control.type == "static") {
            auto* text = new QLabel(label, this);
            text->setWordWrap(true);  // static text breaks at words, as the platform's does
            widget = text;
        } else if (control.type == "edit") {
            widget = new QLineEdit(label, this);
        } else if (control.type == "check") {
            widget = new QCheckBox(label, this);
        } else if (control.type == "button" || control.type == "defbutton") {
            auto* button = new QPushButton(label, this);
            button->setAutoDefault(false);
            if (control.type == "defbutton") button->setDefault(true);
            if (control.id == IDOK) connect(button, &QPushButton::clicked, this, &QDialog::accept);
            if (control.id == IDCANCEL)
                connect(button, &QPushButton::clicked, this, &QDialog::reject);
            widget = button;
        } else {
            continue;  // a kind of control this program does not know: left out
        }
        widget->setGeometry(control.x, control.y, control.w, control.h);
        if (control.id >= 0) items_.emplace(control.id, widget);
    }
    QSize size(dialog.width, dialog.height);
    if (size.width() <= 0 || size.height() <= 0) size = childrenRect().size() + QSize(12, 12);
    setFixedSize(size);
}

QWidget* CPackDialog::Item(int id) const {
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : it->second;
}

}  // namespace revuzada
