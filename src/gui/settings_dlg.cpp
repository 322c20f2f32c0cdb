#include "gui/settings_dlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "app/serve_dir.h"
#include "log/catalogue.h"

namespace revuzada {

int g_bSettingsCheck = 1;

namespace {

QString DefaultChooser(QWidget* owner, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, title, start);
}

FolderChooser& Chooser() {
    static FolderChooser chooser = DefaultChooser;
    return chooser;
}

}  // namespace

FolderChooser SetFolderChooser(FolderChooser chooser) {
    FolderChooser previous = std::move(Chooser());
    Chooser() = chooser ? std::move(chooser) : FolderChooser(DefaultChooser);
    return previous;
}

std::unique_ptr<CSettingsDlg> CSettingsDlg::Create(QWidget* parent) {
    const DialogTemplate* dialog = CurrentPack().Dialog(IDD_SETTINGS);
    if (!dialog) return nullptr;
    return std::unique_ptr<CSettingsDlg>(new CSettingsDlg(*dialog, parent));
}

CSettingsDlg::CSettingsDlg(const DialogTemplate& dialog, QWidget* parent)
    : CPackDialog(dialog, parent) {
    // The directory exactly as stored, trailing separator included.
    if (auto* edit = ItemAs<QLineEdit>(IDC_SERVE_DIR))
        edit->setText(QFile::decodeName(QByteArray::fromStdString(ServeDir())));
    if (auto* check = ItemAs<QCheckBox>(IDC_SETTINGS_CHECK)) {
        check->setChecked(g_bSettingsCheck != 0);
        connect(check, &QCheckBox::clicked, this, &CSettingsDlg::OnSettingsCheck);
    }
    if (auto* browse = ItemAs<QPushButton>(IDC_BROWSE))
        connect(browse, &QPushButton::clicked, this, &CSettingsDlg::OnBrowse);
}

void CSettingsDlg::OnSettingsCheck() {
    if (auto* check = ItemAs<QCheckBox>(IDC_SETTINGS_CHECK))
        g_bSettingsCheck = check->isChecked() ? 1 : 0;
}

void CSettingsDlg::OnBrowse() {
    const QString title = QString::fromUtf8(LoadText(IDS_BROWSE_TITLE));
    const QString start = QFile::decodeName(QByteArray::fromStdString(ServeDir()));
    const FolderChooser chooser = Chooser();  // a copy: the chooser may replace itself
    const QString chosen = chooser(this, title, start);
    if (chosen.isEmpty()) return;  // cancelled: nothing changes

    // Only an existing folder is served; the path is stored absolute and clean, so "/srv/fw/"
    // and "/srv/fw" are the same choice and the root stays "/".
    const QFileInfo info(chosen);
    if (!info.isDir()) return;
    const QString shown = QDir::cleanPath(info.absoluteFilePath());

    if (auto* edit = ItemAs<QLineEdit>(IDC_SERVE_DIR)) edit->setText(shown);
    SetServeDir(QFile::encodeName(shown).toStdString());  // adds the trailing '/', not to "/"
}

}  // namespace revuzada
