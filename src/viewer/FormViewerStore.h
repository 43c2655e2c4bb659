#pragma once

#include "platform/StoreSnapshot.h"

#include <QObject>
#include <QTimer>

class QWidget;
class TViewerPanelSet;
class TViewerSimpleMode;

// The viewer window's values in the store: its place and state, simple mode's frame,
// and each panel's wish to be seen, place, size, font and options. They are read once
// at start; from then on what changed is written shortly after it changes (a drag or a
// resize is one write: a move, a resize or a new window state of the window, a button
// released over the view, an entry chosen from one of its menus), merged with what
// other processes stored, and once more when the window goes. A failure to write is
// reported once a run.
class TViewerStore : public QObject {
public:
    TViewerStore(QWidget& window, QWidget& view, TViewerSimpleMode& simple,
                 TViewerPanelSet& panels);
    ~TViewerStore() override;

    // Places the window and the panels as stored.
    void Load();
    // From here on only what changes is written; the window's menus that exist now
    // schedule a write when an entry is chosen.
    void Watch();
    // What changed goes to the store now.
    void WriteThrough();
    // Writes every value (the snapshot passes on only what changed).
    void Save();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_window;
    QWidget& m_view;
    TViewerSimpleMode& m_simple;
    TViewerPanelSet& m_panels;
    TStoreSnapshot m_stored;
    QTimer m_timer;
};
