#include "settings/VekLabeledEditWidget.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <QVBoxLayout>

#include <ostream>
#include <string>

namespace {

TVekCharSet SetOfChars(const char* chars) {
    TVekCharSet set;
    for (const char* c = chars; *c != '\0'; ++c) set.set(static_cast<unsigned char>(*c));
    return set;
}

// ---- character sets ---------------------------------------------------------------

struct TSetCase {
    TVekCharRestrictionType Type;
    std::size_t Count;
    const char* In;
    const char* Out;
};

class CharSets : public testing::TestWithParam<TSetCase> {};

TEST_P(CharSets, HoldExactlyTheirCharacters) {
    const TSetCase& c = GetParam();
    const TVekCharSet set = CharSetOf(c.Type);
    EXPECT_EQ(set.count(), c.Count);
    for (const char* p = c.In; *p != '\0'; ++p)
        EXPECT_TRUE(set.test(static_cast<unsigned char>(*p))) << "missing '" << *p << "'";
    for (const char* p = c.Out; *p != '\0'; ++p)
        EXPECT_FALSE(set.test(static_cast<unsigned char>(*p))) << "unexpected '" << *p << "'";
}

INSTANTIATE_TEST_SUITE_P(VekLabeledEdit, CharSets,
                         testing::Values(TSetCase{rtNone, 0, "", "a1"},
                                         TSetCase{rtCustom, 0, "", "a1"},
                                         TSetCase{rtAlphabetic, 52, "AZaz", "09-@[`{"},
                                         TSetCase{rtNumeric, 11, "-09", "+.,a/:"},
                                         TSetCase{rtAlphaNumeric, 63, "-09AZaz", "_ ."},
                                         TSetCase{rtWinPath, 68, " -.09:AZ\\_az", "/,;"},
                                         TSetCase{rtUnixPath, 68, " -./09:AZ_az", "\\,;"},
                                         TSetCase{rtFloat, 13, ",-.09", "e+ "}));

// ---- the filter's caret and selection rule -------------------------------------------

struct TFilterCase {
    const char* Name;
    const char* Allowed;
    QString Text;
    int Start, Length;
    QString Result;
    int ResultStart, ResultLength;
};

void PrintTo(const TFilterCase& c, std::ostream* os) {
    *os << c.Name;
}

class FilterRule : public testing::TestWithParam<TFilterCase> {};

TEST_P(FilterRule, KeepsCaretAndSelectionOnTheirCharacters) {
    const TFilterCase& c = GetParam();
    QString text = c.Text;
    int start = c.Start, length = c.Length;
    FilterText(text, SetOfChars(c.Allowed), start, length);
    EXPECT_EQ(text, c.Result);
    EXPECT_EQ(start, c.ResultStart);
    EXPECT_EQ(length, c.ResultLength);
}

INSTANTIATE_TEST_SUITE_P(
    VekLabeledEdit, FilterRule,
    testing::Values(TFilterCase{"CaretAfterRemoved", "-0123456789", "12a4", 4, 0, "124", 3, 0},
                    TFilterCase{"CaretBeforeRemoved", "-0123456789", "1a2", 1, 0, "12", 1, 0},
                    TFilterCase{"CaretJustAfterRemoved", "-0123456789", "1a2", 2, 0, "12", 1, 0},
                    TFilterCase{"SelectionShrinks", "-0123456789", "a1b2", 0, 4, "12", 0, 2},
                    TFilterCase{"SelectionMovesAndShrinks", "-0123456789", "ab12", 1, 2, "12", 0,
                                1},
                    TFilterCase{"AfterSelectionUntouched", "-0123456789", "12a", 0, 2, "12", 0, 2},
                    TFilterCase{"AllRemoved", "x", "abc", 3, 0, "", 0, 0},
                    TFilterCase{"Latin1Kept",
                                "\xe9"
                                "1",
                                QString::fromUtf8("\xc3\xa9"
                                                  "1"),
                                0, 0,
                                QString::fromUtf8("\xc3\xa9"
                                                  "1"),
                                0, 0},
                    TFilterCase{"AboveLatin1Removed", "5",
                                QString::fromUtf8("\xe2\x82\xac"
                                                  "5"),
                                2, 0, "5", 1, 0}),
    [](const testing::TestParamInfo<TFilterCase>& info) { return std::string(info.param.Name); });

TEST(VekLabeledEdit, CharactersAbove255AreOutsideEvenAFullSet) {
    TVekCharSet all;
    all.set();
    QString text = QString::fromUtf8("a\xe2\x82\xac\xf0\x9f\x98\x80z"); // a, euro, emoji, z
    int start = 0, length = 0;
    FilterText(text, all, start, length);
    EXPECT_EQ(text, "az");
}

// ---- the field --------------------------------------------------------------------

class VekLabeledEditField : public testing::Test {
protected:
    void SetUp() override {
        m_savedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        ASSERT_EQ(QLocale().decimalPoint(), ",");
        m_edit = new TVekLabeledEdit(&m_parent);
        m_other = new QLineEdit(&m_parent);
        auto* layout = new QVBoxLayout(&m_parent);
        layout->addWidget(m_edit);
        layout->addWidget(m_other);
        m_edit->OnAcceptChanges = [this] { ++m_accepts; };
        m_edit->OnChange = [this] { ++m_changes; };
    }
    void TearDown() override { QLocale::setDefault(m_savedLocale); }

    void Type(const QString& keys) { QTest::keyClicks(m_edit->Edit(), keys); }
    void LeaveField() {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(m_edit->Edit(), &out);
    }

    QLocale m_savedLocale;
    QWidget m_parent;
    TVekLabeledEdit* m_edit = nullptr;
    QLineEdit* m_other = nullptr;
    int m_accepts = 0;
    int m_changes = 0;
};

TEST_F(VekLabeledEditField, IsOneWidgetWithCaptionAboveEdit) {
    m_edit->EditLabel()->setText("Width:");
    EXPECT_EQ(m_edit->EditLabel()->parentWidget(), m_edit);
    EXPECT_EQ(m_edit->Edit()->parentWidget(), m_edit);
    EXPECT_EQ(m_edit->EditLabel()->buddy(), m_edit->Edit());
    EXPECT_EQ(m_edit->focusProxy(), m_edit->Edit());
    m_parent.show();
    EXPECT_LT(m_edit->EditLabel()->geometry().top(), m_edit->Edit()->geometry().top());
    m_edit->SetText("abc");
    EXPECT_EQ(m_edit->Text(), "abc");
    EXPECT_EQ(m_edit->Edit()->text(), "abc");
}

TEST_F(VekLabeledEditField, Defaults) {
    EXPECT_EQ(m_edit->RestrictionType(), rtNone);
    EXPECT_EQ(m_edit->AcceptTimeout(), 1000);
    EXPECT_FALSE(m_edit->ConvertDecimal());
    EXPECT_FALSE(m_edit->AcceptPending());
    m_edit->SetAcceptTimeout(250);
    EXPECT_EQ(m_edit->AcceptTimeout(), 250);
}

struct TTypingCase {
    const char* Name;
    TVekCharRestrictionType Type;
    bool Convert;
    QString Typed;
    QString Result;
};

void PrintTo(const TTypingCase& c, std::ostream* os) {
    *os << c.Name;
}

class TypingInto : public VekLabeledEditField, public testing::WithParamInterface<TTypingCase> {};

TEST_P(TypingInto, LeavesOnlyAllowedCharactersWithCaretAtTheEnd) {
    const TTypingCase& c = GetParam();
    m_edit->SetRestrictionType(c.Type);
    m_edit->SetConvertDecimal(c.Convert);
    Type(c.Typed);
    EXPECT_EQ(m_edit->Text(), c.Result);
    EXPECT_EQ(m_edit->Edit()->cursorPosition(), c.Result.size());
}

INSTANTIATE_TEST_SUITE_P(
    VekLabeledEdit, TypingInto,
    testing::Values(TTypingCase{"Numeric", rtNumeric, false, "12a4", "124"},
                    TTypingCase{"NumericNegative", rtNumeric, false, "-7x", "-7"},
                    TTypingCase{"Alphabetic", rtAlphabetic, false, "ab1c", "abc"},
                    TTypingCase{"AlphaNumeric", rtAlphaNumeric, false, "a-1_b", "a-1b"},
                    TTypingCase{"WinPath", rtWinPath, false, "C:\\a/b c", "C:\\ab c"},
                    TTypingCase{"UnixPath", rtUnixPath, false, "/a\\b_c", "/ab_c"},
                    TTypingCase{"FloatKeepsPoint", rtFloat, false, "3.5e", "3.5"},
                    TTypingCase{"FloatConvertsPoint", rtFloat, true, "3.5", "3,5"},
                    TTypingCase{"FloatConvertsComma", rtFloat, true, "3,5", "3,5"},
                    TTypingCase{"NumericDropsConverted", rtNumeric, true, "1.5", "15"},
                    TTypingCase{"NoneTakesAll", rtNone, false, "a1-?", "a1-?"},
                    TTypingCase{"NoneStillConverts", rtNone, true, "a.b", "a,b"}),
    [](const testing::TestParamInfo<TTypingCase>& info) { return std::string(info.param.Name); });

struct TPasteCase {
    const char* Name;
    TVekCharRestrictionType Type;
    bool Convert;
    QString Before;
    int Caret;
    QString Pasted;
    QString Result;
    int ResultCaret;
};

void PrintTo(const TPasteCase& c, std::ostream* os) {
    *os << c.Name;
}

class PastingInto : public VekLabeledEditField, public testing::WithParamInterface<TPasteCase> {};

TEST_P(PastingInto, FiltersThePastedText) {
    const TPasteCase& c = GetParam();
    m_edit->SetRestrictionType(c.Type);
    m_edit->SetConvertDecimal(c.Convert);
    m_edit->SetText(c.Before);
    m_edit->Edit()->setCursorPosition(c.Caret);
    m_edit->Edit()->insert(c.Pasted);
    EXPECT_EQ(m_edit->Text(), c.Result);
    EXPECT_EQ(m_edit->Edit()->cursorPosition(), c.ResultCaret);
}

INSTANTIATE_TEST_SUITE_P(
    VekLabeledEdit, PastingInto,
    testing::Values(TPasteCase{"Numeric", rtNumeric, false, "", 0, "-3.5", "-35", 3},
                    TPasteCase{"FloatComma", rtFloat, true, "", 0, "-3.5", "-3,5", 4},
                    TPasteCase{"IntoTheMiddle", rtNumeric, false, "12", 1, "a3", "132", 2},
                    TPasteCase{"NothingAllowed", rtNumeric, false, "12", 1, "xy", "12", 1}),
    [](const testing::TestParamInfo<TPasteCase>& info) { return std::string(info.param.Name); });

TEST_F(VekLabeledEditField, SetTextIsFilteredToo) {
    m_edit->SetRestrictionType(rtNumeric);
    m_edit->SetText("4a2");
    EXPECT_EQ(m_edit->Text(), "42");
}

TEST_F(VekLabeledEditField, FilteringKeepsTheSelectionOnItsCharacters) {
    for (const bool backward : {false, true}) {
        m_edit->SetRestrictionType(rtNone);
        m_edit->SetText("12345");
        if (backward)
            m_edit->Edit()->setSelection(4, -3);
        else
            m_edit->Edit()->setSelection(1, 3);
        ASSERT_EQ(m_edit->Edit()->selectedText(), "234");
        m_edit->SetAllowedChars(SetOfChars("1245"));
        m_edit->SetRestrictionType(rtCustom);
        m_edit->SetAllowedChars(SetOfChars("1245")); // rtCustom: filters now
        EXPECT_EQ(m_edit->Text(), "1245") << backward;
        EXPECT_EQ(m_edit->Edit()->selectedText(), "24") << backward;
        EXPECT_EQ(m_edit->Edit()->cursorPosition(), backward ? 1 : 3) << backward;
    }
}

TEST_F(VekLabeledEditField, SwitchingFromNoneToAlphabeticStripsDigits) {
    m_edit->SetText("ab12cd");
    EXPECT_EQ(m_edit->Text(), "ab12cd");
    m_edit->SetRestrictionType(rtAlphabetic);
    EXPECT_EQ(m_edit->Text(), "abcd");
}

TEST_F(VekLabeledEditField, CustomSetIsKeptAndUsedOnlyWhenRestricted) {
    m_edit->SetText("xyz1");
    m_edit->SetAllowedChars(SetOfChars("xy"));
    EXPECT_EQ(m_edit->Text(), "xyz1") << "rtNone does not filter";
    m_edit->SetRestrictionType(rtCustom);
    EXPECT_EQ(m_edit->AllowedChars(), SetOfChars("xy")) << "rtCustom keeps the set";
    Type("z");
    EXPECT_EQ(m_edit->Text(), "xy") << "the next change filters with the custom set";
    m_edit->SetRestrictionType(rtNone);
    EXPECT_TRUE(m_edit->AllowedChars().none());
    Type("z");
    EXPECT_EQ(m_edit->Text(), "xyz");
}

TEST_F(VekLabeledEditField, AllowedCharsFilterAFixedType) {
    m_edit->SetRestrictionType(rtNumeric);
    m_edit->SetText("1234");
    m_edit->SetAllowedChars(SetOfChars("13"));
    EXPECT_EQ(m_edit->Text(), "13");
    EXPECT_EQ(m_edit->RestrictionType(), rtNumeric);
}

TEST_F(VekLabeledEditField, SwitchingConvertDecimalOnConvertsTheText) {
    m_edit->SetRestrictionType(rtFloat);
    m_edit->SetText("1.5");
    EXPECT_EQ(m_edit->Text(), "1.5");
    m_edit->SetConvertDecimal(true);
    EXPECT_EQ(m_edit->Text(), "1,5");
    m_edit->SetConvertDecimal(false);
    m_edit->SetText("2.5");
    EXPECT_EQ(m_edit->Text(), "2.5");
}

TEST_F(VekLabeledEditField, ConvertDecimalOnAnUnrestrictedFieldKeepsItsText) {
    m_edit->SetText("a.b");
    m_edit->SetConvertDecimal(true);
    EXPECT_EQ(m_edit->Text(), "a,b");
}

TEST_F(VekLabeledEditField, PointLocaleTurnsCommasIntoPoints) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    m_edit->SetRestrictionType(rtFloat);
    m_edit->SetConvertDecimal(true);
    Type("1,5");
    EXPECT_EQ(m_edit->Text(), "1.5");
}

TEST_F(VekLabeledEditField, RejectedCharacterIsNoChange) {
    m_edit->SetRestrictionType(rtNumeric);
    Type("12");
    EXPECT_EQ(m_changes, 2);
    m_edit->AcceptTimerTimer();
    ASSERT_FALSE(m_edit->AcceptPending());
    Type("a");
    EXPECT_EQ(m_changes, 2);
    EXPECT_FALSE(m_edit->AcceptPending()) << "the accept timer must not restart";
}

TEST_F(VekLabeledEditField, ThreeCharactersAcceptOnceAfterThePause) {
    m_parent.show();
    m_edit->SetRestrictionType(rtNumeric);
    Type("123");
    EXPECT_EQ(m_changes, 3);
    EXPECT_EQ(m_accepts, 0);
    EXPECT_TRUE(m_edit->AcceptPending());
    m_edit->AcceptTimerTimer();
    EXPECT_EQ(m_accepts, 1);
    EXPECT_FALSE(m_edit->AcceptPending());
    LeaveField();
    QTest::keyClick(m_edit->Edit(), Qt::Key_Return);
    EXPECT_EQ(m_accepts, 1) << "nothing pending: nothing more";
}

TEST_F(VekLabeledEditField, EnterAcceptsAtOnceAndLeavingAddsNothing) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        m_accepts = 0;
        m_parent.show();
        Type("x");
        ASSERT_TRUE(m_edit->AcceptPending());
        QTest::keyClick(m_edit->Edit(), key);
        EXPECT_EQ(m_accepts, 1);
        EXPECT_FALSE(m_edit->AcceptPending());
        LeaveField();
        EXPECT_EQ(m_accepts, 1);
    }
}

TEST_F(VekLabeledEditField, LeavingTheFieldAcceptsWhilePending) {
    m_parent.show();
    Type("5");
    LeaveField();
    EXPECT_EQ(m_accepts, 1);
    EXPECT_FALSE(m_edit->AcceptPending());
}

TEST_F(VekLabeledEditField, RealFocusChangeAccepts) {
    m_parent.show();
    m_parent.activateWindow();
    if (!QTest::qWaitForWindowActive(&m_parent)) GTEST_SKIP() << "no active window here";
    m_edit->Edit()->setFocus();
    ASSERT_TRUE(m_edit->Edit()->hasFocus());
    Type("7");
    m_other->setFocus();
    EXPECT_EQ(m_accepts, 1);
}

struct TAcceptCase {
    const char* Name;
    bool ParentShown, FieldShown, Enabled;
    int Accepts;
};

void PrintTo(const TAcceptCase& c, std::ostream* os) {
    *os << c.Name;
}

class AcceptWhen : public VekLabeledEditField, public testing::WithParamInterface<TAcceptCase> {};

TEST_P(AcceptWhen, OnlyVisibleAndEnabledFieldsReport) {
    const TAcceptCase& c = GetParam();
    if (c.ParentShown) m_parent.show();
    if (!c.FieldShown) m_edit->hide();
    m_edit->SetEnabled(c.Enabled);
    m_edit->SetText("1"); // a disabled field takes no keys, but its text still changes
    ASSERT_TRUE(m_edit->AcceptPending());
    m_edit->AcceptTimerTimer();
    EXPECT_EQ(m_accepts, c.Accepts);
    EXPECT_FALSE(m_edit->AcceptPending()) << "the timer stops either way";
}

INSTANTIATE_TEST_SUITE_P(VekLabeledEdit, AcceptWhen,
                         testing::Values(TAcceptCase{"Shown", true, true, true, 1},
                                         TAcceptCase{"ParentHidden", false, true, true, 0},
                                         TAcceptCase{"FieldHidden", true, false, true, 0},
                                         TAcceptCase{"Disabled", true, true, false, 0}),
                         [](const testing::TestParamInfo<TAcceptCase>& info) {
                             return std::string(info.param.Name);
                         });

TEST_F(VekLabeledEditField, NoHandlerStillStopsTheTimer) {
    m_parent.show();
    m_edit->OnAcceptChanges = nullptr;
    Type("1");
    m_edit->AcceptTimerTimer();
    EXPECT_FALSE(m_edit->AcceptPending());
}

TEST_F(VekLabeledEditField, TheAcceptTimerIsWired) {
    m_parent.show();
    m_edit->SetAcceptTimeout(1);
    Type("1");
    EXPECT_TRUE(pictrel::test::PumpUntil([this] { return m_accepts == 1; }));
    EXPECT_FALSE(m_edit->AcceptPending());
}

TEST_F(VekLabeledEditField, EnabledStateShowsInTheBackground) {
    const QPalette standard = QApplication::palette(m_edit->Edit());
    const QColor window = standard.color(QPalette::Active, QPalette::Base);
    const QColor face = standard.color(QPalette::Active, QPalette::Button);
    if (window == face) GTEST_SKIP() << "the style paints both alike";
    m_edit->SetEnabled(false);
    EXPECT_FALSE(m_edit->isEnabled());
    EXPECT_EQ(m_edit->Edit()->palette().color(QPalette::Disabled, QPalette::Base), face);
    m_edit->SetEnabled(true);
    EXPECT_TRUE(m_edit->isEnabled());
    EXPECT_EQ(m_edit->Edit()->palette().color(QPalette::Active, QPalette::Base), window);
    EXPECT_EQ(m_edit->Edit()->palette().color(QPalette::Inactive, QPalette::Base), window);
}

} // namespace
