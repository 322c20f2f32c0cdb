// The main window: geometry and title, the menu bar from the pack, minimise to the tray and
// back, the tray menu, the about box, a pack that lacks resources, and closing while logging.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <atomic>
#include <memory>

#include "app/app.h"
#include "gui/desktop.h"
#include "gui/log_view.h"
#include "gui/main_frame.h"
#include "gui/settings_dlg.h"
#include "gui_fixture.h"

namespace revuzada::test {
namespace {

// Puts a tray test in place for the life of a scope.
class ScopedTray {
public:
    explicit ScopedTray(bool available)
        : previous_(SetTrayAvailability([available] { return available; })) {}
    ~ScopedTray() { SetTrayAvailability(previous_); }

private:
    TrayAvailability previous_;
};

struct ItemSeen {
    int id;
    std::string text;
    bool operator==(const ItemSeen&) const = default;
};

std::vector<ItemSeen> ItemsOf(const QMenu* menu) {
    std::vector<ItemSeen> items;
    for (const QAction* action : menu->actions())
        items.push_back(action->isSeparator() ? ItemSeen{0, "-"}
                                              : ItemSeen{action->data().toInt(),
                                                         action->text().toStdString()});
    return items;
}

std::vector<ItemSeen> ItemsOf(const MenuPopup& popup) {
    std::vector<ItemSeen> items;
    for (const MenuItem& item : popup.items)
        items.push_back(item.separator ? ItemSeen{0, "-"} : ItemSeen{item.id, item.text});
    return items;
}

// Chooses the item with this command id in the open popup menu.
void ChooseInPopup(int id) {
    WhenModal([id] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->data().toInt() == id) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        ADD_FAILURE() << "no item " << id;
        menu->close();
    });
}

class MainFrameTest : public GuiTest {
protected:
    void TearDown() override {
        frame.reset();
        GuiTest::TearDown();
    }
    std::unique_ptr<CMainFrame> frame;
};

TEST_F(MainFrameTest, OpensTitled600By400AtTheTopLeftWithIconAndTray) {
    frame = CreateMainWindow();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), "Morvane QUARDEX Server");
    // The window frame's top left corner at the screen's; 600 x 400 inside it.
    EXPECT_EQ(frame->frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(frame->size(), QSize(600, 400));
    EXPECT_EQ(frame->centralWidget(), frame->view());
    EXPECT_FALSE(frame->windowIcon().isNull());
    ASSERT_NE(frame->trayIcon(), nullptr);
    EXPECT_EQ(frame->trayIcon()->toolTip(), "vizovudoza");
    EXPECT_EQ(frame->trayIcon()->icon().cacheKey(), frame->windowIcon().cacheKey());
}

TEST_F(MainFrameTest, MenuBarAndTrayMenuComeFromMenu128OfEitherPack) {
    for (const char* name : {"rc_en.json", "rc_cn.json"}) {
        SCOPED_TRACE(name);
        InstallLanguagePack(PackFromSource(name));
        const auto& popups = *CurrentPack().Menu(IDR_MAINFRAME);
        frame = std::make_unique<CMainFrame>();
        const QList<QAction*> bar = frame->menuBar()->actions();
        ASSERT_EQ(bar.size(), static_cast<qsizetype>(popups.size()));
        for (std::size_t i = 0; i < popups.size(); ++i) {
            EXPECT_EQ(bar[static_cast<qsizetype>(i)]->text().toStdString(), popups[i].text);
            EXPECT_EQ(ItemsOf(bar[static_cast<qsizetype>(i)]->menu()), ItemsOf(popups[i]));
        }
        auto tray = frame->CreateTrayMenu();
        ASSERT_NE(tray, nullptr);
        EXPECT_EQ(ItemsOf(tray.get()), ItemsOf(popups.front()));
    }
}

TEST_F(MainFrameTest, MenuBarItemsSendTheirCommands) {
    frame = CreateMainWindow();
    QMenu* file = frame->menuBar()->actions().front()->menu();
    auto item = [&](int id) {
        for (QAction* action : file->actions())
            if (action->data().toInt() == id) return action;
        return static_cast<QAction*>(nullptr);
    };

    LogFromWorker("line", 2);
    ASSERT_TRUE(WaitFor([&] { return frame->view()->RowCount() == 2; }));
    item(ID_EDIT_CLEAR)->trigger();
    EXPECT_EQ(frame->view()->RowCount(), 0);
    EXPECT_TRUE(LogListLines().empty());

    QString opened;
    WhenModal([&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        opened = dialog->metaObject()->className();
        dialog->reject();
    });
    item(ID_SETTINGS)->trigger();
    EXPECT_EQ(opened, "revuzada::CSettingsDlg");

    WhenModal([&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        opened = dialog->metaObject()->className();
        dialog->reject();
    });
    item(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(opened, "revuzada::CAboutDlg");

    QSignalSpy closed(frame.get(), &CMainFrame::closed);
    item(ID_APP_EXIT)->trigger();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(MainFrameTest, AboutBoxIsDialog100AndItsOkButtonClosesIt) {
    frame = CreateMainWindow();
    QString caption;
    std::vector<std::string> labels;
    bool accepted = false;
    WhenModal([&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        caption = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) labels.push_back(label->text().toStdString());
        QObject::connect(about, &QDialog::accepted, [&] { accepted = true; });
        about->ItemAs<QPushButton>(IDOK)->click();
    });
    frame->OnCommand(ID_APP_ABOUT);
    EXPECT_EQ(caption, "About Revuzada");
    EXPECT_EQ(labels, (std::vector<std::string>{"Revuzada TFTP server, version 0.1",
                                                 "TFTP (RFC 1350) and device notification server"}));
    EXPECT_TRUE(accepted);
}

struct MinimiseCase {
    bool tray;
    bool maximised;
};

class MinimiseTest : public MainFrameTest, public ::testing::WithParamInterface<MinimiseCase> {};

TEST_P(MinimiseTest, HidesToTheTrayWhereThereIsOneAndDoubleClickRestores) {
    const MinimiseCase c = GetParam();
    ScopedTray tray(c.tray);
    frame = CreateMainWindow();
    frame->setGeometry(40, 50, 500, 300);
    if (c.maximised) {
        frame->showMaximized();
        ASSERT_TRUE(WaitFor([&] { return frame->size() != QSize(500, 300); }));
    }
    const QRect normal = frame->normalGeometry();
    const QRect before = frame->geometry();

    frame->showMinimized();
    QApplication::processEvents();
    QApplication::processEvents();
    if (!c.tray) {
        // No tray to come back from: minimised as usual, never lost.
        EXPECT_TRUE(frame->isVisible());
        EXPECT_TRUE(frame->isMinimized());
        return;
    }
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(frame->trayIcon()->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable());

    frame->OnTrayActivated(QSystemTrayIcon::Trigger);  // a single click does nothing
    EXPECT_FALSE(frame->isVisible());

    frame->OnTrayActivated(QSystemTrayIcon::DoubleClick);
    ASSERT_TRUE(WaitFor([&] { return frame->isVisible(); }));
    EXPECT_FALSE(frame->isMinimized());
    EXPECT_EQ(frame->isMaximized(), c.maximised);
    EXPECT_EQ(frame->normalGeometry(), normal);
    EXPECT_EQ(frame->geometry(), before);

    frame->OnTrayActivated(QSystemTrayIcon::DoubleClick);  // while shown: stays shown
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->isMaximized(), c.maximised);
}

INSTANTIATE_TEST_SUITE_P(, MinimiseTest,
                         ::testing::Values(MinimiseCase{true, false}, MinimiseCase{true, true},
                                           MinimiseCase{false, false}),
                         [](const auto& info) {
                             return std::string(info.param.tray ? "Tray" : "NoTray") +
                                    (info.param.maximised ? "Maximised" : "Normal");
                         });

TEST_F(MainFrameTest, TrayRightClickOpensTheFirstPopupAndRoutesTheChoice) {
    ScopedTray tray(true);
    frame = CreateMainWindow();
    LogFromWorker("line", 2);
    ASSERT_TRUE(WaitFor([&] { return frame->view()->RowCount() == 2; }));

    ChooseInPopup(ID_EDIT_CLEAR);
    frame->OnTrayActivated(QSystemTrayIcon::Context);
    EXPECT_EQ(frame->view()->RowCount(), 0);
    EXPECT_TRUE(LogListLines().empty());

    // Also while the window is hidden in the tray; exit closes it.
    frame->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !frame->isVisible(); }));
    QSignalSpy closed(frame.get(), &CMainFrame::closed);
    ChooseInPopup(ID_APP_EXIT);
    frame->OnTrayActivated(QSystemTrayIcon::Context);
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainFrameTest, APackWithoutMenuIconOrDialogsStillWorks) {
    LanguagePack bare = PackFromSource("rc_en.json");
    bare.menus.clear();
    bare.dialogs.clear();
    bare.icons[IDR_MAINFRAME] = "not an image";
    InstallLanguagePack(bare);

    frame = CreateMainWindow();
    EXPECT_EQ(frame->menuWidget(), nullptr);  // no menu bar at all
    EXPECT_FALSE(frame->trayIcon()->icon().isNull());  // a stand-in, so the tray still works
    EXPECT_EQ(frame->CreateTrayMenu(), nullptr);

    // Commands whose dialog is missing do nothing; a right click shows no menu.
    bool modalSeen = false;
    auto watch = [&] {
        WhenModal([&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modalSeen = true;
                modal->close();
            }
            if (QWidget* popup = QApplication::activePopupWidget()) {
                modalSeen = true;
                popup->close();
            }
        });
    };
    for (int id : {ID_APP_ABOUT, ID_SETTINGS, ID_FILE_NEW, ID_FILE_OPEN, 12345}) {
        watch();
        frame->OnCommand(id);
        QApplication::processEvents();
    }
    watch();
    frame->OnTrayActivated(QSystemTrayIcon::Context);
    QApplication::processEvents();
    EXPECT_FALSE(modalSeen);

    // A pack with no icons at all: the default window icon.
    bare.icons.clear();
    InstallLanguagePack(bare);
    frame = CreateMainWindow();
    EXPECT_EQ(frame->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

TEST_F(MainFrameTest, ClosingWhileFourWorkersLogLosesNoLineAndNeverBlocks) {
    frame = CreateMainWindow();
    constexpr int kThreads = 4;
    constexpr int kLimit = 100000;  // bounded: each worker stops here at the latest
    std::atomic<bool> stop{false};
    std::atomic<int> logged[kThreads] = {};
    std::vector<std::thread> workers;
    struct Joiner {
        std::atomic<bool>& stop;
        std::vector<std::thread>& workers;
        ~Joiner() {
            stop = true;
            for (auto& worker : workers)
                if (worker.joinable()) worker.join();
        }
    } joiner{stop, workers};
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kLimit && !stop.load(); ++i) {
                LogEvent("w%d %d", t, i);
                logged[t].store(i + 1);
            }
        });

    // Once the view has taken lines, close as the program does: the window, then the view
    // goes (its lines to the file), while the workers go on logging.
    ASSERT_TRUE(WaitFor([&] { return frame->view()->RowCount() > 0; }));
    frame->close();
    DetachLogView();
    frame.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& worker : workers) worker.join();

    // Every line of every worker is in the file exactly once, in the order it was logged.
    const std::string file = LogFileAfterClose();
    std::vector<int> next(kThreads, 0);
    for (std::size_t pos = 0; pos < file.size();) {
        const std::size_t end = file.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(file.c_str() + pos + kLogPrefixLength, "w%d %d", &t, &i), 2);
        ASSERT_EQ(i, next[static_cast<std::size_t>(t)]) << "worker " << t;
        ++next[static_cast<std::size_t>(t)];
        pos = end + 2;
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[static_cast<std::size_t>(t)], logged[t].load());
}

}  // namespace
}  // namespace revuzada::test
