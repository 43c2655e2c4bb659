#include "settings/VekLabeledEditWidget.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPalette>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include <algorithm>

namespace {

void AddRange(TVekCharSet& set, char from, char to) {
    for (int c = static_cast<unsigned char>(from); c <= static_cast<unsigned char>(to); ++c)
        set.set(std::size_t(c));
}

void AddChars(TVekCharSet& set, const char* chars) {
    for (const char* c = chars; *c != '\0'; ++c) set.set(static_cast<unsigned char>(*c));
}

} // namespace

TVekCharSet CharSetOf(TVekCharRestrictionType type) {
    TVekCharSet set;
    switch (type) {
    case rtNone:
    case rtCustom:
        break;
    case rtAlphabetic:
        AddRange(set, 'A', 'Z');
        AddRange(set, 'a', 'z');
        break;
    case rtNumeric:
        AddChars(set, "-");
        AddRange(set, '0', '9');
        break;
    case rtAlphaNumeric:
        AddChars(set, "-");
        AddRange(set, '0', '9');
        AddRange(set, 'A', 'Z');
        AddRange(set, 'a', 'z');
        break;
    case rtWinPath:
        AddChars(set, " -.:\\_");
        AddRange(set, '0', '9');
        AddRange(set, 'A', 'Z');
        AddRange(set, 'a', 'z');
        break;
    case rtUnixPath:
        AddChars(set, " -./:_");
        AddRange(set, '0', '9');
        AddRange(set, 'A', 'Z');
        AddRange(set, 'a', 'z');
        break;
    case rtFloat:
        AddChars(set, ",-.");
        AddRange(set, '0', '9');
        break;
    }
    return set;
}

void FilterText(QString& text, const TVekCharSet& allowed, int& selStart, int& selLength) {
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text.at(i).unicode();
        if (c < 256 && allowed.test(c)) {
            ++i;
            continue;
        }
        text.remove(i, 1);
        // j: the removed character's 1-based position.
        const qsizetype j = i + 1;
        if (selStart >= j)
            --selStart;
        else if (selStart + selLength >= j)
            --selLength;
    }
}

void ConvertDecimalText(QString& text, const QString& separator) {
    text.replace(QLatin1Char('.'), separator);
    text.replace(QLatin1Char(','), separator);
}

TVekLabeledEdit::TVekLabeledEdit(QWidget* parent) : QWidget(parent) {
    m_label = new QLabel(this);
    m_edit = new QLineEdit(this);
    m_label->setBuddy(m_edit);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(m_label);
    layout->addWidget(m_edit);
    setFocusProxy(m_edit);
    // Caption and field keep together: extra height in a layout goes elsewhere.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_acceptTimer.setSingleShot(true);
    m_acceptTimer.setInterval(1000);
    connect(&m_acceptTimer, &QTimer::timeout, this, [this] { AcceptTimerTimer(); });
    connect(m_edit, &QLineEdit::textChanged, this, [this] { EditChange(); });
    m_edit->installEventFilter(this);
}

TVekLabeledEdit::~TVekLabeledEdit() {
    // No accept may run while the children go.
    m_acceptTimer.stop();
    m_edit->removeEventFilter(this);
    m_edit->disconnect(this);
}

QString TVekLabeledEdit::Text() const {
    return m_edit->text();
}

void TVekLabeledEdit::SetText(const QString& text) {
    m_edit->setText(text);
}

void TVekLabeledEdit::SetRestrictionType(TVekCharRestrictionType value) {
    m_restriction = value;
    if (value == rtNone) {
        m_allowed.reset();
        return;
    }
    // A custom type keeps the set it was given and is filtered with the next change.
    if (value == rtCustom) return;
    m_allowed = CharSetOf(value);
    EditChange();
}

void TVekLabeledEdit::SetAllowedChars(const TVekCharSet& chars) {
    m_allowed = chars;
    if (m_restriction != rtNone) EditChange();
}

void TVekLabeledEdit::SetConvertDecimal(bool value) {
    const bool switchedOn = value && !m_convertDecimal;
    m_convertDecimal = value;
    // Converts the text and filters it, unless the field is unrestricted: rtNone has
    // an empty set, which would wipe the text.
    if (switchedOn) EditChange();
}

void TVekLabeledEdit::SetEnabled(bool value) {
    setEnabled(value);
    const QPalette standard = QApplication::palette(m_edit);
    const QColor colour =
        standard.color(QPalette::Active, value ? QPalette::Base : QPalette::Button);
    QPalette palette = m_edit->palette();
    palette.setColor(QPalette::Base, colour); // every colour group: disabled is drawn too
    m_edit->setPalette(palette);
}

void TVekLabeledEdit::CleanText(bool convert, bool filter) {
    if (!convert && !filter) return;
    QString text = m_edit->text();
    const QString before = text;
    int start = m_edit->cursorPosition();
    int length = 0;
    bool backward = false;
    if (m_edit->hasSelectedText()) {
        start = m_edit->selectionStart();
        length = m_edit->selectionLength();
        backward = m_edit->cursorPosition() == start;
    }
    if (convert) ConvertDecimalText(text, QLocale().decimalPoint());
    if (filter) FilterText(text, m_allowed, start, length);
    if (text == before) return;

    // A separator of another length than the character it replaces may shift the end.
    start = std::clamp(start, 0, int(text.size()));
    length = std::clamp(length, 0, int(text.size()) - start);
    const QScopedValueRollback guard(m_cleaning, true);
    m_edit->setText(text);
    if (length == 0)
        m_edit->setCursorPosition(start);
    else if (backward)
        m_edit->setSelection(start + length, -length);
    else
        m_edit->setSelection(start, length);
}

void TVekLabeledEdit::EditChange() {
    // The text written back by CleanText comes here again; it is clean already.
    if (m_cleaning) return;
    CleanText(m_convertDecimal, m_restriction != rtNone);
    const QString text = m_edit->text();
    // A rejected character leaves the text as it was: no change, no restart.
    if (text == m_lastText) return;
    m_lastText = text;
    m_acceptTimer.start();
    if (OnChange) OnChange();
}

void TVekLabeledEdit::AcceptTimerTimer() {
    m_acceptTimer.stop();
    if (!OnAcceptChanges) return;
    const QWidget* owner = parentWidget();
    if (!isVisible() || !isEnabled() || (owner != nullptr && !owner->isVisible())) return;
    OnAcceptChanges();
}

void TVekLabeledEdit::AcceptIfPending() {
    if (AcceptPending()) AcceptTimerTimer();
}

bool TVekLabeledEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) AcceptIfPending();
        } else if (event->type() == QEvent::FocusOut) {
            AcceptIfPending();
        }
    }
    // The field still sees every event: Enter goes on to the dialog's default button.
    return QWidget::eventFilter(watched, event);
}
