#include "app/PanelStoreValues.h"

#include "platform/Registry.h"

QString TPanelStoreValues::KeyPath(layout::TPanel panel) {
    return QString::fromLatin1(layout::kSettingsKey) + '\\' +
           QString::fromLatin1(layout::kPanelNames[int(panel)]);
}

TPanelStoreValues TPanelStoreValues::Load(layout::TPanel panel) {
    using namespace layout;
    TPanelStoreValues v;
    TRegistry reg;
    reg.OpenKey(KeyPath(panel), true);
    v.Left = reg.ReadFloat(kPanelLeft);
    v.Right = reg.ReadFloat(kPanelRight);
    v.Bottom = reg.ReadFloat(kPanelBottom);
    v.Top = reg.ReadFloat(kPanelTop);
    v.TextFont = reg.ReadString(kPanelTextFont);
    v.ShowRed = reg.ReadBool(kPanelShowRed);
    v.ShowGreen = reg.ReadBool(kPanelShowGreen);
    v.ShowBlue = reg.ReadBool(kPanelShowBlue);
    v.ShowGray = reg.ReadBool(kPanelShowGray);
    v.ShowComment = reg.ReadBool(kPanelShowComment);
    return v;
}

void TPanelStoreValues::Save(layout::TPanel panel) const {
    using namespace layout;
    TRegistry reg;
    reg.OpenKey(KeyPath(panel), true);
    const auto putFloat = [&](const char* name, const std::optional<double>& value) {
        if (value) reg.WriteFloat(name, *value);
    };
    const auto putBool = [&](const char* name, const std::optional<bool>& value) {
        if (value) reg.WriteBool(name, *value);
    };
    putFloat(kPanelLeft, Left);
    putFloat(kPanelRight, Right);
    putFloat(kPanelBottom, Bottom);
    putFloat(kPanelTop, Top);
    if (TextFont) reg.WriteString(kPanelTextFont, *TextFont);
    putBool(kPanelShowRed, ShowRed);
    putBool(kPanelShowGreen, ShowGreen);
    putBool(kPanelShowBlue, ShowBlue);
    putBool(kPanelShowGray, ShowGray);
    putBool(kPanelShowComment, ShowComment);
    reg.CloseKey();
}
