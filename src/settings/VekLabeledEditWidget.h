#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <bitset>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;

// Which characters a TVekLabeledEdit accepts.
enum TVekCharRestrictionType : std::uint8_t {
    rtNone,         // no filtering at all
    rtCustom,       // the set given by SetAllowedChars
    rtAlphabetic,   // A-Z, a-z
    rtNumeric,      // "-", 0-9
    rtAlphaNumeric, // "-", 0-9, A-Z, a-z
    rtWinPath,      // blank, "-", ".", 0-9, ":", A-Z, "\", "_", a-z
    rtUnixPath,     // blank, "-", ".", "/", 0-9, ":", A-Z, "_", a-z
    rtFloat         // ",", "-", ".", 0-9
};

// A set of the 256 character codes 0-255; anything above 255 is never in it.
using TVekCharSet = std::bitset<256>;

// The character set of a fixed restriction type; empty for rtNone and rtCustom.
[[nodiscard]] TVekCharSet CharSetOf(TVekCharRestrictionType type);

// Removes from `text` every character outside `allowed`, keeping the caret and
// selection on the same characters: `selStart` is the 0-based start of the
// selection (the caret when nothing is selected), `selLength` its length.
void FilterText(QString& text, const TVekCharSet& allowed, int& selStart, int& selLength);

// Replaces every "." and then every "," of `text` by `separator`.
void ConvertDecimalText(QString& text, const QString& separator);

// A single-line edit field with its caption above it, used as one widget in a
// layout. It accepts only the characters of its restriction type (filtering pasted
// and programmatically set text too), can turn "." and "," into the locale's
// decimal separator as they are typed, and reports an "accepted" change once
// typing has paused for AcceptTimeout, on Enter, or when the field loses focus.
class TVekLabeledEdit : public QWidget {
public:
    explicit TVekLabeledEdit(QWidget* parent = nullptr);
    ~TVekLabeledEdit() override;

    [[nodiscard]] QLabel* EditLabel() const { return m_label; }
    [[nodiscard]] QLineEdit* Edit() const { return m_edit; }

    [[nodiscard]] QString Text() const;
    void SetText(const QString& text);

    [[nodiscard]] TVekCharRestrictionType RestrictionType() const { return m_restriction; }
    // A fixed type loads its set and filters the text at once; rtNone empties the
    // set and stops filtering; rtCustom keeps the current set.
    void SetRestrictionType(TVekCharRestrictionType value);

    [[nodiscard]] const TVekCharSet& AllowedChars() const { return m_allowed; }
    // Stores the set and filters the text unless the type is rtNone.
    void SetAllowedChars(const TVekCharSet& chars);

    [[nodiscard]] int AcceptTimeout() const { return m_acceptTimer.interval(); }
    void SetAcceptTimeout(int milliseconds) { m_acceptTimer.setInterval(milliseconds); }

    [[nodiscard]] bool ConvertDecimal() const { return m_convertDecimal; }
    // Switching it on converts and filters the current text.
    void SetConvertDecimal(bool value);

    // Enables or disables the field, showing its background in the window colour
    // when enabled and in the button-face colour when disabled.
    void SetEnabled(bool value);

    // Whether an accepted change is waiting for the pause, Enter or focus loss.
    [[nodiscard]] bool AcceptPending() const { return m_acceptTimer.isActive(); }
    // The accept timer's tick: stops it and reports the change (OnAcceptChanges)
    // when the field and its parent are visible and the field is enabled.
    void AcceptTimerTimer();

    // After a pause in typing, Enter or leaving the field, once per change.
    std::function<void()> OnAcceptChanges;
    // After every change of the text that survives the filter.
    std::function<void()> OnChange;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void EditChange();
    // Converts (when asked) and filters the field's text, keeping caret and selection.
    void CleanText(bool convert, bool filter);
    void AcceptIfPending();

    QLabel* m_label = nullptr;
    QLineEdit* m_edit = nullptr;
    QTimer m_acceptTimer;
    TVekCharSet m_allowed;
    TVekCharRestrictionType m_restriction = rtNone;
    bool m_convertDecimal = false;
    bool m_cleaning = false;
    QString m_lastText;
};
