#include "ui/HistoryListModel.h"

#include "storage/ExportHistoryManager.h"
#include "ui/HistoryItemViewModel.h"

HistoryListModel::HistoryListModel(QObject* parent)
    : HistoryListModel(ExportHistoryManager::shared(), {}, parent)
{
}

HistoryListModel::HistoryListModel(ExportHistoryManager& history, std::function<QDateTime()> clock, QObject* parent)
    : QAbstractListModel(parent)
    , history_(history)
    , clock_(clock ? std::move(clock) : [] { return QDateTime::currentDateTime(); })
{
    connect(&history_, &ExportHistoryManager::historyChanged, this, &HistoryListModel::rebuild);
    rebuild();
}

HistoryListModel::~HistoryListModel() = default;

void HistoryListModel::rebuild()
{
    const QDateTime now = clock_();
    QList<Group> groups;
    int count = 0;
    for (const auto& [title, items] : history_.getGroupedHistory()) {
        Group group {title, {}};
        for (qsizetype i = 0; i < items.size(); ++i) {
            const bool dividerBelow = i + 1 < items.size();
            group.rows.append(new HistoryItemViewModel(history_, items.at(i), now, dividerBelow, this));
        }
        count += static_cast<int>(items.size());
        groups.append(std::move(group));
    }

    beginResetModel();
    std::swap(groups_, groups);
    count_ = count;
    endResetModel();
    // The old rows go once the views have let go of them.
    for (const Group& old : groups) {
        for (HistoryItemViewModel* row : old.rows) {
            row->deleteLater();
        }
    }
    Q_EMIT historyRebuilt();
}

int HistoryListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(groups_.size());
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const Group& group = groups_.at(index.row());
    switch (role) {
    case TitleRole:
        return group.title;
    case RowsRole: {
        QVariantList rows;
        for (HistoryItemViewModel* row : group.rows) {
            rows.append(QVariant::fromValue(static_cast<QObject*>(row)));
        }
        return rows;
    }
    default:
        return {};
    }
}

QHash<int, QByteArray> HistoryListModel::roleNames() const
{
    return {{TitleRole, "title"}, {RowsRole, "rows"}};
}

QString HistoryListModel::countText() const
{
    return QString::asprintf("%lld exports", static_cast<long long>(count_));
}

void HistoryListModel::clearHistory()
{
    history_.clear();
}
