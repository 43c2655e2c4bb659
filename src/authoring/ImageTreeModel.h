#pragma once

#include "authoring/ImageFileTree.h"

#include <QAbstractItemModel>

#include <functional>

// The wizard's picture list as an item model for a tree view: folders at the top level,
// their picture files as children; one column with the folder's or the file's name (the
// whole path as the tool tip). Changes go through the model, which tells the view.
class TImageTreeModel : public QAbstractItemModel {
public:
    using TRef = TImageFileTree::TRef;

    explicit TImageTreeModel(QObject* parent = nullptr);

    [[nodiscard]] const TImageFileTree& Tree() const { return m_tree; }
    [[nodiscard]] TRef RefOf(const QModelIndex& index) const;
    [[nodiscard]] QModelIndex IndexOf(TRef ref) const;
    [[nodiscard]] std::vector<TRef> RefsOf(const QModelIndexList& indexes) const;

    // The tree's operations, with the view told of the change.
    std::optional<TRef> AddEntries(const QStringList& given, const QStringList& expanded,
                                   const std::function<bool(const QString&)>& isFolder,
                                   const std::function<bool(const QString&)>& isMissing = {});
    void Remove(const std::vector<TRef>& nodes);
    std::vector<TRef> MoveUp(const std::vector<TRef>& selected);
    std::vector<TRef> MoveDown(const std::vector<TRef>& selected);
    void SetSorted(bool sorted);
    void SetAngle(TRef ref, int angle);
    void Clear();

    // The icon of a node (the desktop's folder or file-type icon), given by the window.
    std::function<QVariant(const QString& path, bool folder)> IconOf;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The name a node shows: a file's name, a folder's last component (or the whole path
    // of a root folder).
    [[nodiscard]] static QString NameOf(const QString& path);

private:
    template <class F>
    auto Changing(F&& change);

    TImageFileTree m_tree;
};
