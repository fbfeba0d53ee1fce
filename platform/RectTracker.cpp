#include "platform/RectTracker.h"

namespace {
bool Contains(const CRect& r, CPoint p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }
}  // namespace

CRect CRectTracker::GetHandleRect(int handle) const {
    CRect r = m_rect;
    r.NormalizeRect();
    const int s = m_nHandleSize;
    const int cx = r.left + (r.Width() - s) / 2;
    const int cy = r.top + (r.Height() - s) / 2;
    switch (handle) {
    case hitTopLeft: return {r.left, r.top, r.left + s, r.top + s};
    case hitTopRight: return {r.right - s, r.top, r.right, r.top + s};
    case hitBottomRight: return {r.right - s, r.bottom - s, r.right, r.bottom};
    case hitBottomLeft: return {r.left, r.bottom - s, r.left + s, r.bottom};
    case hitTop: return {cx, r.top, cx + s, r.top + s};
    case hitRight: return {r.right - s, cy, r.right, cy + s};
    case hitBottom: return {cx, r.bottom - s, cx + s, r.bottom};
    case hitLeft: return {r.left, cy, r.left + s, cy + s};
    default: return {};
    }
}

unsigned CRectTracker::GetHandleMask() const {
    unsigned mask = 0x0F;  // corners always
    CRect r = m_rect;
    r.NormalizeRect();
    if (r.Width() >= 3 * m_nHandleSize) mask |= (1u << hitTop) | (1u << hitBottom);
    if (r.Height() >= 3 * m_nHandleSize) mask |= (1u << hitLeft) | (1u << hitRight);
    return mask;
}

int CRectTracker::HitTest(CPoint point) const {
    const unsigned mask = GetHandleMask();
    for (int h = 0; h < 8; ++h)
        if ((mask & (1u << h)) && Contains(GetHandleRect(h), point)) return h;
    CRect r = m_rect;
    r.NormalizeRect();
    return Contains(r, point) ? hitMiddle : hitNothing;
}

bool CRectTracker::BeginTrack(CPoint point) {
    int code = HitTest(point);
    if (code < 0) return false;
    m_nTrackHandle = code;
    m_ptPress = point;
    m_rectPress = m_rect;
    return true;
}

void CRectTracker::TrackTo(CPoint point) {
    if (m_nTrackHandle < 0) return;
    const int dx = point.x - m_ptPress.x;
    const int dy = point.y - m_ptPress.y;
    CRect r = m_rectPress;
    switch (m_nTrackHandle) {
    case hitTopLeft: r.left += dx; r.top += dy; break;
    case hitTopRight: r.right += dx; r.top += dy; break;
    case hitBottomRight: r.right += dx; r.bottom += dy; break;
    case hitBottomLeft: r.left += dx; r.bottom += dy; break;
    case hitTop: r.top += dy; break;
    case hitRight: r.right += dx; break;
    case hitBottom: r.bottom += dy; break;
    case hitLeft: r.left += dx; break;
    case hitMiddle: r.OffsetRect(dx, dy); break;
    default: break;
    }
    AdjustRect(m_nTrackHandle, &r);
    if (r == m_rect) return;
    const CRect before = m_rect;
    m_rect = r;
    OnChangedRect(before);
}

bool CRectTracker::EndTrack() {
    if (m_nTrackHandle < 0) return false;
    m_nTrackHandle = -1;
    return !(m_rect == m_rectPress);
}

void CRectTracker::AdjustRect(int, CRect*) {}
void CRectTracker::OnChangedRect(const CRect&) {}
