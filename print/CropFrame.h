#pragma once
// The crop frame: a rectangle tracker over the preview whose proportions are
// always those of the print format, and which cannot leave the photograph.
#include "platform/RectTracker.h"
#include "platform/WinTypes.h"

// Proportion rules on any rectangle, with the frame's sides in cm. The
// arithmetic is single precision and truncates, on purpose: the source
// rectangle and the client rectangle must follow the same rounding.
void KeepHeightFromWidth(CRect& r, BOOL fromBottom, float widthCm, float heightCm);
void KeepWidthFromHeight(CRect& r, BOOL fromRight, float widthCm, float heightCm);

// The largest rectangle of the given proportions inside a sw x sh photograph,
// at its top-left corner.
CRect FitSourceRect(int32_t sw, int32_t sh, float widthCm, float heightCm);

// What the frame needs of the window it lies on.
class CropFrameOwner {
public:
    virtual ~CropFrameOwner() = default;
    virtual CPoint SourceToClient(int32_t x, int32_t y) const = 0;
    virtual CPoint ClientToSource(int32_t x, int32_t y) const = 0;
    virtual CSize GetSourceSize() const = 0;
    virtual CRect GetImageRect() const = 0;  // where the preview is drawn
    virtual void UpdateSourceRect(const CRect& client) = 0;
};

class CropFrame : public CRectTracker {
public:
    explicit CropFrame(CropFrameOwner* owner = nullptr);

    void SetOwner(CropFrameOwner* owner) { m_pOwner = owner; }
    CropFrameOwner* GetOwner() const { return m_pOwner; }

    // Without a rectangle they work on the frame's own.
    void KeepHeightFromWidth(CRect* r = nullptr, BOOL fromBottom = FALSE);
    void KeepWidthFromHeight(CRect* r = nullptr, BOOL fromRight = FALSE);
    void ClampToImage(CRect* r, int code, BOOL moving);
    void MoveBy(int dx, int dy);

    void AdjustRect(int code, CRect* r) override;
    void OnChangedRect(const CRect& previous) override;

    float m_fWidthCm = 0.0f;
    float m_fHeightCm = 0.0f;

private:
    CropFrameOwner* m_pOwner;
};

// The frame with its two coordinate spaces: the client rectangle over the
// preview and m_rcSource in photograph pixels. The main window is one; tests
// and the command-line tool use it with a fixed preview area.
class FrameModel : public CropFrameOwner {
public:
    FrameModel();
    ~FrameModel() override = default;

    virtual CRect GetPreviewArea() const = 0;

    CPoint SourceToClient(int32_t x, int32_t y) const override;
    CPoint ClientToSource(int32_t x, int32_t y) const override;
    CSize GetSourceSize() const override { return m_sizeSource; }
    CRect GetImageRect() const override;
    void UpdateSourceRect(const CRect& r) override;
    void UpdateFrameRect();
    void FitFrameToImage();

    // Arrow-key steps; nothing happens while no photograph is loaded.
    void OnMoveLeft();
    void OnMoveRight();
    void OnMoveUp();
    void OnMoveDown();

    CSize m_sizePreview;
    CSize m_sizeSource;
    CRect m_rcSource;
    BOOL m_bLoaded = FALSE;
    CropFrame m_frame;

protected:
    virtual void Redraw() {}
    // times key steps of (dx, dy), each kept on the photograph, shown once.
    void StepFrame(int dx, int dy, int times = 1);
};

// CentreRect: a w x h rectangle centred in rect, halves truncated.
CRect CentreRect(const CRect& rect, int32_t w, int32_t h);
