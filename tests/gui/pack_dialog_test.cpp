// Dialogs built from the pack's templates: every kind of control where the template puts it,
// id 1 ending with OK and id 2 with Cancel.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/pack_dialog.h"
#include "gui_fixture.h"

namespace revuzada::test {
namespace {

DialogTemplate Sample() {
    DialogTemplate t;
    t.caption = "Caption";
    t.width = 320;
    t.height = 140;
    t.controls = {
        {-1, "static", "Label", 10, 10, 200, 20},
        {10, "edit", "typed", 10, 40, 200, 24},
        {11, "check", "Tick", 10, 70, 200, 22},
        {12, "button", "Other", 220, 40, 90, 24},
        {IDOK, "defbutton", "OK", 120, 105, 90, 26},
        {IDCANCEL, "button", "Cancel", 220, 105, 90, 26},
        {13, "listbox", "unknown kind", 0, 0, 10, 10},
    };
    return t;
}

TEST(PackDialog, EveryControlKindAtItsPlace) {
    CPackDialog dialog(Sample(), nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Caption");
    EXPECT_EQ(dialog.size(), QSize(320, 140));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());

    struct Expected {
        int id;
        const char* className;
        QString text;
        QRect where;
    };
    const Expected expected[] = {
        {10, "QLineEdit", "typed", {10, 40, 200, 24}},
        {11, "QCheckBox", "Tick", {10, 70, 200, 22}},
        {12, "QPushButton", "Other", {220, 40, 90, 24}},
        {IDOK, "QPushButton", "OK", {120, 105, 90, 26}},
        {IDCANCEL, "QPushButton", "Cancel", {220, 105, 90, 26}},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        QWidget* item = dialog.Item(e.id);
        ASSERT_NE(item, nullptr);
        EXPECT_STREQ(item->metaObject()->className(), e.className);
        EXPECT_EQ(item->geometry(), e.where);
        const QString text = item->property("text").toString();
        EXPECT_EQ(text, e.text);
    }
    auto labels = dialog.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front()->text(), "Label");
    EXPECT_EQ(labels.front()->geometry(), QRect(10, 10, 200, 20));
    EXPECT_EQ(dialog.Item(-1), nullptr);
    EXPECT_EQ(dialog.Item(13), nullptr);  // an unknown kind is left out
    EXPECT_TRUE(dialog.ItemAs<QPushButton>(IDOK)->isDefault());
    EXPECT_FALSE(dialog.ItemAs<QPushButton>(IDCANCEL)->isDefault());
}

TEST(PackDialog, IdOneAcceptsIdTwoRejectsOtherButtonsDoNeither) {
    struct Case {
        int id;
        int result;
    };
    for (const Case c : {Case{IDOK, QDialog::Accepted}, Case{IDCANCEL, QDialog::Rejected}}) {
        CPackDialog dialog(Sample(), nullptr);
        WhenModal([&] { dialog.ItemAs<QPushButton>(c.id)->click(); });
        EXPECT_EQ(dialog.exec(), c.result);
    }
    CPackDialog dialog(Sample(), nullptr);
    dialog.show();
    dialog.ItemAs<QPushButton>(12)->click();
    EXPECT_TRUE(dialog.isVisible());
}

TEST(PackDialog, EnterPressesTheDefaultButton) {
    CPackDialog dialog(Sample(), nullptr);
    WhenModal([&] { QTest::keyClick(dialog.Item(10), Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace revuzada::test
