// The toolkit's application object with the last line of defence: an error
// that escapes event delivery (a handler without its own guard) is handed to
// the application object instead of ending the process.
#pragma once

#include <QApplication>

namespace vantelo {

class TQtApplication : public QApplication {
    Q_OBJECT
public:
    TQtApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vantelo
