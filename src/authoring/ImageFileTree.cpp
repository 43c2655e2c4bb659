#include "authoring/ImageFileTree.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <unordered_map>

namespace {

// Folder nodes are told apart as the file system tells folders apart: on Linux
// "/x/Summer" and "/x/summer" are two folders, and each keeps its node.
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;

// A folder's path as its node keeps it: with a trailing separator.
QString FolderPath(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

} // namespace

const TImageFileTree::TNode* TImageFileTree::Node(TRef ref) const {
    if (ref.Folder < 0 || ref.Folder >= int(m_folders.size())) return nullptr;
    const TNode& folder = m_folders[std::size_t(ref.Folder)];
    if (ref.Child < 0) return &folder;
    return ref.Child < int(folder.Children.size()) ? &folder.Children[std::size_t(ref.Child)]
                                                   : nullptr;
}

TImageFileTree::TNode* TImageFileTree::Node(TRef ref) {
    return const_cast<TNode*>(std::as_const(*this).Node(ref));
}

template <class T>
std::size_t TImageFileTree::SortedPlace(const std::vector<T>& nodes, const QString& path) {
    return std::size_t(std::upper_bound(nodes.begin(), nodes.end(), path,
                                        [](const QString& p, const T& n) {
                                            return QString::compare(p, n.Path, Qt::CaseSensitive) <
                                                   0;
                                        }) -
                       nodes.begin());
}

std::optional<TImageFileTree::TRef> TImageFileTree::AddNode(const QString& path, bool isFolder,
                                                            bool isExplicit, bool missing) {
    if (path.isEmpty()) return std::nullopt;
    const auto findFolder = [this](const QString& folder) {
        for (std::size_t i = 0; i < m_folders.size(); ++i)
            if (m_folders[i].Path.compare(folder, kPathCase) == 0) return int(i);
        return -1;
    };
    const auto insertFolder = [this](TNode node) {
        const std::size_t at = m_sorted ? SortedPlace(m_folders, node.Path) : m_folders.size();
        m_folders.insert(m_folders.begin() + std::ptrdiff_t(at), std::move(node));
        return int(at);
    };
    if (isFolder) {
        const QString folder = missing ? path : FolderPath(path);
        if (findFolder(folder) >= 0) return std::nullopt;
        return TRef{insertFolder(TNode{folder, 0, isExplicit, {}, missing}), -1};
    }
    const QString folder = FolderPath(QFileInfo(path).path());
    int f = findFolder(folder);
    if (f < 0) f = insertFolder(TNode{folder, 0, false, {}});
    std::vector<TNode>& files = m_folders[std::size_t(f)].Children;
    const std::size_t at = m_sorted ? SortedPlace(files, path) : files.size();
    files.insert(files.begin() + std::ptrdiff_t(at), TNode{path, 0, isExplicit, {}});
    return TRef{f, int(at)};
}

std::optional<TImageFileTree::TRef>
TImageFileTree::AddEntries(const QStringList& given, const QStringList& expanded,
                           const std::function<bool(const QString&)>& isFolder,
                           const std::function<bool(const QString&)>& isMissing) {
    std::optional<TRef> last;
    for (const QString& path : given) {
        std::optional<TRef> added;
        if (isFolder(path))
            added = AddNode(path, true, true);
        else if (isMissing && isMissing(path))
            added = AddNode(path, true, true, true);
        if (added) last = added;
    }
    // A file given itself is explicit once: when its folder is given too, the folder's
    // listing holds it a second time, and marking both would save it twice (and once
    // more after every load and save).
    QHash<QString, int> givenFiles;
    for (const QString& path : given) ++givenFiles[path];
    // A folder listed again (added twice) brings nothing new: the listed (not explicit)
    // files already under each folder, gathered when the folder first comes up. A
    // listing comes folder by folder, so the last folder's set is usually the one.
    std::unordered_map<QString, QSet<QString>> listed;
    QString lastFolder;
    QSet<QString>* known = nullptr;
    for (const QString& file : expanded) {
        const auto count = givenFiles.find(file);
        const bool isExplicit = count != givenFiles.end() && *count > 0;
        if (isExplicit) {
            --*count;
        } else {
            // Listed files carry their folder's path as given: no need to ask the disk.
            const qsizetype cut = file.lastIndexOf(u'/') + 1;
            if (known == nullptr || cut != lastFolder.size() || !file.startsWith(lastFolder)) {
                lastFolder = file.left(cut);
                const auto [it, fresh] = listed.try_emplace(lastFolder);
                known = &it->second;
                if (fresh)
                    for (const TNode& node : m_folders)
                        if (node.Path.compare(lastFolder, kPathCase) == 0)
                            for (const TNode& child : node.Children)
                                if (!child.Explicit) known->insert(child.Path);
            }
            const qsizetype before = known->size();
            known->insert(file);
            if (known->size() == before) continue;
        }
        if (const auto added = AddNode(file, false, isExplicit)) last = added;
    }
    return last;
}

void TImageFileTree::Remove(std::vector<TRef> nodes) {
    // From the last to the first, so the places of the others stay valid.
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        if (Node(*it) == nullptr) continue;
        std::vector<TNode>& siblings = Siblings(*it);
        TRef ref = *it;
        siblings.erase(siblings.begin() + Index(ref));
    }
}

std::vector<TImageFileTree::TRef> TImageFileTree::AllNodes() const {
    std::vector<TRef> all;
    for (int f = 0; f < int(m_folders.size()); ++f) {
        all.push_back({f, -1});
        for (int c = 0; c < int(m_folders[std::size_t(f)].Children.size()); ++c)
            all.push_back({f, c});
    }
    return all;
}

std::vector<TImageFileTree::TRef> TImageFileTree::Inverted(const std::vector<TRef>& selected,
                                                           std::optional<TRef> focused) const {
    std::vector<TRef> result;
    for (const TRef& ref : AllNodes()) {
        bool on = std::find(selected.begin(), selected.end(), ref) == selected.end();
        // The focused node is toggled a second time: it keeps its state.
        if (focused && *focused == ref) on = !on;
        if (on) result.push_back(ref);
    }
    return result;
}

std::vector<TImageFileTree::TNode>& TImageFileTree::Siblings(TRef ref) {
    return ref.Child >= 0 ? m_folders[std::size_t(ref.Folder)].Children : m_folders;
}

TImageFileTree::TRef TImageFileTree::Swap(TRef ref, int by) {
    std::vector<TNode>& siblings = Siblings(ref);
    const int from = Index(ref);
    const int to = from + by;
    std::swap(siblings[std::size_t(from)], siblings[std::size_t(to)]);
    TRef moved = ref;
    Index(moved) = to;
    return moved;
}

namespace {

// After the nodes at `a` and `b` (siblings) changed places, where `ref` is now.
TImageFileTree::TRef Follow(TImageFileTree::TRef ref, TImageFileTree::TRef a,
                            TImageFileTree::TRef b) {
    if (a.Child < 0) { // two folders: their files go with them
        if (ref.Folder == a.Folder)
            ref.Folder = b.Folder;
        else if (ref.Folder == b.Folder)
            ref.Folder = a.Folder;
    } else if (ref.Folder == a.Folder) {
        if (ref.Child == a.Child)
            ref.Child = b.Child;
        else if (ref.Child == b.Child)
            ref.Child = a.Child;
    }
    return ref;
}

} // namespace

std::vector<TImageFileTree::TRef> TImageFileTree::MoveUp(std::vector<TRef> selected) {
    m_sorted = false;
    std::sort(selected.begin(), selected.end());
    if (selected.empty() || Node(selected.front()) == nullptr) return selected;
    TRef first = selected.front();
    if (Index(first) == 0) return selected;
    for (std::size_t i = 0; i < selected.size(); ++i) {
        TRef ref = selected[i];
        if (Node(ref) == nullptr || Index(ref) == 0) continue;
        TRef other = ref;
        --Index(other);
        Swap(ref, -1);
        for (TRef& s : selected) s = Follow(s, ref, other);
    }
    return selected;
}

std::vector<TImageFileTree::TRef> TImageFileTree::MoveDown(std::vector<TRef> selected) {
    m_sorted = false;
    std::sort(selected.begin(), selected.end());
    if (selected.empty() || Node(selected.front()) == nullptr) return selected;
    TRef first = selected.front();
    if (Index(first) + 1 >= int(Siblings(first).size())) return selected;
    for (std::size_t i = selected.size(); i-- > 0;) {
        TRef ref = selected[i];
        if (Node(ref) == nullptr || Index(ref) + 1 >= int(Siblings(ref).size())) continue;
        TRef other = ref;
        ++Index(other);
        Swap(ref, +1);
        for (TRef& s : selected) s = Follow(s, ref, other);
    }
    return selected;
}

void TImageFileTree::SetSorted(bool sorted) {
    m_sorted = sorted;
    if (!sorted) return;
    const auto byPath = [](const TNode& a, const TNode& b) {
        return QString::compare(a.Path, b.Path, Qt::CaseSensitive) < 0;
    };
    std::stable_sort(m_folders.begin(), m_folders.end(), byPath);
    for (TNode& folder : m_folders)
        std::stable_sort(folder.Children.begin(), folder.Children.end(), byPath);
}

QStringList TImageFileTree::ExplicitPaths() const {
    QStringList paths;
    for (const TNode& folder : m_folders) {
        if (folder.Explicit) paths << folder.Path;
        for (const TNode& file : folder.Children)
            if (file.Explicit) paths << file.Path;
    }
    return paths;
}
