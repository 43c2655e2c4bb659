#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// How a decoded picture or its failure goes on screen.
enum class TNavShow : std::uint8_t {
    nsPicture, // the loader's finished picture replaces the shown one
    nsPage,    // another page of the shown file replaces the shown page
    nsFailed,  // "Can't open image" for the file
    nsPageFailed,
    nsPlaceholder, // the retained previous picture stands in while its file decodes
    nsEmpty,       // nothing to show: an empty list
};

// The viewer's navigation without its window: the list the user steps through, the
// file on screen (known by its path, never by an index that may have moved), the file
// being decoded for display, the neighbour prefetched ahead and the picture retained
// behind, the direction, and the folder listing still running.
//
// Events come in from the window (open, step, listing arrived, a load ended, a
// deletion confirmed, a page chosen); decisions go out through the port, which the
// window performs: start a decode (the loader keeps only the newest request), list
// folders on a worker, put something on screen. Every decision is made from the
// state, so a late event (a listing of an older open, a load nobody waits for any
// more) changes nothing.
class TViewerNavigator {
public:
    struct TPort {
        // Starts decoding `file` (page `page` of a multi-page file); replaces any
        // decode that runs.
        std::function<void(const QString& file, int page)> Decode;
        // Stops the running decode; nothing of it is delivered.
        std::function<void()> Cancel;
        // Lists `entries` (files and folders) on a worker; the result comes back
        // through ListingArrived with `generation`.
        std::function<void(const QStringList& entries, std::uint64_t generation)> List;
        // Puts `file` on screen as `how` says. For nsPicture, `keepPrevious` asks to
        // keep the picture leaving the screen as the retained one.
        std::function<void(TNavShow how, const QString& file, bool keepPrevious)> Show;
    };

    enum class TPrefetch : std::uint8_t { npNone, npRunning, npDone, npFailed };

    explicit TViewerNavigator(TPort port) : m_port(std::move(port)) {}

    // A file to show (opened, dropped alone, handed over): its folder becomes the list.
    // `folder` is the folder as the list will name it (absolute, ending in '/').
    void Open(const QString& file, const QString& folder);
    // Several dropped names or folders: the list is what they expand to, and its
    // first entry is shown; an empty list shows nothing.
    void OpenEntries(const QStringList& entries);
    // A file handed back (the slideshow's last picture): shown, the list kept.
    void ShowFile(const QString& file);
    void ListingArrived(std::uint64_t generation, const QStringList& files);
    void Step(bool forward);
    // Page `page` of the shown file.
    void ShowPage(int page);
    void LoadSucceeded(const QString& file);
    void LoadFailed(const QString& file);
    // `file` is gone from the disk: its entry leaves the list, and when it was the one
    // on screen the entry that moved into its place is shown.
    void Deleted(const QString& file);
    // The retained picture was let go.
    void PreviousReleased() { m_previousFile.clear(); }

    [[nodiscard]] const QStringList& List() const { return m_list; }
    // The file on screen, shown or failed; empty when nothing is.
    [[nodiscard]] const QString& Shown() const { return m_shown; }
    [[nodiscard]] bool ShownFailed() const { return m_shownFailed; }
    // The file being decoded for display; empty when none is.
    [[nodiscard]] const QString& Target() const { return m_target; }
    [[nodiscard]] bool PageLoad() const { return !m_target.isEmpty() && m_targetPage >= 0; }
    [[nodiscard]] bool Displaying() const { return !m_target.isEmpty(); }
    [[nodiscard]] bool Listing() const { return m_listing; }
    [[nodiscard]] bool Forward() const { return m_forward; }
    [[nodiscard]] TPrefetch PrefetchState() const { return m_prefetchState; }
    [[nodiscard]] const QString& Prefetched() const { return m_prefetch; }
    // The file whose picture is retained behind the shown one; empty when none.
    [[nodiscard]] const QString& PreviousFile() const { return m_previousFile; }
    // The shown file's index in the list, -1 when it is not there.
    [[nodiscard]] int ShownIndex() const;
    // What is on screen is the list's current entry and nothing else is on its way:
    // a command that names the shown file (Delete) may act.
    [[nodiscard]] bool ShownIsCurrent() const;
    // A turn of the shown file is worth keeping: it is in the list, or its folder is
    // still being listed.
    [[nodiscard]] bool ShownIsListed() const;

private:
    // Where steps start from: the file on its way, else the one on screen.
    [[nodiscard]] const QString& Cursor() const { return m_target.isEmpty() ? m_shown : m_target; }
    void StartListing(const QStringList& entries);
    void DecodeForDisplay(const QString& file, bool keepPrevious);
    void LoadNeighbour();
    void AfterDisplayedLoad();
    void DropPrefetch();
    void ReplayWaitingSteps();

    TPort m_port;
    QStringList m_list;
    bool m_listing = false;
    std::uint64_t m_generation = 0;
    // The listing was of dropped entries: its first entry is to be shown.
    bool m_showFirstListed = false;
    QString m_shown;
    bool m_shownFailed = false;
    QString m_target;
    int m_targetPage = -1;
    bool m_keepPrevious = false;
    QString m_prefetch;
    TPrefetch m_prefetchState = TPrefetch::npNone;
    bool m_neighbourWanted = false;
    bool m_forward = true;
    QString m_previousFile;
    // Steps asked for while the list was still unknown, replayed once it is there and
    // the opened file is on screen.
    std::vector<bool> m_waitingSteps;
};

// The neighbour of `index` in a list of `count` entries, wrapping at both ends; an
// index out of range continues at the first (forward) or last (backward) entry.
[[nodiscard]] int NeighbourIndex(int index, int count, bool forward);
