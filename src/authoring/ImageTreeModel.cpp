#include "authoring/ImageTreeModel.h"

#include <QColor>

// Top-level rows have internal id 0; a file row keeps its folder's row + 1.

namespace {

constexpr QRgb kMissingColour = 0x909090;

} // namespace

TImageTreeModel::TImageTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

template <class F>
auto TImageTreeModel::Changing(F&& change) {
    // Every change may move rows at both levels: the view is told to read the model anew.
    beginResetModel();
    auto result = change();
    endResetModel();
    return result;
}

TImageTreeModel::TRef TImageTreeModel::RefOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return {};
    if (index.internalId() == 0) return {index.row(), -1};
    return {int(index.internalId()) - 1, index.row()};
}

QModelIndex TImageTreeModel::IndexOf(TRef ref) const {
    if (m_tree.Node(ref) == nullptr) return {};
    if (ref.Child < 0) return createIndex(ref.Folder, 0, quintptr(0));
    return createIndex(ref.Child, 0, quintptr(ref.Folder + 1));
}

std::vector<TImageTreeModel::TRef> TImageTreeModel::RefsOf(const QModelIndexList& indexes) const {
    std::vector<TRef> refs;
    for (const QModelIndex& index : indexes)
        if (m_tree.Node(RefOf(index)) != nullptr) refs.push_back(RefOf(index));
    return refs;
}

std::optional<TImageTreeModel::TRef>
TImageTreeModel::AddEntries(const QStringList& given, const QStringList& expanded,
                            const std::function<bool(const QString&)>& isFolder,
                            const std::function<bool(const QString&)>& isMissing) {
    return Changing([&] { return m_tree.AddEntries(given, expanded, isFolder, isMissing); });
}

void TImageTreeModel::Remove(const std::vector<TRef>& nodes) {
    Changing([&] {
        m_tree.Remove(nodes);
        return 0;
    });
}

std::vector<TImageTreeModel::TRef> TImageTreeModel::MoveUp(const std::vector<TRef>& selected) {
    return Changing([&] { return m_tree.MoveUp(selected); });
}

std::vector<TImageTreeModel::TRef> TImageTreeModel::MoveDown(const std::vector<TRef>& selected) {
    return Changing([&] { return m_tree.MoveDown(selected); });
}

void TImageTreeModel::SetSorted(bool sorted) {
    Changing([&] {
        m_tree.SetSorted(sorted);
        return 0;
    });
}

void TImageTreeModel::Clear() {
    Changing([&] {
        m_tree.Clear();
        return 0;
    });
}

void TImageTreeModel::SetAngle(TRef ref, int angle) {
    if (TImageFileTree::TNode* node = m_tree.Node(ref)) {
        node->Angle = angle;
        const QModelIndex index = IndexOf(ref);
        emit dataChanged(index, index);
    }
}

QModelIndex TImageTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid()) return IndexOf({row, -1});
    const TRef folder = RefOf(parent);
    if (folder.Child >= 0) return {}; // files have no children
    return IndexOf({folder.Folder, row});
}

QModelIndex TImageTreeModel::parent(const QModelIndex& child) const {
    const TRef ref = RefOf(child);
    return ref.Child >= 0 ? IndexOf({ref.Folder, -1}) : QModelIndex();
}

int TImageTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return int(m_tree.Folders().size());
    const TRef ref = RefOf(parent);
    const TImageFileTree::TNode* node = m_tree.Node(ref);
    return node != nullptr && ref.Child < 0 ? int(node->Children.size()) : 0;
}

int TImageTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant TImageTreeModel::data(const QModelIndex& index, int role) const {
    const TRef ref = RefOf(index);
    const TImageFileTree::TNode* node = m_tree.Node(ref);
    if (node == nullptr) return {};
    switch (role) {
    case Qt::DisplayRole:
        return NameOf(node->Path);
    case Qt::ToolTipRole:
        return node->Missing ? node->Path + QStringLiteral("\nNot found on this computer; kept in "
                                                           "the slideshow and passed over")
                             : node->Path;
    case Qt::ForegroundRole:
        return node->Missing ? QVariant(QColor(kMissingColour)) : QVariant();
    case Qt::DecorationRole:
        return IconOf ? IconOf(node->Path, ref.Child < 0) : QVariant();
    default:
        return {};
    }
}

QString TImageTreeModel::NameOf(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/')) trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(u'/');
    const QString name = slash >= 0 ? trimmed.mid(slash + 1) : trimmed;
    return name.isEmpty() ? path : name;
}
