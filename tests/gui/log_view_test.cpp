// The log view mirrors the event log's list: lines from workers in order and in batches, the
// clear command, the overflow at 2049 lines, and its lines written out when it goes away.
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <memory>

#include "gui/log_view.h"
#include "gui/settings_dlg.h"
#include "gui_fixture.h"

namespace revuzada::test {
namespace {

class LogViewTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        view = std::make_unique<CRevuzadaView>();
        view->resize(600, 300);
        view->show();
    }
    void TearDown() override {
        view.reset();
        GuiTest::TearDown();
    }

    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int i = 0; i < view->RowCount(); ++i) rows.push_back(view->RowText(i).toStdString());
        return rows;
    }
    bool LastRowInView() const {
        const QModelIndex last = view->model()->index(view->RowCount() - 1, 0);
        return view->viewport()->rect().contains(view->visualRect(last).center());
    }

    std::unique_ptr<CRevuzadaView> view;
};

TEST_F(LogViewTest, LinesFromWorkersArriveInListOrderAsOneBatchAndTheNewestIsInView) {
    QSignalSpy inserted(view->model(), &QAbstractItemModel::rowsInserted);
    // Four workers log while the GUI thread is busy: all their lines come in one batch.
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < 150; ++i) LogEvent("worker %d line %d", t, i);
        });
    for (auto& worker : workers) worker.join();

    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 600; }));
    EXPECT_EQ(Rows(), LogListLines());
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_TRUE(LastRowInView());

    // Each worker's lines in the order it logged them.
    std::vector<int> next(4, 0);
    for (const std::string& row : Rows()) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(Message(row).c_str(), "worker %d line %d", &t, &i), 2) << row;
        EXPECT_EQ(i, next[static_cast<std::size_t>(t)]++);
    }

    // A later batch appends below and scrolls again.
    LogFromWorker("later", 3);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 603; }));
    EXPECT_EQ(Message(view->RowText(602)), "later 2");
    EXPECT_TRUE(LastRowInView());
}

TEST_F(LogViewTest, ClearEmptiesTheListForGoodAndTheNextLineIsRowZero) {
    view->OnEditClear();  // clearing an empty list changes nothing
    EXPECT_EQ(view->RowCount(), 0);

    LogFromWorker("cleared", 3);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 3; }));
    EXPECT_TRUE(view->OnCommand(ID_EDIT_CLEAR));
    EXPECT_EQ(view->RowCount(), 0);
    EXPECT_TRUE(LogListLines().empty());

    LogFromWorker("kept", 1);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 1; }));
    EXPECT_EQ(Message(view->RowText(0)), "kept 0");

    view.reset();  // the remaining row goes to the file; the cleared ones never do
    const std::string file = LogFileAfterClose();
    EXPECT_EQ(file.find("cleared"), std::string::npos);
    EXPECT_NE(file.find("] kept 0\r\n"), std::string::npos);
}

TEST_F(LogViewTest, OverflowReplacesAllRowsByTheNextLine) {
    LogFromWorker("fill", 2049);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 2049; }));
    LogFromWorker("overflow", 1);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 1; }));
    EXPECT_EQ(Message(view->RowText(0)), "overflow 0");

    view.reset();
    const std::string file = LogFileAfterClose();
    EXPECT_NE(file.find("] fill 0\r\n"), std::string::npos);
    EXPECT_NE(file.find("] fill 2048\r\n"), std::string::npos);
    EXPECT_LT(file.find("] fill 2048\r\n"), file.find("] overflow 0\r\n"));
}

TEST_F(LogViewTest, OneColumnHeadedFromThePackThousandPixelsWideOnGrey) {
    view->resize(1400, 300);  // wider than the column: it stays 1000 pixels
    QApplication::processEvents();
    EXPECT_EQ(view->model()->columnCount(), 1);
    EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), "Log");
    EXPECT_EQ(view->header()->sectionSize(0), 1000);

    // Rows and the empty part below them on RGB(212, 208, 200).
    LogFromWorker("row", 2);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 2; }));
    const QImage shot = view->viewport()->grab().toImage();
    const QColor grey(212, 208, 200);
    EXPECT_EQ(shot.pixelColor(shot.width() - 5, shot.height() - 5), grey);
    const QRect row = view->visualRect(view->model()->index(1, 0));
    EXPECT_EQ(shot.pixelColor(980, row.center().y()), grey);  // right of the short text
}

TEST_F(LogViewTest, OneSelectedRowAcrossTheRowStillShownWithoutFocus) {
    LogFromWorker("row", 3);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 3; }));
    auto* selection = view->selectionModel();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(0, 0)).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view->visualRect(view->model()->index(2, 0)).center());
    ASSERT_EQ(selection->selectedRows().size(), 1);
    EXPECT_EQ(selection->selectedRows().front().row(), 2);

    // Without the focus, the row is still highlighted to its right end.
    view->clearFocus();
    QApplication::processEvents();
    const QImage shot = view->viewport()->grab().toImage();
    const QRect row = view->visualRect(view->model()->index(2, 0));
    const QColor highlight = view->palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(shot.pixelColor(std::min(row.right(), shot.width()) - 3, row.center().y()), highlight);
    EXPECT_EQ(view->palette().color(QPalette::Inactive, QPalette::Highlight), highlight);
}

TEST_F(LogViewTest, GoingAwayWritesTheRowsOldestFirstThenLinesGoStraightToTheFile) {
    LogFromWorker("shown", 3);
    ASSERT_TRUE(WaitFor([&] { return view->RowCount() == 3; }));
    view.reset();
    LogFromWorker("after", 1);
    const std::string file = LogFileAfterClose();
    const auto a = file.find("] shown 0\r\n"), b = file.find("] shown 1\r\n"),
               c = file.find("] shown 2\r\n"), d = file.find("] after 0\r\n");
    ASSERT_NE(a, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, d);
    EXPECT_NE(d, std::string::npos);
}

TEST_F(LogViewTest, NewLinesShowWhileTheSettingsDialogIsOpen) {
    bool dialogWasOpen = false, lineShown = false, lastInView = false;
    WhenModal([&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        dialogWasOpen = qobject_cast<CSettingsDlg*>(dialog) != nullptr;
        LogFromWorker("behind the dialog", 40);
        lineShown = WaitFor([&] { return view->RowCount() == 40; });
        lastInView = LastRowInView();
        if (dialog) dialog->reject();
    });
    EXPECT_TRUE(view->OnCommand(ID_SETTINGS));
    EXPECT_TRUE(dialogWasOpen);
    EXPECT_TRUE(lineShown);
    EXPECT_TRUE(lastInView);
}

}  // namespace
}  // namespace revuzada::test
