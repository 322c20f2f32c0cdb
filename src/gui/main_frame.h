#pragma once
// The main window: the log view under a menu bar built from menu 128 of the language pack, and
// a tray icon for as long as the window exists. Minimising hides the window to the tray where
// the desktop has one; a double click on the icon brings it back, a right click opens the first
// popup of menu 128 at the pointer.

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "gui/pack_dialog.h"

class QMenu;

namespace revuzada {

class CRevuzadaView;

constexpr int IDR_MAINFRAME = 128;
constexpr int IDD_ABOUTBOX = 100;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr const char* kTrayTip = "vizovudoza";

// Whether the desktop offers a tray; by default QSystemTrayIcon::isSystemTrayAvailable().
using TrayAvailability = std::function<bool()>;
// Replaces the tray test (an empty one restores the default); returns the one in place before.
TrayAvailability SetTrayAvailability(TrayAvailability available);
bool TrayAvailable();

// Icon `id` of the language pack; a null icon when the pack has none or it is not an image.
QIcon LoadPackIcon(int id);

// The about box: dialog 100 of the language pack, with nothing of its own.
class CAboutDlg : public CPackDialog {
    Q_OBJECT
public:
    // nullptr when the pack has no dialog 100.
    static std::unique_ptr<CAboutDlg> Create(QWidget* parent);

private:
    using CPackDialog::CPackDialog;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 400;

    CMainFrame();
    ~CMainFrame() override;

    CRevuzadaView* view() const { return view_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }

    // Routes a menu command: to the view first, then the frame, then the application.
    void OnCommand(int id);
    void OnAppAbout();
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);

    // The tray menu: the first popup of menu 128, built afresh; nullptr when the pack has none.
    std::unique_ptr<QMenu> CreateTrayMenu();

signals:
    void closed();  // the user (or a stop signal) closed the window

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void HideToTray();
    void RestoreFromTray();

    CRevuzadaView* view_;
    QSystemTrayIcon* tray_ = nullptr;
    Qt::WindowStates restoreState_ = Qt::WindowNoState;
    bool hiding_ = false;
};

}  // namespace revuzada
