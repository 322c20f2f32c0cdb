#pragma once
// The served-directory dialog (dialog 130 of the language pack): shows the served directory,
// lets the user pick another with a folder chooser, and keeps a check box's state for the run.

#include <QString>
#include <functional>
#include <memory>

#include "gui/pack_dialog.h"

class QWidget;

namespace revuzada {

constexpr int IDD_SETTINGS = 130;
constexpr int IDC_SERVE_DIR = 1000;
constexpr int IDC_SETTINGS_CHECK = 1001;
constexpr int IDC_BROWSE = 1002;

// The check box's last state for this run (0 unchecked, 1 checked); 1 at start. Main thread only.
extern int g_bSettingsCheck;

// Asks the user for a folder: owner, title, folder to start in. An empty result means cancelled.
using FolderChooser =
    std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

// Replaces the folder chooser (an empty one restores QFileDialog::getExistingDirectory).
// Returns the one in place before.
FolderChooser SetFolderChooser(FolderChooser chooser);

class CSettingsDlg : public CPackDialog {
    Q_OBJECT
public:
    // Built from dialog 130 of the current pack; nullptr when the pack has no such dialog.
    static std::unique_ptr<CSettingsDlg> Create(QWidget* parent);

    void OnBrowse();
    void OnSettingsCheck();

private:
    CSettingsDlg(const DialogTemplate& dialog, QWidget* parent);
};

}  // namespace revuzada
