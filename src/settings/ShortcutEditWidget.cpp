#include "settings/ShortcutEditWidget.h"

#include "platform/VirtualKeys.h"

#include <QKeyEvent>

namespace {

bool MovesFocus(const QKeyEvent& event) {
    return (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab) &&
           (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0;
}

} // namespace

TShortcutEdit::TShortcutEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void TShortcutEdit::SetShortcut(std::uint16_t value) {
    m_shortcut = value;
    setText(ShortcutToText(value));
}

bool TShortcutEdit::event(QEvent* event) {
    // Every key belongs to the field while it has the focus: Enter and Escape are
    // shortcuts to capture here, not the dialog's OK and Cancel.
    if (event->type() == QEvent::ShortcutOverride && !MovesFocus(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void TShortcutEdit::keyPressEvent(QKeyEvent* event) {
    if (MovesFocus(*event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    const std::uint16_t value = ShortcutFromKeyEvent(*event);
    if (value == 0 || value == m_shortcut) return;
    SetShortcut(value);
    if (OnChange) OnChange(value);
}
