// Preloaded into the real `trimora` by the process tests: it plays the user
// who looks at the window, dismisses message boxes and taps the cross, and
// writes down what it saw. The program itself carries no test code.
//
//   TRIMORA_HOOK_REPORT  file the hook appends its lines to (required)
//   TRIMORA_HOOK_CROSS   "tap": tap the cross through Qt's input path;
//                        "point": only report where the cross is on the
//                        screen, for an outside tool (xdotool) to click
//   TRIMORA_HOOK_SHOT    PNG file the main window is grabbed into first
//   TRIMORA_HOOK_KEYS    keys pressed on the main window once it is idle,
//                        before it is looked at: "PageDown,PageUp,..."
//
// Lines: "message <text>" per message box, "question <text>" per question
// (answered No), then once the main window is idle
// "status <status line>", "title <window title>", "resolution <text beside
// the status line>", "centre R G B" (the preview area's centre pixel) and,
// with "point", "cross X Y".
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

namespace {

constexpr int ID_CROSS = 2;
constexpr int ID_GO = 1008;
constexpr int ID_STATUS = 1010;
constexpr int ID_RESOLUTION = 1014;

void Report(const QString& line) {
    QFile f(qEnvironmentVariable("TRIMORA_HOOK_REPORT"));
    if (!f.open(QIODevice::Append | QIODevice::Text)) return;
    QTextStream(&f) << line << '\n';
}

QWidget* Control(QWidget* dialog, int id) {
    for (QWidget* w : dialog->findChildren<QWidget*>())
        if (w->property("trimoraId").isValid() && w->property("trimoraId").toInt() == id) return w;
    return nullptr;
}

QDialog* MainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* d = qobject_cast<QDialog*>(w);
        if (d && d->isVisible() && Control(d, ID_GO)) return d;
    }
    return nullptr;
}

class UserHook : public QObject {
public:
    UserHook() {
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Look(); });
        m_timer.start();
    }

private:
    void Look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            // A question (save the order before closing?) is answered No:
            // the user plays through without keeping anything.
            if (QAbstractButton* no = box->button(QMessageBox::No)) {
                Report("question " + box->text());
                QTest::mouseClick(no, Qt::LeftButton);
                m_quiet = 0;
                return;
            }
            Report("message " + box->text());
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) QTest::mouseClick(ok, Qt::LeftButton);
            m_quiet = 0;
            return;
        }
        QDialog* main = MainWindow();
        // Idle: the main window in front, exposed, and no wait cursor (a
        // photograph given on the command line is still being read).
        if (!main || modal != main || QApplication::overrideCursor() || !main->windowHandle() ||
            !main->windowHandle()->isExposed()) {
            m_quiet = 0;
            return;
        }
        if (++m_quiet < 4 || m_done || m_pressing) return;
        if (!m_keysPressed) {
            m_keysPressed = true;
            m_pressing = true;
            for (const QString& name : qEnvironmentVariable("TRIMORA_HOOK_KEYS").split(',', Qt::SkipEmptyParts)) {
                if (name == QLatin1String("PageDown")) QTest::keyClick(main, Qt::Key_PageDown);
                else if (name == QLatin1String("PageUp")) QTest::keyClick(main, Qt::Key_PageUp);
            }
            m_pressing = false;
            m_quiet = 0;
            return;
        }
        m_done = true;

        const QImage shot = main->grab().toImage();
        const QString shotFile = qEnvironmentVariable("TRIMORA_HOOK_SHOT");
        if (!shotFile.isEmpty()) shot.save(shotFile);
        if (auto* status = qobject_cast<QLabel*>(Control(main, ID_STATUS))) Report("status " + status->text());
        Report("title " + main->windowTitle());
        if (auto* dpi = qobject_cast<QLabel*>(Control(main, ID_RESOLUTION))) Report("resolution " + dpi->text());
        QWidget* go = Control(main, ID_GO);
        QWidget* statusLine = Control(main, ID_STATUS);
        if (go && statusLine) {
            const int y = (go->geometry().bottom() + statusLine->geometry().top()) / 2;
            const QColor c = shot.pixelColor(shot.width() / 2, y);
            Report(QStringLiteral("centre %1 %2 %3").arg(c.red()).arg(c.green()).arg(c.blue()));
        }
        QWidget* cross = Control(main, ID_CROSS);
        if (!cross) return;
        if (qEnvironmentVariable("TRIMORA_HOOK_CROSS") == QLatin1String("point")) {
            const QPoint p = cross->mapToGlobal(cross->rect().center());
            Report(QStringLiteral("cross %1 %2").arg(p.x()).arg(p.y()));
        } else {
            // Out of this tick: a question on closing runs a loop of its own,
            // and this timer must keep looking while it does.
            QTimer::singleShot(0, cross, [cross] { QTest::mouseClick(cross, Qt::LeftButton); });
        }
    }

    QTimer m_timer;
    int m_quiet = 0;
    bool m_done = false;
    bool m_keysPressed = false;
    bool m_pressing = false;
};

void StartHook() {
    if (qEnvironmentVariableIsEmpty("TRIMORA_HOOK_REPORT")) return;
    // Owned by the application object, so it goes when the program ends.
    (new UserHook)->setParent(QCoreApplication::instance());
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartHook)
