#include "app/ViewerStoreValues.h"

#include "platform/Registry.h"

TViewerStoreValues TViewerStoreValues::Defaults(int screenWidth, int screenHeight) {
    TViewerStoreValues values;
    values.SimpleWidth = screenWidth / 8;
    values.SimpleHeight = screenHeight / 8;
    values.SimpleLeft = screenWidth - values.SimpleWidth - 1;
    values.SimpleTop = screenHeight - values.SimpleHeight - 1;
    return values;
}

TViewerStoreValues TViewerStoreValues::Load(int screenWidth, int screenHeight) {
    using namespace layout;
    TViewerStoreValues v = Defaults(screenWidth, screenHeight);
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    v.Width = reg.ReadInteger(kMainFormWidth).value_or(v.Width);
    v.Height = reg.ReadInteger(kMainFormHeight).value_or(v.Height);
    v.Left = reg.ReadInteger(kMainFormLeft).value_or(v.Left);
    v.Top = reg.ReadInteger(kMainFormTop).value_or(v.Top);
    v.SimpleWidth = reg.ReadInteger(kSimpleWidth).value_or(v.SimpleWidth);
    v.SimpleHeight = reg.ReadInteger(kSimpleHeight).value_or(v.SimpleHeight);
    v.SimpleLeft = reg.ReadInteger(kSimpleLeft).value_or(screenWidth - v.SimpleWidth - 1);
    v.SimpleTop = reg.ReadInteger(kSimpleTop).value_or(screenHeight - v.SimpleHeight - 1);
    v.WindowState = reg.ReadInteger(kMainFormWindowState).value_or(kDefaultWindowState);
    if (v.WindowState < 0 || v.WindowState > 2) v.WindowState = 0;
    v.SimpleBlend = reg.ReadInteger(kSimpleBlend).value_or(v.SimpleBlend);
    for (int i = 0; i < kPanelCount; ++i)
        v.LayerVisible[std::size_t(i)] =
            reg.ReadBool(QString::fromLatin1(kPanelNames[i]) + kLayerVisibleSuffix).value_or(false);
    return v;
}

void TViewerStoreValues::Save() const {
    using namespace layout;
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    reg.WriteInteger(kMainFormWindowState, WindowState);
    reg.WriteInteger(kMainFormWidth, Width);
    reg.WriteInteger(kMainFormHeight, Height);
    reg.WriteInteger(kMainFormLeft, Left);
    reg.WriteInteger(kMainFormTop, Top);
    reg.WriteInteger(kSimpleWidth, SimpleWidth);
    reg.WriteInteger(kSimpleHeight, SimpleHeight);
    reg.WriteInteger(kSimpleLeft, SimpleLeft);
    reg.WriteInteger(kSimpleTop, SimpleTop);
    reg.WriteInteger(kSimpleBlend, SimpleBlend);
    for (int i = 0; i < kPanelCount; ++i)
        reg.WriteBool(QString::fromLatin1(kPanelNames[i]) + kLayerVisibleSuffix,
                      LayerVisible[std::size_t(i)]);
    reg.CloseKey();
}
