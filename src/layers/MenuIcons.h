#pragma once

#include <QIcon>
#include <QPointer>

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

class QAction;
class TVekThreadedMethod;

// The menu and toolbar icons the windows share, by name ("Print", "Play"). Their
// pictures are read on a worker once Load is called; until they arrive every icon is
// null, and actions attached by name get theirs as soon as they are there.
class TMenuIcons {
public:
    TMenuIcons();
    ~TMenuIcons();
    TMenuIcons(const TMenuIcons&) = delete;
    TMenuIcons& operator=(const TMenuIcons&) = delete;

    // The names there are icons for.
    [[nodiscard]] static const std::vector<std::string_view>& Names();

    // Starts reading the pictures (once; later calls do nothing).
    void Load();
    [[nodiscard]] bool Loaded() const { return !m_icons.empty(); }
    // How many icons arrived: one a name, null where a picture could not be read.
    [[nodiscard]] std::size_t Size() const { return m_icons.size(); }
    // The icon of `name`; null while loading and for a name that has none.
    [[nodiscard]] QIcon Icon(std::string_view name) const;
    // `action` shows the icon of `name`: now when it is there, else once it arrives.
    void Attach(QAction* action, std::string_view name);

private:
    std::vector<QIcon> m_icons;
    std::vector<std::pair<QPointer<QAction>, std::string_view>> m_attached;
    std::unique_ptr<TVekThreadedMethod> m_loader;
};
