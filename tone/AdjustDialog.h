#pragma once
// "Image adjustment": the user picks a tone preset, sees its curve, and sees
// the photograph behind the dialog change. It works on the main window's
// state through addresses the caller sets before DoModal.
#include <QBrush>

#include "imaging/PreviewBuffer.h"
#include "platform/Dialog.h"
#include "platform/Gdi.h"
#include "tone/ToneCurve.h"

class CAdjustDialog : public CDialog {
public:
    // The owner, when given, is the window that is invalidated; by default the
    // application's main window.
    explicit CAdjustDialog(CWnd* owner = nullptr);
    ~CAdjustDialog() override;

    CComboBox m_cbPreset;
    int32_t m_nSelection = -1;    // list index, exchanged with the list
    BOOL m_bPreview = TRUE;       // check state of "Preview", exchanged
    BOOL* m_pPreviewFlag = nullptr;
    int32_t* m_pPresetIndex = nullptr;
    ToneCurve m_workCurve;
    ToneCurve* m_pCurve = nullptr;
    HBITMAP* m_phAdjusted = nullptr;
    const PreviewBuffer* m_pPreview = nullptr;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    CRect m_rcCurve;              // the curve display, client pixels
    BOOL m_bChanged = FALSE;      // the list has been touched
    QBrush m_brush;

    int CurveToX(int v) const;
    int CurveToY(int v) const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnPaint(QPainter& painter) override;

    void OnSelChangePreset();
    void OnPreviewClicked();
    void RenderAdjustedPreview(ToneCurve& curve);

private:
    CWnd* Owner() const;
};
