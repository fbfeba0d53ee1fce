#include "app/MainDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include "app/ExportPlan.h"
#include "browse/BrowseDialog.h"
#include "imaging/DibBitmap.h"
#include "imaging/DibImage.h"
#include "imaging/Pipeline.h"
#include "platform/MessageBox.h"
#include "platform/Resources.h"
#include "platform/Strings.h"
#include "platform/TrackerPainter.h"
#include "platform/WaitCursor.h"
#include "resources/MainTemplate.h"
#include "tone/AdjustDialog.h"
#include "tone/AdjustPreview.h"

CMainDialog::CMainDialog() : CDialog(MainTemplate(), nullptr) {
    m_hIcon = LoadIconResource(IDI_MAIN);
    m_frame.SetOwner(this);

    MapCommand(IDC_OPEN, [this] { OnOpen(); });
    MapCommand(IDC_ROTATE, [this] { OnRotate(); });
    MapCommand(IDC_ADJUST, [this] { OnAdjust(); });
    MapCommand(IDC_GO, [this] { OnGo(); });
    MapCommand(IDC_CORRECT_LAB, [this] { OnCorrectLab(); });
    MapNotify(IDC_FORMAT, CBN_SELCHANGE, [this] { OnFormatChange(); });
    MapCommand(ID_MOVE_LEFT, [this] { OnMoveLeft(); });
    MapCommand(ID_MOVE_RIGHT, [this] { OnMoveRight(); });
    MapCommand(ID_MOVE_UP, [this] { OnMoveUp(); });
    MapCommand(ID_MOVE_DOWN, [this] { OnMoveDown(); });
    MapCommand(ID_MOVE_LEFT_FAR, [this] { StepFrame(-1, 0, 10); });
    MapCommand(ID_MOVE_RIGHT_FAR, [this] { StepFrame(1, 0, 10); });
    MapCommand(ID_MOVE_UP_FAR, [this] { StepFrame(0, -1, 10); });
    MapCommand(ID_MOVE_DOWN_FAR, [this] { StepFrame(0, 1, 10); });
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
                     {Qt::Key_Q, IDCANCEL, Qt::ControlModifier}});
    m_hAccel = TRUE;
    AcceptDroppedPhotographs();
    // The pictures alone do not say what they do.
    const std::pair<int, const char*> tips[] = {{IDC_OPEN, "Open a photograph"},
                                                {IDC_ROTATE, "Turn the frame"},
                                                {IDC_ADJUST, "Adjust tones"},
                                                {IDC_GO, "Create the framed file"},
                                                {IDCANCEL, "Close"}};
    for (const auto& [id, tip] : tips)
        if (QWidget* picture = GetDlgItemWidget(id)) picture->setToolTip(QString::fromUtf8(tip));
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
    status->setGeometry(templ.left, top, std::max(templ.Width(), w->width() - 2 * templ.left), templ.Height());
    w->update();
}

CRect CMainDialog::GetPreviewArea() const {
    QDialog* w = DialogWidget();
    QWidget* go = GetDlgItemWidget(IDC_GO);
    QWidget* status = GetDlgItemWidget(IDC_STATUS);
    if (!w || !go || !status) return {};
    CRect r = CWnd(w).GetWindowRect();
    r.left += 2;
    r.right -= 2;
    r.top = CWnd(go).GetWindowRect().bottom + 2;
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
        DrawCentredBitmap(painter, DibToQImage(bm, m_sizePreview.cx, m_sizePreview.cy), m_sizePreview.cx,
                          m_sizePreview.cy);
    }
    const CRect a = GetPreviewArea();
    painter.setPen(QPen(QColor(127, 127, 127), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(a.left - 1, a.top - 1, a.Width() + 1, a.Height() + 1);
    if (m_bLoaded) DrawTracker(painter, m_frame);
}

void CMainDialog::OnPaint(QPainter& painter) {
    ApplyFullScreenLayout();
    DrawAll(painter);
}

void CMainDialog::Redraw() {
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
    if (!m_bLoaded) return;
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
    if (browser.DoModal() != IDOK) return;
    OpenPhotograph(browser.m_strPath);
}

void CMainDialog::OpenPhotograph(const std::wstring& path) {
    if (m_bBusy) return;
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
    const CRect a = GetPreviewArea();
    // The pipeline takes previews up to 800 x 600; a larger screen shows the
    // preview at that size, centred.
    m_sizePreview = {std::clamp(a.right - a.left, 1, 800), std::clamp(a.bottom - a.top, 1, 600)};
    PhotoReport report;
    m_bBusy = TRUE;
    const int ok = LoadPreview(path, m_sizePreview, m_sizeSource, m_preview, *this, &report);
    m_bBusy = FALSE;
    if (!ok) {
        m_preview.Clear();
        ShowMessageBox(L"Cannot open this file", L"Warning", MessageIcon::Information, this);
    } else {
        m_hbmPreview = CreateBitmapFromRgb(m_preview, m_sizePreview.cx, m_sizePreview.cy);
        // The curve stays in force for the new photograph, and GO! applies
        // it: the adjusted view must show it from the start.
        if (!RenderAdjustedBitmap(m_curve, m_preview, m_sizePreview.cx, m_sizePreview.cy, &m_hbmAdjusted))
            m_hbmAdjusted = CreateBitmapFromRgb(m_preview, m_sizePreview.cx, m_sizePreview.cy);
        m_bLoaded = TRUE;
        FitFrameToImage();
        m_strSourcePath = path;
    }
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
}

void CMainDialog::OnGo() {
    // Busy first: during a decode no photograph is loaded yet, and a
    // message box there would stop the decode until it is dismissed.
    if (m_bBusy) return;
    if (!m_bLoaded) {
        ShowMessageBox(L"Image not loaded", L"Warning", MessageIcon::None, this);
        return;
    }
    CBrowseDialog browser(this);
    browser.m_nMode = BROWSE_FOLDER;
    browser.m_strTitle = L"Select folder for placing the file";
    if (browser.DoModal() != IDOK) return;

    ExportPlan plan;
    const ExportPlanResult result =
        PlanExport(browser.m_strPath, m_strSourcePath, PrintFormatSuffixes().at(m_nFormat), m_rcSource, m_sizeSource,
                   GetFrameWidthCm(), GetFrameHeightCm(), plan);
    if (result == ExportPlanResult::OverwritesSource) {
        ShowMessageBox(L"You cannot overwrite the file, please select another folder.", L"Warning:",
                       MessageIcon::Information, this);
        return;
    }
    if (result == ExportPlanResult::EmptyRect) return;

    m_bBusy = TRUE;
    const int ok = ExportFramedImage(m_strSourcePath, plan.outputPath, plan.rcExport, *this, m_curve, 95);
    m_bBusy = FALSE;
    if (ok)
        ShowMessageBox(FormatW(L"File \"%ls\" was created.", plan.outputPath.c_str()), {}, MessageIcon::None, this);
    else
        ShowMessageBox(L"Cannot create file", {}, MessageIcon::None, this);
    Invalidate();
}
