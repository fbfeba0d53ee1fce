#include "app/MainDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include "print/Dpof.h"
#include "print/ExportPlan.h"
#include "print/OrderFile.h"
#include "print/PhotoFolder.h"
#include "print/WholePrint.h"
#include "browse/BrowseDialog.h"
#include "imaging/DibBitmap.h"
#include "imaging/DibImage.h"
#include "app/PipelineWrappers.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"
#include "platform/Resources.h"
#include "platform/Strings.h"
#include "platform/TrackerPainter.h"
#include "platform/WaitCursor.h"
#include "resources/MainTemplate.h"
#include "tone/AdjustDialog.h"
#include "tone/AdjustPreview.h"
#include "tone/Presets.h"

namespace {

// Message boxes held back while the window walks through a folder or writes
// an order: a box for each photograph that cannot be opened would stop the
// walk at every one of them. What went wrong is told once, afterwards.
class QuietMessages {
public:
    QuietMessages() {
        m_previous = SetMessageBoxHandler([this](const MessageRequest& r) {
            // Running out of memory ends the program; that is still said.
            if (r.text == L"out of memory" && m_previous) return m_previous(r);
            return 1;
        });
    }
    ~QuietMessages() { SetMessageBoxHandler(m_previous); }
    QuietMessages(const QuietMessages&) = delete;
    QuietMessages& operator=(const QuietMessages&) = delete;

private:
    MessageBoxHandler m_previous;
};

// What the curve in force is called: its preset's name while it is that
// preset's curve, a word of its own once it is anything else, and nothing
// for the identity, which changes no pixel.
std::wstring CurveName(const ToneCurve& curve, int32_t presetIndex) {
    auto same = [&](int n, const double* x, const double* y) {
        if (curve.m_nPoints != n) return false;
        for (int i = 0; i < n; ++i)
            if (curve.m_x[i] != x[i] || curve.m_y[i] != y[i]) return false;
        return true;
    };
    const double ends[2] = {0, 255};
    if (same(2, ends, ends)) return {};
    const TonePreset* preset = FindPresetByIndex(presetIndex);
    if (preset && preset->nPoints > 0 && same(preset->nPoints, preset->x, preset->y)) return preset->text;
    return L"own curve";
}

}  // namespace

CMainDialog::CMainDialog() : CDialog(MainTemplate(), nullptr) {
    m_hIcon = LoadIconResource(IDI_MAIN);
    m_frame.SetOwner(this);

    MapCommand(IDC_OPEN, [this] { OnOpen(); });
    MapCommand(IDC_ROTATE, [this] { OnRotate(); });
    MapCommand(IDC_ADJUST, [this] { OnAdjust(); });
    MapCommand(IDC_GO, [this] { OnGo(); });
    MapCommand(IDC_CORRECT_LAB, [this] { OnCorrectLab(); });
    MapCommand(IDC_WHOLE, [this] { OnWholePhoto(); });
    MapCommand(ID_WHOLE_PHOTO, [this] {
        // As a click would: the box turns, then says so.
        if (auto* box = qobject_cast<QAbstractButton*>(GetDlgItemWidget(IDC_WHOLE))) box->click();
    });
    MapNotify(IDC_FORMAT, CBN_SELCHANGE, [this] { OnFormatChange(); });
    // The frame stays where it is while the whole photograph is chosen.
    MapCommand(ID_MOVE_LEFT, [this] { if (!m_bWholePhoto) OnMoveLeft(); });
    MapCommand(ID_MOVE_RIGHT, [this] { if (!m_bWholePhoto) OnMoveRight(); });
    MapCommand(ID_MOVE_UP, [this] { if (!m_bWholePhoto) OnMoveUp(); });
    MapCommand(ID_MOVE_DOWN, [this] { if (!m_bWholePhoto) OnMoveDown(); });
    MapCommand(ID_MOVE_LEFT_FAR, [this] { if (!m_bWholePhoto) StepFrame(-1, 0, 10); });
    MapCommand(ID_MOVE_RIGHT_FAR, [this] { if (!m_bWholePhoto) StepFrame(1, 0, 10); });
    MapCommand(ID_MOVE_UP_FAR, [this] { if (!m_bWholePhoto) StepFrame(0, -1, 10); });
    MapCommand(ID_MOVE_DOWN_FAR, [this] { if (!m_bWholePhoto) StepFrame(0, 1, 10); });
    MapCommand(IDC_NEXT, [this] { OnNextPhotograph(); });
    MapCommand(IDC_PREVIOUS, [this] { OnPreviousPhotograph(); });
    MapCommand(IDC_GO_ALL, [this] { OnGoAll(); });
    MapCommand(ID_SAVE_ORDER, [this] { OnSaveOrder(); });
    MapCommand(ID_MORE_COPIES, [this] { OnChangeCopies(1); });
    MapCommand(ID_FEWER_COPIES, [this] { OnChangeCopies(-1); });
    MapCommand(ID_LIST_ORDER, [this] { OnListOrder(); });
    MapCommand(ID_CARD_ORDER, [this] { OnCardOrder(); });
}

CMainDialog::~CMainDialog() { DeleteBitmaps(); }

void CMainDialog::DeleteBitmaps() {
    if (m_hbmPreview) DeleteObject(m_hbmPreview);
    if (m_hbmAdjusted) DeleteObject(m_hbmAdjusted);
    m_hbmPreview = nullptr;
    m_hbmAdjusted = nullptr;
}

void CMainDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_FORMAT, m_cbFormat);
    DDX_Check(pDX, IDC_CORRECT_LAB, m_bCorrectLab);
    DDX_Check(pDX, IDC_WHOLE, m_bWholePhoto);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

BOOL CMainDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    if (QDialog* w = DialogWidget()) w->setWindowIcon(m_hIcon);
    CenterWindow();
    ApplyFullScreenLayout();
    FillFormatCombo();
    m_cbFormat.SetCurSel(DEFAULT_PRINT_FORMAT);
    m_nFormat = DEFAULT_PRINT_FORMAT;
    m_frame.SetOwner(this);
    UpdateFormatStatus();
    SetAccelerators({{Qt::Key_Left, ID_MOVE_LEFT},
                     {Qt::Key_Right, ID_MOVE_RIGHT},
                     {Qt::Key_Up, ID_MOVE_UP},
                     {Qt::Key_Down, ID_MOVE_DOWN},
                     {Qt::Key_Left, ID_MOVE_LEFT_FAR, Qt::ShiftModifier},
                     {Qt::Key_Right, ID_MOVE_RIGHT_FAR, Qt::ShiftModifier},
                     {Qt::Key_Up, ID_MOVE_UP_FAR, Qt::ShiftModifier},
                     {Qt::Key_Down, ID_MOVE_DOWN_FAR, Qt::ShiftModifier},
                     {Qt::Key_O, IDC_OPEN, Qt::ControlModifier},
                     {Qt::Key_R, IDC_ROTATE, Qt::ControlModifier},
                     {Qt::Key_T, IDC_ADJUST, Qt::ControlModifier},
                     {Qt::Key_G, IDC_GO, Qt::ControlModifier},
                     {Qt::Key_G, IDC_GO_ALL, Qt::ControlModifier | Qt::ShiftModifier},
                     // Ctrl+W closes windows on the desktops; with Shift it is free.
                     {Qt::Key_W, ID_WHOLE_PHOTO, Qt::ControlModifier | Qt::ShiftModifier},
                     // Window-wide, so the format list no longer takes them.
                     {Qt::Key_PageDown, IDC_NEXT},
                     {Qt::Key_PageUp, IDC_PREVIOUS},
                     {Qt::Key_S, ID_SAVE_ORDER, Qt::ControlModifier},
                     {Qt::Key_L, ID_LIST_ORDER, Qt::ControlModifier},
                     {Qt::Key_K, ID_CARD_ORDER, Qt::ControlModifier | Qt::ShiftModifier},
                     // The keypad's keys come without Shift, the main keyboard's + with it.
                     {Qt::Key_Plus, ID_MORE_COPIES},
                     {Qt::Key_Plus, ID_MORE_COPIES, Qt::ShiftModifier},
                     {Qt::Key_Minus, ID_FEWER_COPIES},
                     {Qt::Key_Q, IDCANCEL, Qt::ControlModifier}});
    m_hAccel = TRUE;
    AcceptDroppedPhotographs();
    // The pictures alone do not say what they do.
    const std::pair<int, const char*> tips[] = {{IDC_OPEN, "Open a photograph"},
                                                {IDC_ROTATE, "Turn the frame"},
                                                {IDC_ADJUST, "Adjust tones"},
                                                {IDC_GO, "Create the framed file"},
                                                {IDCANCEL, "Close"},
                                                {IDC_GO_ALL, "Create the files of every photograph framed (Ctrl+Shift+G; onto a card for a kiosk, with its print marks: Ctrl+Shift+K)"},
                                                {IDC_WHOLE, "The whole photograph, nothing cut, on a white print of the format (Ctrl+Shift+W)"},
                                                {IDC_PREVIOUS, "Previous photograph of the folder (Page Up)"},
                                                {IDC_NEXT, "Next photograph of the folder (Page Down)"},
                                                {IDC_RESOLUTION, "Print resolution of the frame; labs warn below 150 dpi"},
                                                {IDC_CURVE, "Tone curve applied to every file written, this photograph's and the next ones'"}};
    for (const auto& [id, tip] : tips)
        if (QWidget* picture = GetDlgItemWidget(id)) picture->setToolTip(QString::fromUtf8(tip));
    ShowCurve();
    LayoutStatusRow();
    return TRUE;
}

BOOL CMainDialog::PreTranslateMessage(QObject* target, QEvent* event) {
    if (m_hAccel && TranslateAccelerator(target, event)) return TRUE;
    // Escape would be the cancel command, and one press too many (after
    // closing the format list, say) would end the program and lose the
    // frame. Only the cross, Ctrl+Q and the window's close box end it.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) return TRUE;
    return CDialog::PreTranslateMessage(target, event);
}

// Enter and the caption's OK do nothing: only the cross ends the program.
void CMainDialog::OnOK() {}

void CMainDialog::OnCancel() {
    if (m_bBusy) return;
    if (!OfferToSaveOrder()) return;
    EndDialog(IDCANCEL);
}

void CMainDialog::OnDestroy() {
    CDialog::OnDestroy();
    DeleteBitmaps();
}

// ---------------------------------------------------------------- layout

void CMainDialog::ApplyFullScreenLayout() {
    QDialog* w = DialogWidget();
    if (!w || m_bLayingOut) return;
    // There is no task bar, input panel or Start icon of ours to hide here;
    // the window simply takes the whole screen back.
    QScreen* screen = w->screen() ? w->screen() : QApplication::primaryScreen();
    if (!screen) return;
    const QRect s = screen->geometry();
    if (w->geometry() == s) return;
    m_bLayingOut = true;
    w->setGeometry(s);
    w->setWindowState(w->windowState() | Qt::WindowFullScreen);
    m_bLayingOut = false;
    OnShowLayout();
}

void CMainDialog::OnShowLayout() {
    // The status line keeps its distance to the window's bottom edge that the
    // template gives it, so that on a screen of any size the preview area
    // takes everything between the icons and the status line.
    QWidget* status = GetDlgItemWidget(IDC_STATUS);
    QDialog* w = DialogWidget();
    if (!status || !w) return;
    const CRect templ = MapDialogRect({2, 173, 2 + 115, 173 + 9});
    const CRect whole = MapDialogRect({0, 0, Template().cx, Template().cy});
    const int fromBottom = whole.bottom - templ.top;
    const int top = std::max(templ.top, w->height() - fromBottom);
    const int width = std::max(templ.Width(), w->width() - 2 * templ.left);
    // One row must hold the longest status text, the lowest resolution and
    // a short notice, with the step pictures after them.
    const QFontMetrics fm(status->font());
    const CRect step = MapDialogRect({0, 0, 9, 9});
    const int needed = fm.horizontalAdvance(QStringLiteral("Selected format: 59.4x21.0 cm")) +
                       fm.horizontalAdvance(QStringLiteral("9999 dpi low")) +
                       fm.horizontalAdvance(QStringLiteral("Tone: Little bright")) +
                       fm.horizontalAdvance(QStringLiteral("Skipped img_0000.jpg: damaged")) +
                       2 * step.Width() + 4 * BaseUnitX();
    m_bTwoRowStatus = width < needed;
    status->setGeometry(templ.left, m_bTwoRowStatus ? top - templ.Height() : top, width, templ.Height());
    // The desktop's combo box is taller than the handheld's; it must not
    // reach into the pictures' row below it.
    QWidget* combo = GetDlgItemWidget(IDC_FORMAT);
    QWidget* turn = GetDlgItemWidget(IDC_ROTATE);
    if (combo && turn) combo->resize(combo->width(), std::min(combo->height(), turn->y() - 1 - combo->y()));
    LayoutStatusRow();
    w->update();
}

void CMainDialog::LayoutStatusRow() {
    QWidget* status = GetDlgItemWidget(IDC_STATUS);
    auto* resolution = qobject_cast<QLabel*>(GetDlgItemWidget(IDC_RESOLUTION));
    auto* curve = qobject_cast<QLabel*>(GetDlgItemWidget(IDC_CURVE));
    auto* notice = qobject_cast<QLabel*>(GetDlgItemWidget(IDC_NOTICE));
    QWidget* previous = GetDlgItemWidget(IDC_PREVIOUS);
    QWidget* next = GetDlgItemWidget(IDC_NEXT);
    QDialog* w = DialogWidget();
    if (!status || !resolution || !curve || !notice || !previous || !next || !w) return;
    const int rowH = status->height();
    const int left = status->x();
    const int right = std::max(left, w->width() - left);
    const int gap = BaseUnitX();
    const int lowerTop = m_bTwoRowStatus ? status->y() + rowH : status->y();

    const CRect step = MapDialogRect({0, 0, 9, 9});
    const int sw = step.Width(), sh = std::min(step.Height(), rowH);
    next->setGeometry(right - sw, lowerTop + (rowH - sh) / 2, sw, sh);
    previous->setGeometry(right - 2 * sw - 2, lowerTop + (rowH - sh) / 2, sw, sh);
    const int textEnd = right - 2 * sw - 2 - gap;

    // The status text keeps its control; it is only as wide as its text, so
    // that the resolution and the curve can stand right beside it. On two
    // rows, what does not fit after it starts the row below, in order.
    const int statusW = std::min(status->sizeHint().width(), right - left);
    status->resize(statusW, rowH);
    int upper = left + statusW;  // the end of what stands on the status text's row
    int lower = left;            // the same on the row below
    bool below = false;
    for (QLabel* label : {resolution, curve}) {
        const int width = label->text().isEmpty() ? 0 : label->sizeHint().width();
        below = below || (m_bTwoRowStatus && upper + gap + width > right);
        if (below) {
            label->setGeometry(lower, lowerTop, width, rowH);
            if (width > 0) lower += width + gap;
        } else {
            label->setGeometry(upper + gap, status->y(), width, rowH);
            if (width > 0) upper += gap + width;
        }
    }
    const int x = m_bTwoRowStatus ? lower : upper + gap;
    const int noticeW = std::max(0, textEnd - x);
    notice->setGeometry(x, lowerTop, noticeW, rowH);
    const QString full = QString::fromStdWString(m_strNotice);
    // The middle goes first: the start says what happened, the end names the file.
    notice->setText(notice->fontMetrics().elidedText(full, Qt::ElideMiddle, noticeW));
    notice->setToolTip(full);
}

CRect CMainDialog::GetPreviewArea() const {
    QDialog* w = DialogWidget();
    QWidget* go = GetDlgItemWidget(IDC_GO);
    QWidget* whole = GetDlgItemWidget(IDC_WHOLE);
    QWidget* status = GetDlgItemWidget(IDC_STATUS);
    if (!w || !go || !whole || !status) return {};
    CRect r = CWnd(w).GetWindowRect();
    r.left += 2;
    r.right -= 2;
    // Below the lowest of the controls above it: GO! and the row under it.
    r.top = std::max(CWnd(go).GetWindowRect().bottom, CWnd(whole).GetWindowRect().bottom) + 2;
    r.bottom = CWnd(status).GetWindowRect().top - 2;
    CWnd(w).ScreenToClient(r);
    return r;
}

// ---------------------------------------------------------------- drawing

void CMainDialog::DrawCentredBitmap(QPainter& painter, const QImage& picture, int w, int h) {
    const CRect r = CentreRect(GetPreviewArea(), w, h);
    painter.setPen(QPen(QColor(255, 255, 255), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.left - 1, r.top - 1, w + 1, h + 1);
    painter.drawImage(QPoint(r.left, r.top), picture, QRect(0, 0, w, h));
}

void CMainDialog::DrawAll(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!m_bLoaded) {
        const QImage splash = LoadBitmapResource(IDB_SPLASH).toImage();
        DrawCentredBitmap(painter, splash, 180, 195);
    } else {
        HBITMAP bm = m_bShowAdjusted ? m_hbmAdjusted : m_hbmPreview;
        const QImage preview = DibToQImage(bm, m_sizePreview.cx, m_sizePreview.cy);
        if (m_bWholePhoto)
            DrawWholePrint(painter, preview);
        else
            DrawCentredBitmap(painter, preview, m_sizePreview.cx, m_sizePreview.cy);
    }
    const CRect a = GetPreviewArea();
    painter.setPen(QPen(QColor(127, 127, 127), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(a.left - 1, a.top - 1, a.Width() + 1, a.Height() + 1);
    if (m_bLoaded && !m_bWholePhoto) DrawTracker(painter, m_frame);
}

void CMainDialog::DrawWholePrint(QPainter& painter, const QImage& preview) {
    const CRect a = GetPreviewArea();
    const WholePrint whole = MakeWholePrint(m_sizeSource, GetFrameWidthCm(), GetFrameHeightCm());
    const WholePrintView view = FitWholePrint(a, whole, m_sizeSource, m_sizePreview);
    // The area's own background is dark enough for the white paper to show;
    // its edge is drawn grey so a print that fills the area still has one.
    const CRect& p = view.print;
    const CRect& f = view.photo;
    // Redraw paints without erasing: a print narrower than what was shown
    // before must not leave the old picture beside it.
    if (QWidget* w = DialogWidget()) painter.fillRect(a.left, a.top, a.Width(), a.Height(), w->palette().window());
    painter.fillRect(p.left, p.top, p.Width(), p.Height(), QColor(255, 255, 255));
    painter.setPen(QPen(QColor(127, 127, 127), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(p.left - 1, p.top - 1, p.Width() + 1, p.Height() + 1);
    if (f.Width() == preview.width() && f.Height() == preview.height()) {
        painter.drawImage(QPoint(f.left, f.top), preview);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRect(f.left, f.top, f.Width(), f.Height()), preview);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
}

void CMainDialog::OnPaint(QPainter& painter) {
    ApplyFullScreenLayout();
    DrawAll(painter);
}

void CMainDialog::Redraw() {
    ShowResolution();
    DrawOnClient([this](QPainter& p) { DrawAll(p); });
}

void CMainDialog::PumpOneMessage() {
    // Handing every row to the event loop would cost the decode a good part
    // of its speed; a few milliseconds apart keeps the window just as lively.
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < 8) return;
    since.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (CWinApp* app = CWinApp::Current()) {
        app->OnIdle(0);
        app->OnIdle(1);
    }
}

void CMainDialog::DrawProgress(int percent) {
    DrawOnClient([this, percent](QPainter& p) {
        const CRect a = GetPreviewArea();
        const int y = a.top + 2;
        const int x2 = a.left + ((a.right - a.left) * percent) / 100;
        if (x2 == a.left) return;  // a line of length 0 shows nothing
        p.setPen(QPen(QColor(255, 0, 0), 0));
        p.drawLine(a.left, y, x2 - 1, y);
    });
}

// ---------------------------------------------------------------- formats

void CMainDialog::FillFormatCombo() {
    for (int i = 0; i < PRINT_FORMAT_COUNT; ++i) {
        const int index = m_cbFormat.AddString(PrintFormatName(i));
        m_cbFormat.SetItemData(index, i);
    }
}

float CMainDialog::GetFrameWidthCm() const { return m_formats.FrameWidthCm(m_nFormat, m_bRotated, m_bCorrectLab); }

float CMainDialog::GetFrameHeightCm() const { return m_formats.FrameHeightCm(m_nFormat, m_bRotated, m_bCorrectLab); }

void CMainDialog::UpdateFormatStatus() {
    UpdateData(TRUE);
    m_frame.m_fWidthCm = GetFrameWidthCm();
    m_frame.m_fHeightCm = GetFrameHeightCm();
    m_strStatus = FormatW(L"Selected format: %.1fx%.1f cm", double(m_frame.m_fWidthCm), double(m_frame.m_fHeightCm));
    UpdateData(FALSE);
    // A format picked during an export leaves the frame as it is; what it
    // would print at changes all the same.
    ShowResolution();
    // The resolution stands right after the status text, whose width changed.
    LayoutStatusRow();
}

void CMainDialog::UpdateSourceRect(const CRect& r) {
    FrameModel::UpdateSourceRect(r);
    ShowResolution();
}

void CMainDialog::ShowResolution() {
    auto* label = qobject_cast<QLabel*>(GetDlgItemWidget(IDC_RESOLUTION));
    if (!label) return;
    QString text;
    bool low = false;
    const CSize pixels = PrintPixels();
    if (pixels.cx > 0 && pixels.cy > 0) {
        // What GO! would write now, and what trimora-cli says of that print.
        const long dpi = DotsPerInch(pixels, GetFrameWidthCm(), GetFrameHeightCm());
        low = dpi < LOW_PRINT_DPI;
        text = low ? QStringLiteral("%1 dpi low").arg(dpi) : QStringLiteral("%1 dpi").arg(dpi);
    }
    if (m_bLoaded) {
        // One print is what everyone expects; any other count is said.
        const size_t i = CurrentOrderIndex();
        const int copies = IsTakenOut(m_strSourcePath) ? 0 : i < m_order.GetCount() ? m_order.GetCopies(i) : 1;
        if (copies != 1) text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("\u00d7%1").arg(copies);
    }
    if (label->text() == text) return;
    label->setText(text);
    // Red alone marks it: a style sheet would give the label a font of its
    // own, unlike the status line's beside it.
    QPalette palette = DialogWidget()->palette();
    if (low) palette.setColor(QPalette::WindowText, QColor(200, 0, 0));
    label->setPalette(palette);
    LayoutStatusRow();
}

void CMainDialog::ShowCurve() {
    auto* label = qobject_cast<QLabel*>(GetDlgItemWidget(IDC_CURVE));
    if (!label) return;
    const std::wstring name = CurveName(m_curve, m_nPreset);
    const QString text = name.empty() ? QString() : QStringLiteral("Tone: ") + QString::fromStdWString(name);
    if (label->text() == text) return;
    label->setText(text);
    LayoutStatusRow();
}

CSize CMainDialog::PrintPixels() const {
    if (!m_bLoaded) return {};
    const float widthCm = GetFrameWidthCm(), heightCm = GetFrameHeightCm();
    if (m_bWholePhoto) return MakeWholePrint(m_sizeSource, widthCm, heightCm).print;
    const CRect e = MakeExportRect(m_rcSource, m_sizeSource, widthCm, heightCm);
    return e.IsRectEmpty() ? CSize() : CSize(e.Width(), e.Height());
}

void CMainDialog::ShowNotice(const std::wstring& text) {
    m_strNotice = text;
    LayoutStatusRow();
}

void CMainDialog::ShowPlace() {
    std::wstring title = Template().caption;
    if (m_bLoaded && !m_strSourcePath.empty()) title = PhotoTitle(m_strSourcePath, LocatePhotograph(m_strSourcePath));
    SetWindowText(title);
}

void CMainDialog::OnFormatChange() {
    UpdateData(TRUE);
    const int sel = m_cbFormat.GetCurSel();
    if (sel < 0) return;
    const intptr_t v = m_cbFormat.GetItemData(sel);
    if (v < 0 || v >= PRINT_FORMAT_COUNT) return;
    m_nFormat = static_cast<int32_t>(v);
    UpdateFormatStatus();
    // During an export the frame keeps its proportions until the next fit.
    if (m_bBusy) return;
    FitFrameToImage();
    Redraw();
}

void CMainDialog::OnCorrectLab() {
    UpdateFormatStatus();
    FitFrameToImage();
    Redraw();
}

void CMainDialog::OnWholePhoto() {
    UpdateData(TRUE);
    // A drag under way ends where it is; the frame comes back as it was
    // when the box is cleared.
    if (m_frame.IsTracking()) m_frame.EndTrack();
    ShowResolution();
    Invalidate();
}

void CMainDialog::OnRotate() {
    // Busy first: during a decode no photograph is loaded yet, and a
    // message box there would stop the decode until it is dismissed.
    if (m_bBusy) return;
    if (!m_bLoaded) {
        ShowMessageBox(L"Image not loaded", L"Warning", MessageIcon::None, this);
        return;
    }
    m_bRotated = !m_bRotated;
    UpdateFormatStatus();
    FitFrameToImage();
    Redraw();
}

// ---------------------------------------------------------------- the stylus

void CMainDialog::OnLButtonDown(unsigned, CPoint point) {
    if (!m_bLoaded || m_bWholePhoto) return;
    m_frame.BeginTrack(point);
}

void CMainDialog::OnMouseMove(unsigned flags, CPoint point) {
    if (!m_frame.IsTracking()) return;
    if (!(flags & 1)) {
        OnLButtonUp(0, point);
        return;
    }
    const CRect before = m_frame.m_rect;
    m_frame.TrackTo(point);
    if (!(m_frame.m_rect == before)) Redraw();
}

void CMainDialog::OnLButtonUp(unsigned, CPoint) {
    if (!m_frame.IsTracking()) return;
    if (m_frame.EndTrack()) Invalidate();
}

// ---------------------------------------------------------------- commands

void CMainDialog::OnOpen() {
    if (m_bBusy) return;
    CBrowseDialog browser(this);
    browser.m_nMode = BROWSE_FILE;
    browser.m_strTitle = L"Select source file";
    // The next photograph is most likely a neighbour of this one.
    browser.m_strStartPath = m_strSourcePath;
    if (browser.DoModal() != IDOK) return;
    OpenPhotograph(browser.m_strPath);
}

CSize CMainDialog::PreviewBox() const {
    const CRect a = GetPreviewArea();
    // The pipeline takes previews up to 800 x 600; a larger screen shows the
    // preview at that size, centred.
    return {std::clamp(a.right - a.left, 1, 800), std::clamp(a.bottom - a.top, 1, 600)};
}

void CMainDialog::KeepCurrentPhotograph() {
    if (!m_bLoaded || m_strSourcePath.empty() || IsTakenOut(m_strSourcePath)) return;
    m_order.Keep(m_strSourcePath, PhotoSettings{m_choice, m_sizeSource, m_rcSource, m_frame.m_rect, GetImageRect()});
}

void CMainDialog::ApplySettings(const PhotoSettings& s) {
    m_choice = s;  // the frame is laid once the photograph's size is known
    m_cbFormat.SetCurSel(m_nFormat);  // the list holds the formats in index order
    CheckDlgButton(IDC_CORRECT_LAB, m_bCorrectLab ? 1 : 0);
    CheckDlgButton(IDC_WHOLE, m_bWholePhoto ? 1 : 0);
    ShowCurve();
    UpdateFormatStatus();
}

void CMainDialog::ShowOpenedPhotograph(const std::wstring& path) {
    const PhotoSettings* kept = m_order.Find(path);
    if (kept) ApplySettings(*kept);
    m_hbmPreview = CreateBitmapFromRgb(m_preview, m_sizePreview.cx, m_sizePreview.cy);
    // The curve stays in force for the new photograph, and GO! applies
    // it: the adjusted view must show it from the start.
    if (!RenderAdjustedBitmap(m_curve, m_preview, m_sizePreview.cx, m_sizePreview.cy, &m_hbmAdjusted))
        m_hbmAdjusted = CreateBitmapFromRgb(m_preview, m_sizePreview.cx, m_sizePreview.cy);
    m_bLoaded = TRUE;
    // A file replaced by another picture since keeps its settings, but a
    // frame laid on other pixels would be meaningless there.
    if (kept && kept->sizeSource == m_sizeSource) {
        m_rcSource = kept->rcSource;
        if (kept->rcImage == GetImageRect())
            m_frame.m_rect = kept->rcFrame;
        else
            UpdateFrameRect();
    } else {
        FitFrameToImage();
    }
    m_strSourcePath = path;
    KeepCurrentPhotograph();
}

void CMainDialog::OpenPhotograph(const std::wstring& path) {
    if (m_bBusy) return;
    // The browser, the command line and a drop hand orders over the same way.
    if (IsOrderFilePath(path) || IsPrintMarksPath(path)) {
        OpenOrder(path);
        return;
    }
    KeepCurrentPhotograph();
    m_strNotice.clear();
    m_bLoaded = FALSE;
    DeleteBitmaps();
    PumpOneMessage();
    // The decoder may read a whole progressive file before the first row
    // comes out: show the window as it now is (no browser, no old picture)
    // rather than whatever was on the screen.
    Invalidate();
    UpdateWindow();
    CWaitCursor wait;
    m_preview.Clear();
    m_sizePreview = PreviewBox();
    PhotoReport report;
    m_bBusy = TRUE;
    const int ok = LoadPreview(path, m_sizePreview, m_sizeSource, m_preview, *this, &report);
    m_bBusy = FALSE;
    if (!ok) {
        m_preview.Clear();
        ShowMessageBox(L"Cannot open this file", L"Warning", MessageIcon::Information, this);
    } else {
        ShowOpenedPhotograph(path);
    }
    ShowPlace();
    ShowResolution();
    LayoutStatusRow();
    Invalidate();
    // The decoder filled what it could not read with grey; without a word the
    // grey would pass for part of the photograph.
    if (ok && report.damageWarnings > 0)
        ShowMessageBox(L"Image is damaged, its missing part is shown grey", L"Warning", MessageIcon::Information,
                       this);
}

void CMainDialog::OnAdjust() {
    // Busy first: during a decode no photograph is loaded yet, and a
    // message box there would stop the decode until it is dismissed.
    if (m_bBusy) return;
    if (!m_bLoaded) {
        ShowMessageBox(L"Image not loaded", L"Warning", MessageIcon::None, this);
        return;
    }
    CAdjustDialog dlg(this);
    dlg.m_pCurve = &m_curve;
    dlg.m_bPreview = m_bShowAdjusted;
    dlg.m_pPreviewFlag = &m_bShowAdjusted;
    dlg.m_pPresetIndex = &m_nPreset;
    dlg.m_pPreview = &m_preview;
    dlg.m_phAdjusted = &m_hbmAdjusted;
    dlg.m_nWidth = m_sizePreview.cx;
    dlg.m_nHeight = m_sizePreview.cy;
    dlg.DoModal();
    ShowCurve();
}

bool CMainDialog::PickDestination(const wchar_t* title, std::wstring& folder) {
    CBrowseDialog browser(this);
    browser.m_nMode = BROWSE_FOLDER;
    browser.m_strTitle = title;
    // Return alone writes where the last file went; before the first file,
    // beside the photograph.
    browser.m_strStartPath = m_order.m_strLastFolder;
    if (browser.m_strStartPath.empty() && !m_strSourcePath.empty())
        browser.m_strStartPath = FolderOfPath(m_strSourcePath);
    if (browser.DoModal() != IDOK) return false;
    folder = m_order.m_strLastFolder = browser.m_strPath;
    return true;
}

void CMainDialog::OnGo() {
    // Busy first: during a decode no photograph is loaded yet, and a
    // message box there would stop the decode until it is dismissed.
    if (m_bBusy) return;
    if (!m_bLoaded) {
        ShowMessageBox(L"Image not loaded", L"Warning", MessageIcon::None, this);
        return;
    }
    std::wstring folder;
    if (!PickDestination(L"Select folder for placing the file", folder)) return;

    ExportPlan plan;
    const ExportPlanResult result =
        PlanExport(folder, m_strSourcePath, PrintFormatSuffixes().at(m_nFormat), m_rcSource, m_sizeSource,
                   GetFrameWidthCm(), GetFrameHeightCm(), plan, m_bWholePhoto);
    if (result == ExportPlanResult::OverwritesSource) {
        ShowMessageBox(L"You cannot overwrite the file, please select another folder.", L"Warning:",
                       MessageIcon::Information, this);
        return;
    }
    if (result == ExportPlanResult::EmptyRect) return;

    // Only what the export may have to say is asked for; the file is the
    // plain export's.
    std::vector<std::string> warnings;
    PhotoReport report;
    m_bBusy = TRUE;
    ExportExtras extras;
    extras.warnings = &warnings;
    extras.whiteMargins = MarginsAround(plan.print);
    const int ok = ExportFramedImage(m_strSourcePath, plan.outputPath, plan.rcExport, *this, m_curve, 95, &report,
                                     extras);
    m_bBusy = FALSE;
    ShowNotice(ExportNotice(ok != 0, plan.outputPath, report, warnings));
    if (ok)
        ShowMessageBox(FormatW(L"File \"%ls\" was created.", plan.outputPath.c_str()), {}, MessageIcon::None, this);
    else
        ShowMessageBox(L"Cannot create file", {}, MessageIcon::None, this);
    Invalidate();
}

std::wstring CMainDialog::ExportNotice(bool ok, const std::wstring& outputPath, const PhotoReport& report,
                                       const std::vector<std::string>& warnings) const {
    // The device path the message names means little on a desktop; the
    // notice says where the file is on this computer, or why it is not.
    const std::wstring host = FromUtf8(devfs::ToHostPath(outputPath));
    std::wstring text;
    if (ok)
        text = L"Created " + host;
    else if (report.failure == PhotoReport::Failure::Destination)
        text = host + L": " + PhotoFailureText(report);
    else
        text = NameOfPath(m_strSourcePath) + L": " + PhotoFailureText(report);
    for (const std::string& warning : warnings) text += L"; " + FromUtf8(warning);
    return text;
}

void CMainDialog::OnNextPhotograph() { StepPhotograph(1); }

void CMainDialog::OnPreviousPhotograph() { StepPhotograph(-1); }

void CMainDialog::StepPhotograph(int direction) {
    if (m_bBusy || m_strSourcePath.empty()) return;
    const std::vector<std::wstring> candidates = NeighbourPhotographs(LocatePhotograph(m_strSourcePath), direction);
    std::wstring skipped;
    for (const std::wstring& path : candidates) {
        // The photograph on the screen stays there, and stays whole, until
        // the next one has been read.
        CWaitCursor wait;
        PreviewBuffer preview;
        CSize box = PreviewBox();
        CSize source;
        PhotoReport report;
        int ok = 0;
        {
            QuietMessages quiet;
            m_bBusy = TRUE;
            ok = LoadPreview(path, box, source, preview, *this, &report);
            m_bBusy = FALSE;
        }
        if (!ok) {
            skipped += (skipped.empty() ? L"Skipped " : L"; ") + NameOfPath(path) + L": " + PhotoFailureText(report);
            continue;
        }
        KeepCurrentPhotograph();
        DeleteBitmaps();
        m_preview = std::move(preview);
        m_sizePreview = box;
        m_sizeSource = source;
        ShowOpenedPhotograph(path);
        if (skipped.empty() && report.damageWarnings > 0)
            skipped = NameOfPath(path) + L" is damaged, its missing part is shown grey";
        m_strNotice = skipped;
        ShowPlace();
        ShowResolution();
        LayoutStatusRow();
        Invalidate();
        return;
    }
    if (skipped.empty())
        ShowNotice(direction > 0 ? L"This is the folder's last photograph" : L"This is the folder's first photograph");
    else
        ShowNotice(skipped + L"; no photograph further on");
    // The progress line of the failed reads goes.
    Invalidate();
}

bool CMainDialog::OrderReadyToWrite() {
    if (m_bBusy) return false;
    KeepCurrentPhotograph();
    if (m_order.GetCount() == 0) {
        ShowMessageBox(L"Image not loaded", L"Warning", MessageIcon::None, this);
        return false;
    }
    return true;
}

void CMainDialog::WriteOrderQuietly(const std::function<void(const std::function<void(size_t, size_t)>&)>& write) {
    {
        CWaitCursor wait;
        QuietMessages quiet;
        m_bBusy = TRUE;
        write([this](size_t i, size_t n) { ShowNotice(FormatW(L"%zu of %zu", i + 1, n)); });
        m_bBusy = FALSE;
    }
    ShowNotice({});
}

void CMainDialog::ShowOrderMessage(const std::wstring& text, const std::vector<OrderResult>& results, bool telling) {
    // A print the lab may refuse is as worth a look as a file not written.
    for (const OrderResult& r : results) telling = telling || !r.ok || !r.notes.empty();
    ShowMessageBox(text, {}, telling ? MessageIcon::Information : MessageIcon::None, this);
    Invalidate();
}

void CMainDialog::OnGoAll() {
    if (!OrderReadyToWrite()) return;
    std::wstring folder;
    if (!PickDestination(L"Select folder for placing the files", folder)) return;
    std::vector<OrderResult> results;
    WriteOrderQuietly([&](const std::function<void(size_t, size_t)>& onPhotograph) {
        results = WriteOrder(m_order, folder, m_formats, *this, onPhotograph);
    });
    ShowOrderMessage(OrderMessage(results, folder), results);
}
