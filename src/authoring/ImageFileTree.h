#pragma once

#include <QString>
#include <QStringList>

#include <compare>
#include <functional>
#include <optional>
#include <vector>

// The wizard's picture list without its widget: folders at the top level, the picture
// files of each folder beneath it. A node the user added directly (a file, or a folder as
// a whole) is explicit; a folder node made only to hold files, and the files that came
// from expanding a folder, are not. Only explicit nodes go into a slideshow file.
class TImageFileTree {
public:
    struct TNode {
        QString Path;
        int Angle = 0; // degrees, for the preview only
        bool Explicit = false;
        std::vector<TNode> Children;
        // A folder entry not found here (another computer's, a drive not mounted): kept
        // as given, with no files, so saving writes it back unchanged.
        bool Missing = false;
    };
    // A node: a folder, or (Child >= 0) one of its files.
    struct TRef {
        int Folder = -1;
        int Child = -1;
        auto operator<=>(const TRef&) const = default;
    };

    [[nodiscard]] const std::vector<TNode>& Folders() const { return m_folders; }
    [[nodiscard]] bool Empty() const { return m_folders.empty(); }
    [[nodiscard]] const TNode* Node(TRef ref) const;
    [[nodiscard]] TNode* Node(TRef ref);
    void Clear() { m_folders.clear(); }

    // Adds a folder node (a path ending in a separator) or a file node under its folder's
    // node (made, not explicit, when missing). A folder already there (the same path, case
    // and all) is not added again. The node added, or nothing.
    // A missing folder keeps its path exactly as given.
    std::optional<TRef> AddNode(const QString& path, bool isFolder, bool isExplicit,
                                bool missing = false);
    // The adding steps for `given` paths (as the user chose or dropped them) and the files
    // they stand for (`expanded`, folders listed): given folders become explicit folder
    // nodes, then every file is added, explicit when it is itself among the given paths
    // (once per time it is given).
    // `isFolder` tells which given paths are folders, `isMissing` which are folder entries
    // not found (explicit missing folder nodes, in their given place). The last node
    // added, or nothing.
    std::optional<TRef> AddEntries(const QStringList& given, const QStringList& expanded,
                                   const std::function<bool(const QString&)>& isFolder,
                                   const std::function<bool(const QString&)>& isMissing = {});

    // Removes the nodes (folders with their files).
    void Remove(std::vector<TRef> nodes);
    // Every node, in tree order: a folder, then its files, then the next folder.
    [[nodiscard]] std::vector<TRef> AllNodes() const;
    // The nodes not in `selected`; `focused` keeps its state.
    [[nodiscard]] std::vector<TRef> Inverted(const std::vector<TRef>& selected,
                                             std::optional<TRef> focused) const;
    // Moves each selected node in front of its previous sibling (Up) or behind its next
    // one (Down), when the first selected node has such a sibling; sorting is switched
    // off first. Returns where the selected nodes are now.
    std::vector<TRef> MoveUp(std::vector<TRef> selected);
    std::vector<TRef> MoveDown(std::vector<TRef> selected);

    // Sorting by path (ordinal, case-sensitive) at both levels; while on, new nodes go
    // into their sorted place.
    void SetSorted(bool sorted);
    [[nodiscard]] bool Sorted() const { return m_sorted; }

    // The paths of the explicit nodes, in tree order: what a slideshow file keeps.
    [[nodiscard]] QStringList ExplicitPaths() const;

private:
    [[nodiscard]] std::vector<TNode>& Siblings(TRef ref);
    [[nodiscard]] static int& Index(TRef& ref) { return ref.Child >= 0 ? ref.Child : ref.Folder; }
    // Moves the node at `ref` by one place among its siblings; where it is now.
    TRef Swap(TRef ref, int by);
    template <class T>
    static std::size_t SortedPlace(const std::vector<T>& nodes, const QString& p);

    std::vector<TNode> m_folders;
    bool m_sorted = false;
};
