#pragma once
// The main window: one full-screen dialog for the program's whole life. It
// owns the loaded photograph's preview, the format choice, the crop frame
// and the tone curve, and it is the progress sink of the long operations.
#include <QIcon>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "print/CropFrame.h"
#include "print/PrintFormatTable.h"
#include "print/PrintOrder.h"
#include "imaging/PreviewBuffer.h"
#include "platform/Dialog.h"
#include "platform/Gdi.h"
#include "platform/ProgressSink.h"
#include "tone/ToneCurve.h"

class CMainDialog : public CDialog, public FrameModel, public ProgressSink {
public:
    CMainDialog();
    ~CMainDialog() override;

    // Calls of the image pipeline between rows.
    void PumpOneMessage() override;
    void DrawProgress(int percent) override;

    CRect GetPreviewArea() const override;
    void Redraw() override;

    void FillFormatCombo();
    float GetFrameWidthCm() const;
    float GetFrameHeightCm() const;
    void UpdateFormatStatus();

    // Commands, also reachable from tests.
    void OnOpen();
    void OnRotate();
    void OnAdjust();
    void OnGo();
    void OnCorrectLab();
    void OnFormatChange();
    // The whole photograph on a white print, or the frame (check box, Ctrl+Shift+W).
    void OnWholePhoto();
    // The next and previous photograph of the current one's folder (Page
    // Down, Page Up); one that cannot be opened is passed over.
    void OnNextPhotograph();
    void OnPreviousPhotograph();
    // Writes every photograph of the sitting, each as it was framed.
    void OnGoAll();
    // Writes every photograph of the sitting onto a memory card for a kiosk,
    // with the card's print marks asking for each one's copies (OrderCommands.cpp).
    void OnCardOrder();
    // Saves the sitting as an order file in the folder the user picks; false
    // when nothing was saved.
    bool OnSaveOrder();
    // The current photograph's prints: one more or one fewer; none takes it
    // out of the order.
    void OnChangeCopies(int delta);
    // The order at a glance (OrderList.cpp).
    void OnListOrder();
    // Replaces the sitting with an order file or a card's print marks (a
    // device path) and shows its first photograph.
    void OpenOrder(const std::wstring& path);

    // The frame's source rectangle, and with it the print's resolution.
    void UpdateSourceRect(const CRect& r) override;

    // The open command after the browser: loads the photograph at a device
    // path. A photograph named on the command line or dropped on the window
    // comes in here too.
    void OpenPhotograph(const std::wstring& path);
    // The same for a host path, which must lie inside the storage root
    // (OpenFromOutside.cpp).
    void OpenHostPhotograph(const std::string& hostPath);

    // The state, as the window keeps it. First what the user chose for the
    // photograph on the screen: kept into the order and given back whole.
    // The members named after its parts below are those parts.
    PrintChoice m_choice;
    CComboBox m_cbFormat;
    BOOL& m_bCorrectLab = m_choice.bCorrectLab;
    // GO! writes the whole photograph on white; the frame stays aside.
    BOOL& m_bWholePhoto = m_choice.bWholePhoto;
    std::wstring m_strStatus;
    QIcon m_hIcon;
    PreviewBuffer m_preview;
    HBITMAP m_hbmPreview = nullptr;
    HBITMAP m_hbmAdjusted = nullptr;
    BOOL m_bShowAdjusted = TRUE;
    std::wstring m_strSourcePath;
    ToneCurve& m_curve = m_choice.curve;
    int32_t& m_nPreset = m_choice.nPreset;
    BOOL m_bBusy = FALSE;
    int32_t& m_nFormat = m_choice.nFormat;
    BOOL& m_bRotated = m_choice.bRotated;
    PrintFormatTable m_formats;
    BOOL m_hAccel = FALSE;
    // The photographs of this sitting, and where their files went last.
    PrintOrder m_order;
    // The one-line notice beside the status line ("" when there is none).
    std::wstring m_strNotice;
    // The order file the sitting was saved as or opened from last ("" when
    // none), and its text then: a sitting that reads the same is saved.
    std::wstring m_strOrderPath;
    std::string m_strSavedOrder;
    // The card the order went onto last ("" before the first).
    std::wstring m_strLastCard;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnPaint(QPainter& painter) override;
    void OnLButtonDown(unsigned flags, CPoint point) override;
    void OnMouseMove(unsigned flags, CPoint point) override;
    void OnLButtonUp(unsigned flags, CPoint point) override;
    void OnDestroy() override;
    void OnShowLayout() override;
    BOOL PreTranslateMessage(QObject* target, QEvent* event) override;

    // Ctrl+Shift+G and Ctrl+Shift+K. Not busy, and the order has a
    // photograph (or the user is told so).
    bool OrderReadyToWrite();
    // Runs write with the window busy, no box per photograph, and the count
    // of the photograph being written in the notice.
    void WriteOrderQuietly(const std::function<void(const std::function<void(size_t, size_t)>&)>& write);
    // The one closing message; with the information icon when telling or
    // when any photograph failed or has a note.
    void ShowOrderMessage(const std::wstring& text, const std::vector<OrderResult>& results, bool telling = false);
    // The folder browser for GO!, starting on the last destination; false
    // when the user cancels.
    bool PickDestination(const wchar_t* title, std::wstring& folder);
    void ApplyFullScreenLayout();
    void DrawAll(QPainter& painter);
    void DrawCentredBitmap(QPainter& painter, const QImage& picture, int w, int h);
    void DeleteBitmaps();
    // A JPEG file dropped on the window opens as if picked (OpenFromOutside.cpp).
    void AcceptDroppedPhotographs();

    // The largest preview the preview area takes.
    CSize PreviewBox() const;
    // After a decode into m_preview: the photograph as it was left in the
    // sitting, or with the settings in force and the frame fitted.
    void ShowOpenedPhotograph(const std::wstring& path);
    void ApplySettings(const PhotoSettings& settings);
    void KeepCurrentPhotograph();
    // Before the sitting is closed or replaced: an unsaved order of two or
    // more photographs is offered for saving. False when the user stays.
    bool OfferToSaveOrder();
    // The current photograph's place in the order; GetCount() when it is not in it.
    size_t CurrentOrderIndex() const;
    void StepPhotograph(int direction);
    void ShowPlace();
    void ShowResolution();
    // The pixels GO! would write now; empty when it would write nothing.
    CSize PrintPixels() const;
    void DrawWholePrint(QPainter& painter, const QImage& preview);
    void ShowNotice(const std::wstring& text);
    // The curve in force, named beside the resolution.
    void ShowCurve();
    // What the notice says after GO!: the written file's host path, or why
    // nothing was written, and whatever the export left behind.
    std::wstring ExportNotice(bool ok, const std::wstring& outputPath, const PhotoReport& report,
                              const std::vector<std::string>& warnings) const;
    // The status line's row: the status text, the resolution beside it, the
    // notice, and the two step pictures at its end.
    void LayoutStatusRow();

private:
    bool m_bLayingOut = false;
    // Photographs taken out of the order (no copies), by their lower-cased
    // paths: walking over them again does not put them back; + does.
    std::set<std::wstring> m_takenOut;
    bool IsTakenOut(const std::wstring& path) const;
    void SetTakenOut(const std::wstring& path, bool out);
    // Too narrow for one row: the status text goes a row up and the rest
    // takes the row below it. Decided by the window's width alone, so that
    // the preview area never changes under a photograph.
    bool m_bTwoRowStatus = false;
};
