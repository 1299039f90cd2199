#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>

class ExportHistoryManager;
class HistoryItemViewModel;

// The main window's history: one entry per group of the history's getGroupedHistory() (its
// title and its rows), the count and the empty state. Rebuilt from the history every time it
// is published, so rows are copies of the items as they were then.
class HistoryListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(int count READ count NOTIFY historyRebuilt)
    Q_PROPERTY(QString countText READ countText NOTIFY historyRebuilt)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY historyRebuilt)
    Q_PROPERTY(bool showsFooter READ showsFooter NOTIFY historyRebuilt)
    Q_PROPERTY(bool clearEnabled READ clearEnabled NOTIFY historyRebuilt)

public:
    enum Role { TitleRole = Qt::UserRole + 1, RowsRole };

    // Over ExportHistoryManager::shared(), as the window makes it.
    explicit HistoryListModel(QObject* parent = nullptr);
    // `clock` gives the moment the rows' ages are measured from (the current time when empty).
    HistoryListModel(ExportHistoryManager& history, std::function<QDateTime()> clock, QObject* parent = nullptr);
    ~HistoryListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return count_; }
    // "%lld exports", the same word for every count.
    QString countText() const;
    bool isEmpty() const { return count_ == 0; }
    bool showsFooter() const { return !isEmpty(); }
    bool clearEnabled() const { return !isEmpty(); }

    const QList<HistoryItemViewModel*>& groupRows(int group) const { return groups_.at(group).rows; }

    // Empties the history and removes its stored key (the confirmed Clear History).
    Q_INVOKABLE void clearHistory();

Q_SIGNALS:
    void historyRebuilt();

private:
    struct Group {
        QString title;
        QList<HistoryItemViewModel*> rows;
    };

    void rebuild();

    ExportHistoryManager& history_;
    std::function<QDateTime()> clock_;
    QList<Group> groups_;
    int count_ = 0;
};
