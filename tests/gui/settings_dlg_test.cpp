// The served-directory dialog: what it shows, the folder chooser (through its seam), the check
// box kept for the run, and OK and Cancel changing nothing else.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <optional>

#include "app/serve_dir.h"
#include "gui/settings_dlg.h"
#include "gui_fixture.h"

namespace revuzada::test {
namespace {

// Answers the folder chooser with `answer` and remembers what it was asked.
class ScopedChooser {
public:
    explicit ScopedChooser(QString answer)
        : previous_(SetFolderChooser([this, answer](QWidget* owner, const QString& title,
                                                    const QString& start) {
              ++calls;
              this->owner = owner;
              this->title = title;
              this->start = start;
              return answer;
          })) {}
    ~ScopedChooser() { SetFolderChooser(previous_); }

    int calls = 0;
    QWidget* owner = nullptr;
    QString title, start;

private:
    FolderChooser previous_;
};

class SettingsTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        served = dir.path().string() + "/";
        SetServeDir(served);
        fs::create_directory(dir.path() / "fw");
        g_bSettingsCheck = 1;
    }
    std::unique_ptr<CSettingsDlg> Open() {
        auto dialog = CSettingsDlg::Create(nullptr);
        if (dialog) dialog->show();
        return dialog;
    }
    static QString Edit(const CSettingsDlg& d) { return d.ItemAs<QLineEdit>(IDC_SERVE_DIR)->text(); }

    std::string served;
};

TEST_F(SettingsTest, ShowsTheServedDirectoryAsStoredAndTheCheckBoxChecked) {
    auto dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Edit(*dialog).toStdString(), served);  // with its trailing '/'
    EXPECT_TRUE(dialog->ItemAs<QCheckBox>(IDC_SETTINGS_CHECK)->isChecked());
    EXPECT_EQ(dialog->windowTitle(), "Settings");
}

struct ChooserCase {
    const char* name;
    std::string answer;                 // what the chooser returns
    std::optional<std::string> served;  // the served directory afterwards; nullopt: unchanged
    std::string shown;                  // the edit box afterwards (when changed)
};

TEST_F(SettingsTest, AChosenFolderIsServedAtOnceAndShownWithoutTheSeparator) {
    const std::string fw = (dir.path() / "fw").string();
    const std::vector<ChooserCase> cases = {
        {"folder", fw, fw + "/", fw},
        {"folder with separator", fw + "/", fw + "/", fw},
        {"root", "/", "/", "/"},
        {"cancelled", "", std::nullopt, ""},
        {"not a folder", fw + "/missing", std::nullopt, ""},
    };
    for (const ChooserCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetServeDir(served);
        ScopedChooser chooser(QString::fromStdString(c.answer));
        auto dialog = Open();
        ASSERT_NE(dialog, nullptr);
        dialog->ItemAs<QPushButton>(IDC_BROWSE)->click();
        EXPECT_EQ(chooser.calls, 1);
        EXPECT_EQ(chooser.owner, dialog.get());
        EXPECT_EQ(chooser.title, "Choose the directory to serve");
        EXPECT_EQ(chooser.start.toStdString(), served);
        EXPECT_EQ(ServeDir(), c.served.value_or(served));
        EXPECT_EQ(Edit(*dialog).toStdString(), c.served ? c.shown : served);

        // Cancel keeps the choice; the next opening shows it as stored.
        dialog->reject();
        EXPECT_EQ(ServeDir(), c.served.value_or(served));
        EXPECT_EQ(Edit(*Open()).toStdString(), c.served.value_or(served));
    }
}

TEST_F(SettingsTest, TheBrowserOpensOnTheFolderChosenBefore) {
    const std::string fw = (dir.path() / "fw").string();
    {
        ScopedChooser chooser(QString::fromStdString(fw));
        Open()->ItemAs<QPushButton>(IDC_BROWSE)->click();
    }
    ScopedChooser again{QString()};
    Open()->ItemAs<QPushButton>(IDC_BROWSE)->click();
    EXPECT_EQ(again.start.toStdString(), fw + "/");
}

TEST_F(SettingsTest, CheckBoxIsStoredOnEveryClickAndCancelKeepsIt) {
    auto dialog = Open();
    auto* check = dialog->ItemAs<QCheckBox>(IDC_SETTINGS_CHECK);
    check->click();
    EXPECT_EQ(g_bSettingsCheck, 0);
    check->click();
    EXPECT_EQ(g_bSettingsCheck, 1);
    check->click();
    dialog->reject();
    EXPECT_EQ(g_bSettingsCheck, 0);
    EXPECT_FALSE(Open()->ItemAs<QCheckBox>(IDC_SETTINGS_CHECK)->isChecked());
}

TEST_F(SettingsTest, TypingIntoTheEditBoxAndOkChangeNothing) {
    auto dialog = Open();
    dialog->ItemAs<QLineEdit>(IDC_SERVE_DIR)->setText("/tmp/elsewhere");
    dialog->ItemAs<QPushButton>(IDOK)->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(ServeDir(), served);
    EXPECT_EQ(g_bSettingsCheck, 1);
}

TEST_F(SettingsTest, APackWithoutDialog130GivesNoDialog) {
    LanguagePack bare = PackFromSource("rc_en.json");
    bare.dialogs.erase(IDD_SETTINGS);
    InstallLanguagePack(bare);
    EXPECT_EQ(CSettingsDlg::Create(nullptr), nullptr);
}

TEST_F(SettingsTest, ADialogLackingSomeControlsStillOpensAndBrowses) {
    LanguagePack odd = PackFromSource("rc_en.json");
    auto& controls = odd.dialogs[IDD_SETTINGS].controls;
    std::erase_if(controls, [](const DialogControl& c) {
        return c.id == IDC_SERVE_DIR || c.id == IDC_SETTINGS_CHECK;
    });
    InstallLanguagePack(odd);
    ScopedChooser chooser(QString::fromStdString((dir.path() / "fw").string()));
    auto dialog = Open();
    ASSERT_NE(dialog, nullptr);
    dialog->ItemAs<QPushButton>(IDC_BROWSE)->click();
    EXPECT_EQ(ServeDir(), (dir.path() / "fw").string() + "/");
}

}  // namespace
}  // namespace revuzada::test
