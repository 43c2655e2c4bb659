#pragma once

#include <QApplication>
#include <QString>

#include <functional>

// The program's application object. Its notify is the default handler of the
// windows' errors: an exception that leaves a handler run from the event loop (a
// window's event, a loader's or threaded method's report, anything posted to the
// GUI thread) ends here, and its message is shown instead of the exception
// unwinding into the event loop.
class TVekApplication : public QApplication {
public:
    using TErrorReporter = std::function<void(const QString& message)>;

    TVekApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows a caught error's message; ShowErrorMessage unless replaced (a test
    // takes the text instead of a modal box).
    TErrorReporter ReportError;

    // A message box titled "Pictrel" with the message, centred on the screen.
    static void ShowErrorMessage(const QString& message);

private:
    void Report(const QString& message);

    bool m_reporting = false;
};
