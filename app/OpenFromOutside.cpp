// Photographs that come from outside the storage browser: named on the
// command line, or dropped on the window from a file manager.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "print/Dpof.h"
#include "print/HostPhoto.h"
#include "print/OrderFile.h"
#include "app/MainDialog.h"
#include "imaging/PhotoNames.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"

namespace {

// The one local photograph (JPEG or HEIF) or order a drag carries, or an
// empty string.
QString DraggedPhotograph(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().first();
    if (!url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    const QString lower = path.toLower();
    // An order is dropped as its photographs would be.
    if (IsOrderFilePath(path.toStdWString()) || IsPrintMarksPath(path.toStdWString())) return path;
    return lower.endsWith(".jpg") || lower.endsWith(".jpeg") || HasHeifExtension(lower.toStdWString()) ? path
                                                                                                      : QString();
}

class PhotoDropFilter : public QObject {
public:
    PhotoDropFilter(CMainDialog* dlg, QWidget* window) : QObject(window), m_dlg(dlg), m_window(window) {}

    bool eventFilter(QObject* target, QEvent* event) override {
        if (target != m_window) return false;
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* e = static_cast<QDropEvent*>(event);
            if (Welcome(e->mimeData())) e->acceptProposedAction();
            else e->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            const QString path = Welcome(e->mimeData()) ? DraggedPhotograph(e->mimeData()) : QString();
            if (path.isEmpty()) {
                e->ignore();
                return true;
            }
            e->acceptProposedAction();
            // The decode takes a while; the file manager that dragged is not
            // kept waiting for it.
            CMainDialog* dlg = m_dlg;
            const std::string host = path.toLocal8Bit().toStdString();
            QTimer::singleShot(0, m_window, [dlg, host] { dlg->OpenHostPhotograph(host); });
            return true;
        }
        default: return false;
        }
    }

private:
    // Like the open command, a drop does nothing while the window is busy or
    // another dialog is in front of it.
    bool Welcome(const QMimeData* data) const {
        return !m_dlg->m_bBusy && QApplication::activeModalWidget() == m_window && !DraggedPhotograph(data).isEmpty();
    }

    CMainDialog* m_dlg;
    QWidget* m_window;
};

}  // namespace

void CMainDialog::AcceptDroppedPhotographs() {
    QDialog* w = DialogWidget();
    if (!w) return;
    w->setAcceptDrops(true);
    w->installEventFilter(new PhotoDropFilter(this, w));
}

void CMainDialog::OpenHostPhotograph(const std::string& hostPath) {
    if (m_bBusy) return;
    const HostPhoto photo = LocateHostPhoto(hostPath, devfs::GetStorageRoot());
    if (!photo.error.empty()) {
        ShowMessageBox(L"Cannot open this file", L"Warning", MessageIcon::Information, this);
        return;
    }
    OpenPhotograph(photo.devicePath);
}
