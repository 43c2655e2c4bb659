#include "viewer/ViewerNavigator.h"

namespace {

// Held keys queue steps while a large folder is listed; far more than anyone presses.
constexpr std::size_t kMaxWaitingSteps = 1000;

} // namespace

int NeighbourIndex(int index, int count, bool forward) {
    if (count <= 0) return -1;
    if (forward) return index < count - 1 && index >= -1 ? index + 1 : 0;
    return index < 1 || index > count ? count - 1 : index - 1;
}

int TViewerNavigator::ShownIndex() const {
    return m_shown.isEmpty() ? -1 : int(m_list.indexOf(m_shown));
}

bool TViewerNavigator::ShownIsCurrent() const {
    return m_target.isEmpty() && !m_shown.isEmpty() && m_list.contains(m_shown);
}

bool TViewerNavigator::ShownIsListed() const {
    return !m_shown.isEmpty() && (m_listing || m_list.contains(m_shown));
}

void TViewerNavigator::StartListing(const QStringList& entries) {
    ++m_generation;
    m_listing = true;
    m_list.clear();
    m_neighbourWanted = false;
    m_waitingSteps.clear();
    m_port.List(entries, m_generation);
}

void TViewerNavigator::DecodeForDisplay(const QString& file, bool keepPrevious) {
    m_target = file;
    m_targetPage = -1;
    m_keepPrevious = keepPrevious;
    // The loader holds one picture: whatever was prefetched goes with this request.
    DropPrefetch();
    m_port.Decode(file, 0);
}

void TViewerNavigator::Open(const QString& file, const QString& folder) {
    m_showFirstListed = false;
    // The decode goes first; the folder is listed meanwhile.
    DecodeForDisplay(file, false);
    StartListing({folder});
}

void TViewerNavigator::OpenEntries(const QStringList& entries) {
    m_target.clear();
    m_targetPage = -1;
    DropPrefetch();
    m_port.Cancel();
    m_shown.clear();
    m_shownFailed = false;
    m_port.Show(TNavShow::nsEmpty, QString(), false);
    m_showFirstListed = true;
    StartListing(entries);
}

void TViewerNavigator::ShowFile(const QString& file) {
    m_waitingSteps.clear();
    DecodeForDisplay(file, false);
}

void TViewerNavigator::ListingArrived(std::uint64_t generation, const QStringList& files) {
    if (generation != m_generation || !m_listing) return;
    m_listing = false;
    m_list = files;
    if (m_showFirstListed) {
        m_showFirstListed = false;
        if (m_list.isEmpty())
            m_port.Show(TNavShow::nsEmpty, QString(), false);
        else
            DecodeForDisplay(m_list.first(), false);
        return;
    }
    // The opened file may still be on its way; the steps and the prefetch wait for it.
    if (!m_target.isEmpty()) return;
    if (!m_waitingSteps.empty())
        ReplayWaitingSteps();
    else if (m_neighbourWanted)
        LoadNeighbour();
}

void TViewerNavigator::ReplayWaitingSteps() {
    const std::vector<bool> steps = std::move(m_waitingSteps);
    m_waitingSteps.clear();
    for (bool forward : steps) Step(forward);
}

void TViewerNavigator::Step(bool forward) {
    // The list is still being made, or the file opened with it is still on its way:
    // the step waits rather than stepping in a list that is about to change.
    if (m_list.isEmpty() || !m_waitingSteps.empty()) {
        if (m_listing || !m_waitingSteps.empty()) {
            if (m_waitingSteps.size() < kMaxWaitingSteps) m_waitingSteps.push_back(forward);
        }
        return;
    }
    const QString cursor = Cursor();
    const int next = NeighbourIndex(int(m_list.indexOf(cursor)), int(m_list.size()), forward);
    const QString file = m_list[next];
    if (file == cursor) return;
    m_forward = forward;

    if (m_target.isEmpty() && file == m_prefetch) {
        if (m_prefetchState == TPrefetch::npDone) {
            const bool keep = !m_shown.isEmpty() && !m_shownFailed;
            if (keep) m_previousFile = m_shown;
            m_shown = file;
            m_shownFailed = false;
            DropPrefetch();
            m_port.Show(TNavShow::nsPicture, file, keep);
            LoadNeighbour();
            return;
        }
        if (m_prefetchState == TPrefetch::npFailed) {
            // Found out ahead of time: the error shows at once.
            m_shown = file;
            m_shownFailed = true;
            DropPrefetch();
            m_port.Show(TNavShow::nsFailed, file, false);
            LoadNeighbour();
            return;
        }
    }

    bool keep = m_keepPrevious;
    if (m_target.isEmpty()) {
        if (!m_previousFile.isEmpty() && m_previousFile == file) {
            // Back the way we came: the picture kept from there stands in at once, and
            // the one we leave is kept in its place.
            const QString leaving = m_shownFailed ? QString() : m_shown;
            m_port.Show(TNavShow::nsPlaceholder, file, false);
            m_previousFile = leaving;
            keep = false;
        } else {
            keep = !m_shown.isEmpty() && !m_shownFailed;
        }
    }
    DecodeForDisplay(file, keep);
}

void TViewerNavigator::ShowPage(int page) {
    if (m_shown.isEmpty() || page < 0) return;
    // A new picture on its way wins over a page of the one leaving.
    if (!m_target.isEmpty() && m_targetPage < 0) return;
    m_target = m_shown;
    m_targetPage = page;
    DropPrefetch();
    m_port.Decode(m_shown, page);
}

void TViewerNavigator::LoadSucceeded(const QString& file) {
    if (!m_target.isEmpty() && file == m_target) {
        const bool page = m_targetPage >= 0;
        m_target.clear();
        m_targetPage = -1;
        if (page) {
            m_shownFailed = false;
            m_port.Show(TNavShow::nsPage, file, false);
        } else {
            const bool keep =
                m_keepPrevious && !m_shown.isEmpty() && !m_shownFailed && m_shown != file;
            if (keep) m_previousFile = m_shown;
            m_keepPrevious = false;
            m_shown = file;
            m_shownFailed = false;
            m_port.Show(TNavShow::nsPicture, file, keep);
        }
        AfterDisplayedLoad();
        return;
    }
    if (m_prefetchState == TPrefetch::npRunning && file == m_prefetch)
        m_prefetchState = TPrefetch::npDone;
}

void TViewerNavigator::LoadFailed(const QString& file) {
    if (!m_target.isEmpty() && file == m_target) {
        const bool page = m_targetPage >= 0;
        m_target.clear();
        m_targetPage = -1;
        m_keepPrevious = false;
        m_shown = file;
        m_shownFailed = true;
        m_port.Show(page ? TNavShow::nsPageFailed : TNavShow::nsFailed, file, false);
        AfterDisplayedLoad();
        return;
    }
    if (m_prefetchState == TPrefetch::npRunning && file == m_prefetch)
        m_prefetchState = TPrefetch::npFailed;
}

void TViewerNavigator::Deleted(const QString& file) {
    if (file == m_previousFile) m_previousFile.clear();
    if (file == m_prefetch) {
        DropPrefetch();
    }
    const qsizetype index = m_list.indexOf(file);
    if (index < 0) return;
    m_list.removeAt(index);
    // Only the picture on screen, with nothing else on its way, is followed by the
    // entry that moved into its place.
    if (file != m_shown || !m_target.isEmpty()) return;
    if (m_list.isEmpty()) {
        m_shown.clear();
        m_shownFailed = false;
        m_port.Cancel();
        m_port.Show(TNavShow::nsEmpty, QString(), false);
        return;
    }
    DecodeForDisplay(m_list[index < m_list.size() ? index : 0], false);
}

void TViewerNavigator::AfterDisplayedLoad() {
    // Steps that waited for the opened file go first; otherwise the neighbour ahead.
    if (!m_waitingSteps.empty() && !m_listing)
        ReplayWaitingSteps();
    else
        LoadNeighbour();
}

void TViewerNavigator::DropPrefetch() {
    m_prefetch.clear();
    m_prefetchState = TPrefetch::npNone;
}

void TViewerNavigator::LoadNeighbour() {
    if (!m_target.isEmpty()) return;
    if (m_list.isEmpty()) {
        m_neighbourWanted = m_listing;
        return;
    }
    m_neighbourWanted = false;
    const int next = NeighbourIndex(ShownIndex(), int(m_list.size()), m_forward);
    const QString& file = m_list[next];
    if (file == m_shown) return;
    if (file == m_prefetch && m_prefetchState != TPrefetch::npNone) return;
    m_prefetch = file;
    m_prefetchState = TPrefetch::npRunning;
    m_port.Decode(file, 0);
}
