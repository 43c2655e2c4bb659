#pragma once

#include <QTemporaryDir>

// Private settings for a benchmark that makes windows: empty configuration and data
// folders of its own, and the offscreen platform unless another one was asked for. Make
// it before the application object; the folders go with it.
class TOffscreenHome {
public:
    TOffscreenHome() {
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_home.path().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    }

private:
    QTemporaryDir m_home;
};
