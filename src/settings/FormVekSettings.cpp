#include "settings/FormVekSettings.h"

#include "app/AppContext.h"

TSettingsForm::TSettingsForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Pictrel settings"));
    (void)m_context;
}
