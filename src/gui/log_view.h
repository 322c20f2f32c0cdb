#pragma once
// The log view: a one-column list that mirrors the event log's list of lines. Workers never
// touch it: the log tells it of changes by a coalesced queued notification, and it takes every
// new line in one batch on the GUI thread, scrolling once per batch.

#include <QAbstractListModel>
#include <QColor>
#include <QTreeView>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace revuzada {

constexpr int ID_EDIT_CLEAR = 57632;
constexpr int ID_SETTINGS = 32771;

// The rows of the view: a copy of the log list as last read.
class LogListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    void Replace(const std::vector<std::string>& lines);
    void Append(const std::vector<std::string>& lines);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<QString> rows_;
};

class CRevuzadaView : public QTreeView {
    Q_OBJECT
public:
    static constexpr int kColumnWidth = 1000;
    static inline const QColor kBackground{212, 208, 200};

    explicit CRevuzadaView(QWidget* parent = nullptr);
    // The lines still in the list go to the log file; from then on lines go straight there.
    ~CRevuzadaView() override;

    // Commands this view handles; false for any other id.
    bool OnCommand(int id);
    void OnEditClear();  // empties the list; nothing reaches the log file
    void OnSettings();   // the served-directory dialog, modal

    int RowCount() const;
    QString RowText(int row) const;

private:
    void TakeNewLines();

    LogListModel* model_;
    std::shared_ptr<std::atomic<bool>> pending_;  // a notification is on its way
    std::uint64_t epoch_ = ~std::uint64_t{0};     // the list's epoch when last read
};

}  // namespace revuzada
