#include "print/CropFrame.h"

void KeepHeightFromWidth(CRect& r, BOOL fromBottom, float widthCm, float heightCm) {
    int32_t w = r.right - r.left;
    if (w < 0) w = -w;
    const float h = (static_cast<float>(w) / widthCm) * heightCm;
    if (fromBottom)
        r.top = static_cast<int32_t>(static_cast<float>(r.bottom) - h);
    else
        r.bottom = static_cast<int32_t>(h + static_cast<float>(r.top));
}

void KeepWidthFromHeight(CRect& r, BOOL fromRight, float widthCm, float heightCm) {
    int32_t h = r.bottom - r.top;
    if (h < 0) h = -h;
    const float w = (static_cast<float>(h) / heightCm) * widthCm;
    if (fromRight)
        r.left = static_cast<int32_t>(static_cast<float>(r.right) - w);
    else
        r.right = static_cast<int32_t>(w + static_cast<float>(r.left));
}

CRect FitSourceRect(int32_t sw, int32_t sh, float widthCm, float heightCm) {
    CRect r(0, 0, sw, sh);
    // Strict tests: a frame exactly as high (or wide) as the photograph stays.
    if (sw > sh) {
        KeepHeightFromWidth(r, FALSE, widthCm, heightCm);
        if (r.bottom - r.top > sh) {
            r.bottom = sh;
            KeepWidthFromHeight(r, FALSE, widthCm, heightCm);
        }
    } else {
        KeepWidthFromHeight(r, FALSE, widthCm, heightCm);
        if (r.right - r.left > sw) {
            r.right = sw;
            KeepHeightFromWidth(r, FALSE, widthCm, heightCm);
        }
    }
    return r;
}

CRect CentreRect(const CRect& rect, int32_t w, int32_t h) {
    const int32_t cx = (rect.left + rect.right) / 2;
    const int32_t cy = (rect.top + rect.bottom) / 2;
    CRect r;
    r.left = cx - w / 2;
    r.right = r.left + w;
    r.top = cy - h / 2;
    r.bottom = r.top + h;
    return r;
}

CropFrame::CropFrame(CropFrameOwner* owner)
    : CRectTracker(CRect(), dottedLine | resizeInside), m_pOwner(owner) {}

void CropFrame::KeepHeightFromWidth(CRect* r, BOOL fromBottom) {
    ::KeepHeightFromWidth(r ? *r : m_rect, fromBottom, m_fWidthCm, m_fHeightCm);
}

void CropFrame::KeepWidthFromHeight(CRect* r, BOOL fromRight) {
    ::KeepWidthFromHeight(r ? *r : m_rect, fromRight, m_fWidthCm, m_fHeightCm);
}

void CropFrame::ClampToImage(CRect* pr, int code, BOOL moving) {
    if (!m_pOwner) return;
    CRect& r = pr ? *pr : m_rect;
    const CropFrameOwner& o = *m_pOwner;
    const CSize src = o.GetSourceSize();
    const int32_t sw = src.cx;
    const int32_t sh = src.cy;
    CRect q(o.ClientToSource(r.left, r.top), o.ClientToSource(r.right, r.bottom));

    if (q.right > sw) {
        const int32_t oldRight = q.right;
        q.right = sw;
        if (moving) {
            q.left = q.left - (oldRight - sw);
            const int32_t x = o.SourceToClient(sw, q.bottom).x;
            r.left = x - (r.right - r.left);
            r.right = x;
        } else {
            const BOOL f = (code == 1 || code == 4);
            KeepHeightFromWidth(&q, f);
            r.right = o.SourceToClient(q.right, q.bottom).x;
            KeepHeightFromWidth(&r, f);
        }
    }
    if (q.left < 0) {
        const int32_t oldLeft = q.left;
        q.left = 0;
        if (moving) {
            q.right = q.right - oldLeft;
            const int32_t x = o.SourceToClient(0, q.top).x;
            r.right = x + (r.right - r.left);
            r.left = x;
        } else {
            const BOOL f = (code == 0);
            KeepHeightFromWidth(&q, f);
            r.left = o.SourceToClient(q.left, q.top).x;
            KeepHeightFromWidth(&r, f);
        }
    }
    if (q.top < 0) {
        const int32_t oldTop = q.top;
        q.top = 0;
        if (moving) {
            q.bottom = q.bottom - oldTop;
            const int32_t y = o.SourceToClient(q.left, 0).y;
            r.bottom = y + (r.bottom - r.top);
            r.top = y;
        } else {
            const BOOL f = (code == 0);
            KeepWidthFromHeight(&q, f);
            r.top = o.SourceToClient(q.left, q.top).y;
            KeepWidthFromHeight(&r, f);
        }
    }
    if (q.bottom > sh) {
        const int32_t oldBottom = q.bottom;
        q.bottom = sh;
        if (moving) {
            q.top = q.top - (oldBottom - sh);
            const int32_t y = o.SourceToClient(q.right, sh).y;
            r.top = y - (r.bottom - r.top);
            r.bottom = y;
        } else {
            const BOOL f = (code == 3 || code == 7);
            KeepWidthFromHeight(&q, f);
            r.bottom = o.SourceToClient(q.right, q.bottom).y;
            KeepWidthFromHeight(&r, f);
        }
    }
}

void CropFrame::AdjustRect(int code, CRect* r) {
    switch (code) {
    case 0: case 1: KeepHeightFromWidth(r, TRUE); break;
    case 2: case 3: case 5: case 7: KeepHeightFromWidth(r, FALSE); break;
    case 4: case 6: KeepWidthFromHeight(r, FALSE); break;
    default: break;
    }
    ClampToImage(r, code, code == 8);
}

void CropFrame::OnChangedRect(const CRect& previous) {
    bool undo = m_rect.right - m_rect.left < 10 || m_rect.bottom - m_rect.top < 10;
    // A drag that turns the proposed rectangle inside out can clamp it to a
    // place far off the photograph; such a step is undone like a too-small
    // one. One pixel of slack is what the truncating conversions can cost.
    if (!undo && m_pOwner) {
        const CRect img = m_pOwner->GetImageRect();
        undo = m_rect.left < img.left - 1 || m_rect.top < img.top - 1 || m_rect.right > img.right + 1 ||
               m_rect.bottom > img.bottom + 1;
    }
    if (undo) m_rect = previous;
    if (m_pOwner) m_pOwner->UpdateSourceRect(m_rect);
}

void CropFrame::MoveBy(int dx, int dy) {
    m_rect.left += dx;
    m_rect.right += dx;
    m_rect.top += dy;
    m_rect.bottom += dy;
    ClampToImage(&m_rect, 8, TRUE);
}

FrameModel::FrameModel() : m_frame(this) {}

CRect FrameModel::GetImageRect() const { return CentreRect(GetPreviewArea(), m_sizePreview.cx, m_sizePreview.cy); }

CPoint FrameModel::SourceToClient(int32_t x, int32_t y) const {
    const CRect i = GetImageRect();
    return {i.left + (m_sizePreview.cx * x) / m_sizeSource.cx, i.top + (m_sizePreview.cy * y) / m_sizeSource.cy};
}

CPoint FrameModel::ClientToSource(int32_t x, int32_t y) const {
    const CRect i = GetImageRect();
    return {((x - i.left) * m_sizeSource.cx) / m_sizePreview.cx, ((y - i.top) * m_sizeSource.cy) / m_sizePreview.cy};
}

void FrameModel::UpdateSourceRect(const CRect& r) {
    m_rcSource = CRect(ClientToSource(r.left, r.top), ClientToSource(r.right, r.bottom));
}

void FrameModel::UpdateFrameRect() {
    m_frame.m_rect = CRect(SourceToClient(m_rcSource.left, m_rcSource.top),
                           SourceToClient(m_rcSource.right, m_rcSource.bottom));
}

void FrameModel::FitFrameToImage() {
    if (!m_bLoaded) return;
    m_rcSource = FitSourceRect(m_sizeSource.cx, m_sizeSource.cy, m_frame.m_fWidthCm, m_frame.m_fHeightCm);
    UpdateFrameRect();
}

void FrameModel::StepFrame(int dx, int dy, int times) {
    if (!m_bLoaded) return;
    for (int i = 0; i < times; ++i) m_frame.MoveBy(dx, dy);
    UpdateSourceRect(m_frame.m_rect);
    Redraw();
}

void FrameModel::OnMoveLeft() { StepFrame(-1, 0); }
void FrameModel::OnMoveRight() { StepFrame(1, 0); }
void FrameModel::OnMoveUp() { StepFrame(0, -1); }
void FrameModel::OnMoveDown() { StepFrame(0, 1); }
