#pragma once

#include <QLineEdit>

#include <cstdint>
#include <functional>

// A read-only field that takes the next key pressed in it (a modifier key alone
// included, left and right Shift told apart) as a shortcut value and shows its
// text. Tab and Shift+Tab still move between the fields.
class TShortcutEdit : public QLineEdit {
public:
    explicit TShortcutEdit(QWidget* parent = nullptr);

    [[nodiscard]] std::uint16_t Shortcut() const { return m_shortcut; }
    void SetShortcut(std::uint16_t value);

    // After a key press changed the value.
    std::function<void(std::uint16_t value)> OnChange;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::uint16_t m_shortcut = 0;
};
