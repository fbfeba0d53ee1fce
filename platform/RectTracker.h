#pragma once
// A rectangle with eight resize handles that follows the stylus. This is the
// geometry and the drag; drawing lives with the widgets (TrackerPainter.h).
#include "platform/WinTypes.h"

class CRectTracker {
public:
    enum StyleFlags {
        solidLine = 1,
        dottedLine = 2,
        hatchedBorder = 4,
        resizeInside = 8,
        resizeOutside = 16,
        hatchInside = 32,
    };
    enum TrackerHit {
        hitNothing = -1,
        hitTopLeft = 0,
        hitTopRight = 1,
        hitBottomRight = 2,
        hitBottomLeft = 3,
        hitTop = 4,
        hitRight = 5,
        hitBottom = 6,
        hitLeft = 7,
        hitMiddle = 8,
    };

    CRectTracker() = default;
    CRectTracker(const CRect& rect, unsigned style) : m_rect(rect), m_nStyle(style) {}
    virtual ~CRectTracker() = default;

    // -1 outside, 0-7 a handle, 8 inside.
    int HitTest(CPoint point) const;
    // The handle's square in client coordinates (handles sit inside the rectangle).
    CRect GetHandleRect(int handle) const;
    // Which handles are shown: bit i for handle i. Edge handles disappear
    // when the rectangle is too small to tell them from the corners.
    virtual unsigned GetHandleMask() const;

    // The drag, split so that any event loop can drive it.
    bool BeginTrack(CPoint point);       // false when the press hits nothing
    void TrackTo(CPoint point);          // one stylus movement
    bool EndTrack();                     // true when the rectangle changed
    bool IsTracking() const { return m_nTrackHandle >= 0; }
    int TrackHandle() const { return m_nTrackHandle; }

    CRect m_rect;
    unsigned m_nStyle = 0;
    int m_nHandleSize = 6;
    CSize m_sizeMin{0, 0};

protected:
    // Called with every proposed rectangle; may change it.
    virtual void AdjustRect(int handle, CRect* rect);
    // Called after the rectangle changed during a drag; m_rect is the new one.
    virtual void OnChangedRect(const CRect& rectOld);

private:
    int m_nTrackHandle = -1;
    CPoint m_ptPress;
    CRect m_rectPress;
};
