#include "gui/log_view.h"

#include <QHeaderView>
#include <QPalette>

#include "gui/settings_dlg.h"
#include "log/catalogue.h"
#include "log/log.h"
#include "pack/language_pack.h"

namespace revuzada {

void LogListModel::Replace(const std::vector<std::string>& lines) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(lines.size());
    for (const std::string& line : lines) rows_.push_back(QString::fromStdString(line));
    endResetModel();
}

void LogListModel::Append(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(lines.size()) - 1);
    for (const std::string& line : lines) rows_.push_back(QString::fromStdString(line));
    endInsertRows();
}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    if (role == Qt::DisplayRole) return rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section != 0 || orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return QString::fromUtf8(LoadText(IDS_LOG_COLUMN));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags LogListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

CRevuzadaView::CRevuzadaView(QWidget* parent)
    : QTreeView(parent),
      model_(new LogListModel(this)),
      pending_(std::make_shared<std::atomic<bool>>(false)) {
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);

    QHeaderView* head = header();
    head->setStretchLastSection(false);
    head->setSectionsMovable(false);
    head->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    head->resizeSection(0, kColumnWidth);

    // Grey behind rows and text; the selected row stays highlighted without the focus.
    QPalette colours = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Base, kBackground);
        colours.setColor(group, QPalette::AlternateBase, kBackground);
    }
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);

    // Runs under the log's lock on whichever thread logged: it only posts, and only when no
    // notification is already on its way. Detaching (in the destructor) drops it under the
    // same lock, so it never runs once destruction has begun.
    std::shared_ptr<std::atomic<bool>> pending = pending_;
    CRevuzadaView* self = this;
    SetLogListObserver([pending, self] {
        if (!pending->exchange(true))
            QMetaObject::invokeMethod(self, [self] { self->TakeNewLines(); }, Qt::QueuedConnection);
    });
    TakeNewLines();
}

CRevuzadaView::~CRevuzadaView() { DetachLogView(); }

void CRevuzadaView::TakeNewLines() {
    // Cleared first: a change after the read below posts again.
    pending_->store(false);
    LogListDelta delta = ReadLogList(epoch_, static_cast<std::size_t>(model_->rowCount()));
    epoch_ = delta.epoch;
    if (delta.reset)
        model_->Replace(delta.lines);
    else
        model_->Append(delta.lines);
    if (!delta.lines.empty()) scrollToBottom();
}

bool CRevuzadaView::OnCommand(int id) {
    switch (id) {
        case ID_EDIT_CLEAR:
            OnEditClear();
            return true;
        case ID_SETTINGS:
            OnSettings();
            return true;
        default:
            return false;
    }
}

void CRevuzadaView::OnEditClear() {
    ClearLogList();
    TakeNewLines();
}

void CRevuzadaView::OnSettings() {
    auto dialog = CSettingsDlg::Create(window());
    if (!dialog) return;  // the pack has no settings dialog
    dialog->exec();
}

int CRevuzadaView::RowCount() const { return model_->rowCount(); }

QString CRevuzadaView::RowText(int row) const {
    return model_->data(model_->index(row), Qt::DisplayRole).toString();
}

}  // namespace revuzada
