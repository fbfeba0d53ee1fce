#include "tone/AdjustDialog.h"

#include <QPainter>
#include <cstdlib>

#include "resources/AdjustTemplate.h"
#include "tone/AdjustPreview.h"
#include "tone/Presets.h"

namespace {

// A one-pixel frame along the inside of rc, right and bottom exclusive.
void FrameRect(QPainter& painter, const CRect& rc, const QBrush& brush) {
    const int w = rc.Width();
    const int h = rc.Height();
    if (w <= 0 || h <= 0) return;
    painter.fillRect(rc.left, rc.top, w, 1, brush);
    painter.fillRect(rc.left, rc.bottom - 1, w, 1, brush);
    painter.fillRect(rc.left, rc.top, 1, h, brush);
    painter.fillRect(rc.right - 1, rc.top, 1, h, brush);
}

void SetPixel(QPainter& painter, int x, int y) { painter.fillRect(x, y, 1, 1, Qt::black); }

// A line as the default one-pixel pen draws it: the end point itself is left out.
void LineTo(QPainter& painter, CPoint from, CPoint to) {
    int x = from.x, y = from.y;
    const int dx = std::abs(to.x - x), sx = x < to.x ? 1 : -1;
    const int dy = -std::abs(to.y - y), sy = y < to.y ? 1 : -1;
    int err = dx + dy;
    while (x != to.x || y != to.y) {
        SetPixel(painter, x, y);
        const int e2 = 2 * err;
        if (e2 >= dy) { err += dy; x += sx; }
        if (e2 <= dx) { err += dx; y += sy; }
    }
}

}  // namespace

CAdjustDialog::CAdjustDialog(CWnd* owner) : CDialog(AdjustTemplate(), owner) {
    MapNotify(IDC_PRESET, CBN_SELCHANGE, [this] { OnSelChangePreset(); });
    MapCommand(IDC_PREVIEW, [this] { OnPreviewClicked(); });
}

CAdjustDialog::~CAdjustDialog() = default;

CWnd* CAdjustDialog::Owner() const {
    if (GetParent() != nullptr) return GetParent();
    CWinApp* app = CWinApp::Current();
    return app != nullptr ? app->m_pMainWnd : nullptr;
}

int CAdjustDialog::CurveToX(int v) const {
    return m_rcCurve.left + (v * (m_rcCurve.right - m_rcCurve.left)) / 255;
}

int CAdjustDialog::CurveToY(int v) const {
    return m_rcCurve.bottom - (v * (m_rcCurve.bottom - m_rcCurve.top)) / 255;
}

void CAdjustDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PRESET, m_cbPreset);
    DDX_CBIndex(pDX, IDC_PRESET, m_nSelection);
    DDX_Check(pDX, IDC_PREVIEW, m_bPreview);
}

BOOL CAdjustDialog::OnInitDialog() {
    CDialog::OnInitDialog();

    // The group box only marks where the curve goes; its caption is never seen.
    if (CWnd* frame = GetDlgItem(IDC_CURVE_FRAME)) {
        m_rcCurve = frame->GetWindowRect();
        ScreenToClient(m_rcCurve);
        frame->ShowWindow(false);
    }

    m_brush = QBrush(Qt::black, Qt::SolidPattern);

    for (int i = 0; i < TONE_PRESET_COUNT; ++i) {
        const TonePreset* preset = FindPresetByIndex(i);
        const int index = m_cbPreset.AddString(preset->text);
        m_cbPreset.SetItemData(index, preset->itemData);
    }

    const int32_t stored = m_pPresetIndex != nullptr ? *m_pPresetIndex : PRESET_INDEX_NONE;
    m_cbPreset.SetCurSel(stored == PRESET_INDEX_NONE ? 0 : stored);

    if (m_pCurve != nullptr) m_workCurve.Assign(*m_pCurve);
    // The list is what the dialog is for: with the focus on "Apply" the first
    // arrow key would only move the focus into the list, and the user, who
    // sees the list, would find one pick short.
    m_cbPreset.SetFocus();
    return FALSE;
}

void CAdjustDialog::OnPaint(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    const CRect& rc = m_rcCurve;
    FrameRect(painter, CRect(rc.left - 2, rc.top - 1, rc.right + 1, rc.bottom + 2), m_brush);

    const int n = m_workCurve.m_nPoints;
    for (int k = 0; k < n; ++k) {
        const int px = CurveToX(static_cast<int>(m_workCurve.m_x[k]));
        const int py = CurveToY(static_cast<int>(m_workCurve.m_y[k]));
        FrameRect(painter, CRect(px - 2, py - 2, px + 2, py + 2), m_brush);
    }

    if (n == 2) {
        const CPoint from(CurveToX(static_cast<int>(m_workCurve.m_x[0])), CurveToY(static_cast<int>(m_workCurve.m_y[0])));
        const CPoint to(CurveToX(static_cast<int>(m_workCurve.m_x[1])), CurveToY(static_cast<int>(m_workCurve.m_y[1])));
        LineTo(painter, from, to);
        return;
    }
    for (int i = 0; i < 256; ++i) {
        const int v = TruncateLevel(m_workCurve.m_spline.Evaluate(static_cast<double>(i)));
        SetPixel(painter, CurveToX(i), CurveToY(v));
    }
}

void CAdjustDialog::OnSelChangePreset() {
    m_bChanged = TRUE;
    UpdateData(TRUE);
    if (m_nSelection == -1) return;

    const intptr_t itemData = m_cbPreset.GetItemData(m_nSelection);
    if (itemData < 0 || itemData > 11) return;
    ApplyPreset(m_workCurve, static_cast<int>(itemData));
    RenderAdjustedPreview(m_workCurve);

    if (CWnd* owner = Owner()) owner->Invalidate();
    Invalidate();
}

void CAdjustDialog::RenderAdjustedPreview(ToneCurve& curve) {
    if (m_pPreview == nullptr) {
        curve.UpdateLut();
        return;
    }
    RenderAdjustedBitmap(curve, *m_pPreview, m_nWidth, m_nHeight, m_phAdjusted);
}

void CAdjustDialog::OnPreviewClicked() {
    UpdateData(TRUE);
    if (m_pPreviewFlag != nullptr) *m_pPreviewFlag = m_bPreview;
    if (CWnd* owner = Owner()) owner->Invalidate();
}

void CAdjustDialog::OnOK() {
    if (!m_bChanged) {
        // Nothing was picked, so nothing was re-rendered: leave without the
        // cancel path's rebuild.
        CDialog::OnCancel();
        return;
    }
    if (m_pCurve != nullptr) m_pCurve->Assign(m_workCurve);
    if (m_pPresetIndex != nullptr) *m_pPresetIndex = m_nSelection;
    CDialog::OnOK();
}

void CAdjustDialog::OnCancel() {
    if (m_pCurve != nullptr) RenderAdjustedPreview(*m_pCurve);
    if (CWnd* owner = Owner()) owner->Invalidate();
    CDialog::OnCancel();
}
