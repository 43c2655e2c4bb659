#include "viewer/FormViewerGallery.h"

#include "loading/GalleryThumbnails.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

namespace {

// What the kept thumbnails may take; at the default size about 800 of them.
constexpr std::size_t kKeptBytes = std::size_t(128) << 20;
constexpr int kWorkers = 2;
// Rows made ahead of the view, and how far a cell may scroll away before its work is
// dropped.
constexpr int kAheadRows = 1, kKeepWorkingRows = 3;

const QColor kBackground(0x30, 0x30, 0x30);
const QColor kEmptyCell(0x3C, 0x3C, 0x3C);
const QColor kNameColour(0xE0, 0xE0, 0xE0);

} // namespace

std::size_t TGalleryView::TKeyHash::operator()(const TKey& k) const noexcept {
    return qHash(k.File) ^ (std::size_t(k.Side) * 0x9E3779B97F4A7C15ULL);
}

TGalleryView::TGalleryView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        m_grid.SetScroll(value);
        Request();
        update();
    });
    m_grid.SetNameHeight(QFontMetrics(font()).height() + 4);
}

TGalleryView::~TGalleryView() {
    StopWorkers();
}

void TGalleryView::SetFiles(const QStringList& files, int selected) {
    m_files = files;
    m_grid.SetCount(int(files.size()));
    Layout();
    m_grid.Select(selected);
    m_scrollBar->setValue(m_grid.Scroll());
    Request();
    update();
}

void TGalleryView::SetSide(int side) {
    m_grid.SetSide(side);
    Layout();
    m_scrollBar->setValue(m_grid.Scroll());
    Request();
    update();
}

QStringList TGalleryView::Pending() {
    const std::lock_guard lock(m_mutex);
    QStringList files;
    for (const std::vector<TJob>* jobs : {&m_queue, &m_running})
        for (const TJob& job : *jobs)
            if (!job.Stop->load()) files << job.Key.File;
    return files;
}

void TGalleryView::Forget() {
    {
        const std::lock_guard lock(m_mutex);
        for (TJob& job : m_running) job.Stop->store(true);
        m_queue.clear();
    }
    m_kept.clear();
    m_use.clear();
    m_keptBytes = 0;
    Request();
    update();
}

int TGalleryView::DeviceSide() const {
    return std::max(1, qRound(m_grid.Side() * devicePixelRatioF()));
}

void TGalleryView::Layout() {
    const int bar = m_scrollBar->sizeHint().width();
    m_scrollBar->setGeometry(width() - bar, 0, bar, height());
    m_grid.SetViewport(width() - bar, height());
    m_scrollBar->setRange(0, m_grid.MaxScroll());
    m_scrollBar->setPageStep(std::max(1, height()));
    m_scrollBar->setSingleStep(std::max(1, m_grid.Side() / 4));
}

bool TGalleryView::VisibleDone() const {
    const auto [first, last] = m_grid.VisibleRange();
    for (int i = first; i < last; ++i)
        if (m_kept.find(TKey{m_files[i], DeviceSide()}) == m_kept.end()) return false;
    return true;
}

const QImage* TGalleryView::Kept(const TKey& key, bool* known) {
    const auto at = m_kept.find(key);
    *known = at != m_kept.end();
    if (!*known) return nullptr;
    // Seen: to the front of the use order.
    m_use.splice(m_use.begin(), m_use, at->second.Use);
    return at->second.Picture.isNull() ? nullptr : &at->second.Picture;
}

void TGalleryView::Keep(const TKey& key, const QImage& picture) {
    if (const auto at = m_kept.find(key); at != m_kept.end()) {
        m_keptBytes -= std::size_t(at->second.Picture.sizeInBytes());
        m_use.erase(at->second.Use);
        m_kept.erase(at);
    }
    m_use.push_front(key);
    m_kept.emplace(key, TKept{picture, m_use.begin()});
    m_keptBytes += std::size_t(picture.sizeInBytes());
    // The least recently seen go first; what is on screen was seen last.
    while (m_keptBytes > kKeptBytes && m_use.size() > 1) {
        const auto at = m_kept.find(m_use.back());
        m_keptBytes -= std::size_t(at->second.Picture.sizeInBytes());
        m_kept.erase(at);
        m_use.pop_back();
    }
}

void TGalleryView::Request() {
    if (m_files.isEmpty() || !isVisible()) return;
    const int side = DeviceSide();
    const auto [first, last] = m_grid.VisibleRange(kAheadRows);
    const auto [keepFirst, keepLast] = m_grid.VisibleRange(kKeepWorkingRows);
    const auto [shownFirst, shownLast] = m_grid.VisibleRange();
    std::vector<TKey> wanted;
    // What is on screen first, then the rows around it.
    const auto want = [&](int i) {
        const TKey key{m_files[i], side};
        if (m_kept.find(key) == m_kept.end()) wanted.push_back(key);
    };
    for (int i = shownFirst; i < shownLast; ++i) want(i);
    for (int i = first; i < last; ++i)
        if (i < shownFirst || i >= shownLast) want(i);
    {
        const std::lock_guard lock(m_mutex);
        // Work for cells far away, or for another size, is dropped.
        const auto near = [&](const TKey& key) {
            if (key.Side != side) return false;
            for (int i = keepFirst; i < keepLast; ++i)
                if (m_files[i] == key.File) return true;
            return false;
        };
        for (TJob& job : m_running)
            if (!near(job.Key)) job.Stop->store(true);
        m_queue.clear();
        for (const TKey& key : wanted) {
            const bool running = std::any_of(m_running.begin(), m_running.end(),
                                             [&](const TJob& j) { return j.Key == key; });
            if (!running) m_queue.push_back({key, std::make_shared<std::atomic<bool>>(false)});
        }
        if (m_queue.empty()) return;
    }
    if (m_workers.empty()) {
        try {
            for (int i = 0; i < kWorkers; ++i) m_workers.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // With fewer workers the thumbnails come more slowly; with none, not at all.
        }
    }
    m_wake.notify_all();
}

void TGalleryView::Work() {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || !m_queue.empty(); });
            if (m_ending) return;
            job = m_queue.front();
            m_queue.erase(m_queue.begin());
            m_running.push_back(job);
        }
        QImage picture;
        try {
            picture = MakeGalleryThumbnail(job.Key.File, job.Key.Side, *job.Stop).Picture;
            if (!picture.isNull() &&
                (picture.width() > job.Key.Side || picture.height() > job.Key.Side))
                picture = picture.scaled(job.Key.Side, job.Key.Side, Qt::KeepAspectRatio,
                                         Qt::SmoothTransformation);
        } catch (const std::exception&) {
            picture = QImage();
        }
        const bool stopped = job.Stop->load();
        {
            const std::lock_guard lock(m_mutex);
            m_running.erase(std::find_if(m_running.begin(), m_running.end(),
                                         [&](const TJob& j) { return j.Stop == job.Stop; }));
        }
        if (stopped) continue;
        // Delivered on the GUI thread; dropped with the widget if it goes first.
        QMetaObject::invokeMethod(
            this, [this, key = job.Key, picture] { Arrived(key, picture); }, Qt::QueuedConnection);
    }
}

void TGalleryView::StopWorkers() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
        for (TJob& job : m_running) job.Stop->store(true);
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers) worker.join();
    m_workers.clear();
}

void TGalleryView::Arrived(const TKey& key, const QImage& picture) {
    Keep(key, picture);
    if (key.Side != DeviceSide()) return;
    const auto [first, last] = m_grid.VisibleRange();
    for (int i = first; i < last; ++i)
        if (m_files[i] == key.File) {
            update(m_grid.CellRect(i));
            break;
        }
    if (OnThumbnail) OnThumbnail();
}

void TGalleryView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int side = DeviceSide();
    const double ratio = devicePixelRatioF();
    const QFontMetrics metrics(font());
    const auto [first, last] = m_grid.VisibleRange();
    for (int i = first; i < last; ++i) {
        const QRect cell = m_grid.CellRect(i);
        const QRect box = m_grid.PictureRect(i);
        if (i == m_grid.Selected())
            painter.fillRect(cell.adjusted(-4, -4, 4, 4), palette().color(QPalette::Highlight));
        bool known = false;
        const QImage* picture = Kept(TKey{m_files[i], side}, &known);
        if (picture != nullptr) {
            const QSizeF size = QSizeF(picture->size()) / ratio;
            const QRectF place(box.left() + (box.width() - size.width()) / 2,
                               box.top() + (box.height() - size.height()) / 2, size.width(),
                               size.height());
            painter.drawImage(place, *picture);
        } else {
            painter.fillRect(box, kEmptyCell);
            if (known) {
                // No picture could be made of it: a crossed frame.
                painter.setPen(QPen(kNameColour, 2));
                const QRect mark = box.adjusted(box.width() / 3, box.height() / 3, -box.width() / 3,
                                                -box.height() / 3);
                painter.drawRect(mark);
                painter.drawLine(mark.topLeft(), mark.bottomRight());
            }
        }
        painter.setPen(i == m_grid.Selected() ? palette().color(QPalette::HighlightedText)
                                              : kNameColour);
        const QRect name = m_grid.NameRect(i);
        painter.drawText(
            name, Qt::AlignHCenter | Qt::AlignVCenter,
            metrics.elidedText(QFileInfo(m_files[i]).fileName(), Qt::ElideMiddle, name.width()));
    }
}

void TGalleryView::resizeEvent(QResizeEvent*) {
    Layout();
    m_grid.Select(m_grid.Selected());
    m_scrollBar->setValue(m_grid.Scroll());
    Request();
}

void TGalleryView::showEvent(QShowEvent*) {
    Layout();
    Request();
}

void TGalleryView::keyPressEvent(QKeyEvent* event) {
    using enum TGalleryGrid::TMove;
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    const auto move = [&](TGalleryGrid::TMove m) {
        m_grid.Move(m);
        m_scrollBar->setValue(m_grid.Scroll());
        Request();
        update();
    };
    switch (event->key()) {
    case Qt::Key_Left:
        return move(Left);
    case Qt::Key_Right:
        return move(Right);
    case Qt::Key_Up:
        return move(Up);
    case Qt::Key_Down:
        return move(Down);
    case Qt::Key_PageUp:
        return move(PageUp);
    case Qt::Key_PageDown:
        return move(PageDown);
    case Qt::Key_Home:
        return move(Home);
    case Qt::Key_End:
        return move(End);
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (OnOpen && m_grid.Selected() >= 0) OnOpen(m_grid.Selected());
        return;
    case Qt::Key_Escape:
        if (OnLeave) OnLeave();
        return;
    case Qt::Key_Delete:
        if (OnDelete && m_grid.Selected() >= 0) OnDelete(m_grid.Selected());
        return;
    case Qt::Key_C:
        if (ctrl && OnCopy && m_grid.Selected() >= 0) return OnCopy(m_grid.Selected());
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        if (ctrl) return SetSide(m_grid.Side() + TGalleryGrid::kSideStep);
        break;
    case Qt::Key_Minus:
        if (ctrl) return SetSide(m_grid.Side() - TGalleryGrid::kSideStep);
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void TGalleryView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return;
    if (event->modifiers() & Qt::ControlModifier)
        SetSide(m_grid.Side() + steps * TGalleryGrid::kSideStep);
    else
        m_scrollBar->setValue(m_scrollBar->value() - steps * 3 * m_scrollBar->singleStep());
}

void TGalleryView::mousePressEvent(QMouseEvent* event) {
    const int index =
        m_grid.CellAt(event->position().toPoint().x(), event->position().toPoint().y());
    if (index < 0) return;
    m_grid.Select(index);
    m_scrollBar->setValue(m_grid.Scroll());
    update();
}

void TGalleryView::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressAt.x() < 0 || !(event->buttons() & Qt::LeftButton)) return;
    if ((event->position().toPoint() - m_pressAt).manhattanLength() <
        QApplication::startDragDistance())
        return;
    const int index = m_grid.CellAt(m_pressAt.x(), m_pressAt.y());
    m_pressAt = QPoint(-1, -1);
    if (index < 0) return;
    // Out to another program, as a file manager hands a file over: a copy.
    auto* drag = new QDrag(this);
    drag->setMimeData(DragData(index));
    bool known = false;
    if (const QImage* picture = Kept(TKey{m_files[index], DeviceSide()}, &known))
        drag->setPixmap(QPixmap::fromImage(
            picture->scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    drag->exec(Qt::CopyAction);
}

QMimeData* TGalleryView::DragData(int index) const {
    auto* data = new QMimeData;
    if (index >= 0 && index < m_files.size()) data->setUrls({QUrl::fromLocalFile(m_files[index])});
    return data;
}

void TGalleryView::contextMenuEvent(QContextMenuEvent* event) {
    const int index = m_grid.CellAt(event->pos().x(), event->pos().y());
    if (index < 0) return;
    m_grid.Select(index);
    m_scrollBar->setValue(m_grid.Scroll());
    update();
    if (OnMenu) OnMenu(index, event->globalPos());
}

void TGalleryView::mouseDoubleClickEvent(QMouseEvent* event) {
    const int index =
        m_grid.CellAt(event->position().toPoint().x(), event->position().toPoint().y());
    if (index >= 0 && OnOpen) OnOpen(index);
}
