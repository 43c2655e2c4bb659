#pragma once

#include "viewer/GalleryGrid.h"

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

class QMimeData;
class QScrollBar;

// The folder as a grid of thumbnails, drawn on one widget (no widget per cell). The
// thumbnails come from the desktop's cache or are made on two workers, the visible cells
// first; work for cells scrolled far away is dropped. Decoded thumbnails are kept in a
// cache bounded in bytes, so a folder of ten thousand files holds only what was seen
// lately.
//
// Keys: arrows, Page Up/Down, Home and End move the selection; Return opens it, Escape
// goes back; Ctrl++ / Ctrl+- and Ctrl+wheel change the size (128 to 512); Delete asks to
// delete the selection. A double click opens a cell.
class TGalleryView : public QWidget {
public:
    explicit TGalleryView(QWidget* parent = nullptr);
    ~TGalleryView() override;

    // The files to show and the one selected (scrolled into view).
    void SetFiles(const QStringList& files, int selected);
    [[nodiscard]] const QStringList& Files() const { return m_files; }
    [[nodiscard]] int Selected() const { return m_grid.Selected(); }
    [[nodiscard]] const TGalleryGrid& Grid() const { return m_grid; }
    // The thumbnail side in logical pixels (the grid clamps it).
    void SetSide(int side);
    // Whether every visible cell has its thumbnail or its failure (for tests and the
    // benchmark).
    [[nodiscard]] bool VisibleDone() const;
    // The files whose thumbnails are queued or being made (work already told to stop
    // left out).
    [[nodiscard]] QStringList Pending();
    // Drops the kept thumbnails and the workers' queue (files changed on disk).
    void Forget();

    std::function<void(int index)> OnOpen;
    std::function<void()> OnLeave;
    std::function<void(int index)> OnDelete;
    // The right button on a cell (selected first), at a global position.
    std::function<void(int index, const QPoint& at)> OnMenu;
    // Ctrl+C on the selection.
    std::function<void(int index)> OnCopy;
    // What a drag of the cell carries out: its file as a URI.
    [[nodiscard]] QMimeData* DragData(int index) const;
    // After a thumbnail arrived and was drawn.
    std::function<void()> OnThumbnail;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct TKey {
        QString File;
        int Side; // device pixels
        bool operator==(const TKey&) const = default;
    };
    struct TKeyHash {
        std::size_t operator()(const TKey& k) const noexcept;
    };
    struct TKept {
        QImage Picture; // null: none could be made
        std::list<TKey>::iterator Use;
    };
    struct TJob {
        TKey Key;
        std::shared_ptr<std::atomic<bool>> Stop;
    };

    [[nodiscard]] int DeviceSide() const;
    void Layout();
    void Request();
    void Arrived(const TKey& key, const QImage& picture);
    void Keep(const TKey& key, const QImage& picture);
    [[nodiscard]] const QImage* Kept(const TKey& key, bool* known);
    void Work();
    void StopWorkers();

    TGalleryGrid m_grid;
    QPoint m_pressAt{-1, -1}; // where the left button went down on a cell
    QStringList m_files;
    QScrollBar* m_scrollBar = nullptr;

    // The kept thumbnails, most recently used first in m_use.
    std::unordered_map<TKey, TKept, TKeyHash> m_kept;
    std::list<TKey> m_use;
    std::size_t m_keptBytes = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<TJob> m_queue;   // under m_mutex; taken from the front
    std::vector<TJob> m_running; // under m_mutex
    bool m_ending = false;       // under m_mutex
    std::vector<std::thread> m_workers;
};
