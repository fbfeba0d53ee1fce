#pragma once
#include <QPainter>

#include "platform/RectTracker.h"

// Draws a tracker in its style: a dotted one-pixel outline and, with
// resizeInside, the shown handles as filled squares inside the rectangle.
void DrawTracker(QPainter& painter, const CRectTracker& tracker);
