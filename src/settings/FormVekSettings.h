#pragma once

#include <QDialog>

class TAppContext;

// The modal settings dialog; created hidden at start-up and kept until the end.
class TSettingsForm : public QDialog {
public:
    explicit TSettingsForm(TAppContext& context);

private:
    TAppContext& m_context;
};
