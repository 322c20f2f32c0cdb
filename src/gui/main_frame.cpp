#include "gui/main_frame.h"

#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStyle>

#include "gui/log_view.h"
#include "pack/language_pack.h"

namespace revuzada {

namespace {

bool DefaultTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

TrayAvailability& Tray() {
    static TrayAvailability available = DefaultTrayAvailable;
    return available;
}

// The items of one popup of a pack menu; each action carries its command id.
void AddItems(QMenu* menu, const MenuPopup& popup) {
    for (const MenuItem& item : popup.items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(item.text));
        action->setData(item.id);
    }
}

}  // namespace

TrayAvailability SetTrayAvailability(TrayAvailability available) {
    TrayAvailability previous = std::move(Tray());
    Tray() = available ? std::move(available) : TrayAvailability(DefaultTrayAvailable);
    return previous;
}

bool TrayAvailable() { return Tray()(); }

QIcon LoadPackIcon(int id) {
    const std::string* bytes = CurrentPack().Icon(id);
    if (!bytes) return {};
    QPixmap pixmap;
    if (!pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                             static_cast<uint>(bytes->size())))
        return {};
    return QIcon(pixmap);
}

std::unique_ptr<CAboutDlg> CAboutDlg::Create(QWidget* parent) {
    const DialogTemplate* dialog = CurrentPack().Dialog(IDD_ABOUTBOX);
    if (!dialog) return nullptr;
    return std::unique_ptr<CAboutDlg>(new CAboutDlg(*dialog, parent));
}

CMainFrame::CMainFrame() : view_(new CRevuzadaView(this)) {
    setCentralWidget(view_);

    const std::vector<MenuPopup>* menu = CurrentPack().Menu(IDR_MAINFRAME);
    if (menu && !menu->empty()) {
        for (const MenuPopup& popup : *menu) {
            QMenu* submenu = menuBar()->addMenu(QString::fromStdString(popup.text));
            AddItems(submenu, popup);
            connect(submenu, &QMenu::triggered, this,
                    [this](QAction* action) { OnCommand(action->data().toInt()); });
        }
    }

    const QIcon icon = LoadPackIcon(IDR_MAINFRAME);
    if (!icon.isNull()) setWindowIcon(icon);

    move(0, 0);
    resize(kWidth, kHeight);

    // A pack without the icon still gets a tray icon, or a hidden window could not come back.
    tray_ = new QSystemTrayIcon(
        icon.isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon) : icon, this);
    tray_->setToolTip(QString::fromLatin1(kTrayTip));
    connect(tray_, &QSystemTrayIcon::activated, this, &CMainFrame::OnTrayActivated);
    tray_->show();
}

CMainFrame::~CMainFrame() {
    tray_->hide();
}

void CMainFrame::OnCommand(int id) {
    if (view_->OnCommand(id)) return;
    switch (id) {
        case ID_APP_EXIT:
            close();
            break;
        case ID_APP_ABOUT:
            OnAppAbout();
            break;
        default:
            // New and open have no document to work on here; unknown ids do nothing.
            break;
    }
}

void CMainFrame::OnAppAbout() {
    if (auto about = CAboutDlg::Create(this)) about->exec();
}

std::unique_ptr<QMenu> CMainFrame::CreateTrayMenu() {
    const std::vector<MenuPopup>* menu = CurrentPack().Menu(IDR_MAINFRAME);
    if (!menu || menu->empty()) return nullptr;
    auto popup = std::make_unique<QMenu>(this);
    AddItems(popup.get(), menu->front());
    return popup;
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
        RestoreFromTray();
    } else if (reason == QSystemTrayIcon::Context) {
        std::unique_ptr<QMenu> popup = CreateTrayMenu();
        if (!popup) return;
        // Routed once the menu has closed, like a command of the menu bar.
        if (QAction* chosen = popup->exec(QCursor::pos())) OnCommand(chosen->data().toInt());
    }
}

void CMainFrame::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool minimised = windowState() & Qt::WindowMinimized;
        if (minimised && !(change->oldState() & Qt::WindowMinimized)) {
            restoreState_ = change->oldState() & ~(Qt::WindowMinimized | Qt::WindowActive);
            if (!hiding_ && TrayAvailable()) {
                hiding_ = true;
                // Not from inside the state change itself.
                QMetaObject::invokeMethod(this, [this] { HideToTray(); }, Qt::QueuedConnection);
            }
        }
    }
    QMainWindow::changeEvent(event);
}

void CMainFrame::HideToTray() {
    hiding_ = false;
    if (!(windowState() & Qt::WindowMinimized)) return;  // restored meanwhile
    // The window keeps its minimised state while hidden: taking back the earlier state now
    // would have the platform map it again behind Qt's back.
    hide();
}

void CMainFrame::RestoreFromTray() {
    // The earlier state first, then shown: it comes back with its size and position, maximised
    // if it was, without passing through the minimised state on screen.
    if (windowState() & Qt::WindowMinimized) setWindowState(restoreState_);
    if (!isVisible()) show();
    raise();
    activateWindow();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->accept();
    QMainWindow::closeEvent(event);
    tray_->hide();
    emit closed();
}

}  // namespace revuzada
