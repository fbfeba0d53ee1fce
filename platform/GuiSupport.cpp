#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <QPainter>
#include <QPen>

#include "platform/Dialog.h"
#include "platform/MessageBox.h"
#include "platform/Resources.h"
#include "platform/Strings.h"
#include "platform/TrackerPainter.h"
#include "platform/WaitCursor.h"

static void EnsurePictures() {
    static const bool once = [] {
        Q_INIT_RESOURCE(trimora_bitmaps);
        return true;
    }();
    (void)once;
}

QPixmap LoadBitmapResource(int id) {
    EnsurePictures();
    return QPixmap(QStringLiteral(":/bitmaps/bmp%1.png").arg(id));
}

QIcon LoadIconResource(int id) {
    EnsurePictures();
    QIcon icon;
    for (const char* suffix : {"", "_16", "_32", "_48"}) {
        QString path = QStringLiteral(":/bitmaps/icon%1%2.png").arg(id).arg(QLatin1String(suffix));
        if (QFile::exists(path)) icon.addFile(path);
    }
    return icon;
}

void DrawTracker(QPainter& painter, const CRectTracker& tracker) {
    CRect r = tracker.m_rect;
    r.NormalizeRect();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    if (tracker.m_nStyle & (CRectTracker::dottedLine | CRectTracker::solidLine)) {
        // Two passes so that the outline shows on dark and light pictures alike.
        QPen under(Qt::white, 0);
        painter.setPen(under);
        painter.drawRect(r.left, r.top, r.Width() - 1, r.Height() - 1);
        QPen pen(Qt::black, 0, (tracker.m_nStyle & CRectTracker::dottedLine) ? Qt::DotLine : Qt::SolidLine);
        painter.setPen(pen);
        painter.drawRect(r.left, r.top, r.Width() - 1, r.Height() - 1);
    }
    if (tracker.m_nStyle & (CRectTracker::resizeInside | CRectTracker::resizeOutside)) {
        const unsigned mask = tracker.GetHandleMask();
        for (int h = 0; h < 8; ++h) {
            if (!(mask & (1u << h))) continue;
            // Black with a white rim, so that a handle shows on a dark
            // photograph as well as on a light one.
            CRect hr = tracker.GetHandleRect(h);
            painter.fillRect(hr.left, hr.top, hr.Width(), hr.Height(), Qt::white);
            painter.fillRect(hr.left + 1, hr.top + 1, hr.Width() - 2, hr.Height() - 2, Qt::black);
        }
    }
    painter.restore();
}

namespace {
// A message box left to itself wraps its text at half the screen's width:
// on a handheld's screen two or three words a line, and a long file name
// cut. Lines as long as the screen allows, broken between words where they
// can be and anywhere in a word too long for a line, show it all. On a wide
// screen no wider than the box grows of itself (500 pixels), for the box
// never grows beyond a limit of its own and would cut longer lines.
void FitMessageToScreen(QMessageBox& box, const QString& text, QWidget* owner) {
    QScreen* screen = owner ? owner->screen() : QApplication::primaryScreen();
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!screen || !label || text.isEmpty()) return;
    const QStyle* style = box.style();
    int chrome = style->pixelMetric(QStyle::PM_LayoutLeftMargin) + style->pixelMetric(QStyle::PM_LayoutRightMargin) +
                 2 * style->pixelMetric(QStyle::PM_LayoutHorizontalSpacing) + 16;  // 16: a window frame
    if (!box.iconPixmap().isNull()) chrome += box.iconPixmap().width() / box.iconPixmap().devicePixelRatio();
    const int room = std::min(screen->availableGeometry().width(), 500) - chrome;
    if (room < 40) return;

    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList lines;
    qreal widest = 0;
    // Each line of the text on its own: laid out whole, a line break counts
    // as a space and the line after it starts short.
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        if (paragraph.isEmpty()) {
            lines << QString();
            continue;
        }
        QTextLayout layout(paragraph, label->font());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(room);
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
            widest = std::max(widest, line.naturalTextWidth());
        }
        layout.endLayout();
    }
    label->setText(lines.join(QLatin1Char('\n')));
    label->setMinimumWidth(std::min(room, int(std::ceil(widest)) + 2));
}
}  // namespace

void InstallGuiPlatformHooks() {
    SetMessageBoxHandler([](const MessageRequest& request) {
        QWidget* owner = request.owner ? request.owner->Widget() : nullptr;
        if (!owner) owner = QApplication::activeModalWidget();
        if (!owner) owner = QApplication::activeWindow();
        QMessageBox box(request.icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                        QString::fromStdWString(request.caption), QString::fromStdWString(request.text),
                        QMessageBox::Ok, owner);
        FitMessageToScreen(box, QString::fromStdWString(request.text), owner);
        box.exec();
        return IDOK;
    });
    SetQuestionHandler([](const MessageRequest& request) {
        QWidget* owner = request.owner ? request.owner->Widget() : nullptr;
        if (!owner) owner = QApplication::activeModalWidget();
        QMessageBox box(QMessageBox::Question, QString::fromStdWString(request.caption),
                        QString::fromStdWString(request.text),
                        request.offerCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                                            : QMessageBox::Yes | QMessageBox::No,
                        owner);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(request.offerCancel ? QMessageBox::Cancel : QMessageBox::No);
        FitMessageToScreen(box, QString::fromStdWString(request.text), owner);
        const int pressed = box.exec();
        return pressed == QMessageBox::Yes ? Answer::Yes : pressed == QMessageBox::No ? Answer::No : Answer::Cancel;
    });
    CWaitCursor::SetHooks([] { QApplication::setOverrideCursor(Qt::WaitCursor); },
                          [] { QApplication::restoreOverrideCursor(); });
}
