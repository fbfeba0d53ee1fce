// Ctrl+L: the order at a glance. Each photograph with its format, copies and
// the resolution it prints at, the prints per format, and a way to open a
// photograph or take it out. Small enough for the handheld's screen.
#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>

#include "app/MainDialog.h"
#include "print/ExportPlan.h"
#include "print/PhotoFolder.h"
#include "platform/DeviceFs.h"

namespace {

// What one line of the list says about photograph i.
struct OrderLine {
    QString name, format, dpi;
    int copies = 1;
    bool low = false;
};

OrderLine DescribeEntry(const PrintOrder& order, size_t i, const PrintFormatTable& formats) {
    const PhotoSettings& s = order.GetSettings(i);
    OrderLine line;
    line.name = QString::fromStdWString(NameOfPath(order.GetPath(i)));
    line.format = QString::fromWCharArray(PrintFormatName(s.nFormat));
    line.copies = order.GetCopies(i);
    const float w = formats.FrameWidthCm(s.nFormat, s.bRotated, s.bCorrectLab);
    const float h = formats.FrameHeightCm(s.nFormat, s.bRotated, s.bCorrectLab);
    const CRect e = MakeExportRect(s.rcSource, s.sizeSource, w, h);
    if (!e.IsRectEmpty()) {
        const long dpi = DotsPerInch(CSize(e.Width(), e.Height()), w, h);
        line.low = dpi < LOW_PRINT_DPI;
        line.dpi = line.low ? QStringLiteral("%1 low").arg(dpi) : QString::number(dpi);
    }
    return line;
}

// The prints of each format, in the formats' own order: "10x15: 4, A4: 1".
QString TotalsText(const PrintOrder& order) {
    std::map<int32_t, int> prints;
    for (size_t i = 0; i < order.GetCount(); ++i) prints[order.GetSettings(i).nFormat] += order.GetCopies(i);
    QStringList parts;
    for (const auto& [format, count] : prints)
        parts << QStringLiteral("%1: %2").arg(QString::fromWCharArray(PrintFormatName(format))).arg(count);
    return parts.isEmpty() ? QStringLiteral("No photograph in the order") : QStringLiteral("Prints ") + parts.join(", ");
}

void FillList(QTreeWidget& list, QLabel& totals, const PrintOrder& order, const PrintFormatTable& formats,
              const QPalette& palette) {
    list.clear();
    for (size_t i = 0; i < order.GetCount(); ++i) {
        const OrderLine line = DescribeEntry(order, i, formats);
        auto* item = new QTreeWidgetItem(&list, {line.name, line.format, QString::number(line.copies), line.dpi});
        item->setTextAlignment(2, Qt::AlignRight);
        item->setTextAlignment(3, Qt::AlignRight);
        if (line.low) item->setForeground(3, QColor(200, 0, 0));
        else item->setForeground(3, palette.color(QPalette::WindowText));
    }
    for (int c = 1; c < list.columnCount(); ++c) list.header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    list.header()->setSectionResizeMode(0, QHeaderView::Stretch);
    totals.setText(TotalsText(order));
}

}  // namespace

void CMainDialog::OnListOrder() {
    if (m_bBusy) return;
    KeepCurrentPhotograph();
    QWidget* owner = DialogWidget();
    QDialog box(owner);
    box.setWindowTitle(QStringLiteral("Order"));
    auto* layout = new QVBoxLayout(&box);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    auto* list = new QTreeWidget(&box);
    // Copies headed as the status row shows them ("×3").
    list->setHeaderLabels({QStringLiteral("Photograph"), QStringLiteral("Format"), QString(QChar(0x00d7)),
                           QStringLiteral("dpi")});
    list->headerItem()->setToolTip(2, QStringLiteral("Copies"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    // The name gives way (elided) to the figures, which are read whole.
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(8);
    list->setTextElideMode(Qt::ElideMiddle);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* totals = new QLabel(&box);
    totals->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    auto* open = new QPushButton(QStringLiteral("Open"), &box);
    auto* takeOut = new QPushButton(QStringLiteral("Take out"), &box);
    auto* close = new QPushButton(QStringLiteral("Close"), &box);
    // On the handheld's screen the three share its width rather than push
    // the dialog past it.
    for (QPushButton* b : {open, takeOut, close}) {
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        buttons->addWidget(b);
    }
    layout->addWidget(list, 1);
    layout->addWidget(totals);
    layout->addLayout(buttons);
    FillList(*list, *totals, m_order, m_formats, box.palette());
    const size_t current = CurrentOrderIndex();
    if (current < m_order.GetCount()) list->setCurrentItem(list->topLevelItem(static_cast<int>(current)));
    else if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));

    std::wstring toOpen;
    auto chosen = [&]() -> int {
        QTreeWidgetItem* item = list->currentItem();
        return item ? list->indexOfTopLevelItem(item) : -1;
    };
    auto openChosen = [&] {
        const int i = chosen();
        if (i < 0) return;
        toOpen = m_order.GetPath(static_cast<size_t>(i));
        box.accept();
    };
    QObject::connect(open, &QPushButton::clicked, &box, openChosen);
    QObject::connect(list, &QTreeWidget::itemActivated, &box, openChosen);
    QObject::connect(close, &QPushButton::clicked, &box, &QDialog::reject);
    QObject::connect(takeOut, &QPushButton::clicked, &box, [&] {
        const int i = chosen();
        if (i < 0) return;
        SetTakenOut(m_order.GetPath(static_cast<size_t>(i)), true);
        m_order.Remove(static_cast<size_t>(i));
        FillList(*list, *totals, m_order, m_formats, box.palette());
        if (list->topLevelItemCount() > 0)
            list->setCurrentItem(list->topLevelItem(std::min(i, list->topLevelItemCount() - 1)));
    });

    // As wide as its lines, never wider or taller than the screen.
    QScreen* screen = owner && owner->screen() ? owner->screen() : QApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 240, 320);
    int wanted = 2 * list->frameWidth() + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16;
    for (int c = 0; c < list->columnCount(); ++c)
        wanted += std::max(static_cast<QAbstractItemView*>(list)->sizeHintForColumn(c), list->header()->sectionSizeHint(c));
    box.resize(std::min(std::max(wanted, 220), avail.width()), std::min(avail.height() * 7 / 8, 300));
    box.move(avail.x() + (avail.width() - box.width()) / 2, avail.y() + (avail.height() - box.height()) / 2);
    box.exec();
    ShowResolution();
    if (!toOpen.empty() && devfs::LowerName(toOpen) != devfs::LowerName(m_strSourcePath)) OpenPhotograph(toOpen);
}
