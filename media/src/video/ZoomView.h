// The part of a picture a zoomed window shows: a factor from 1 to 8 and the
// picture point at the centre of the view. The view never leaves the
// picture, so a centre too near an edge is moved in.
#pragma once

#include "media/src/video/SdlPresenter.h"

namespace rkmedia {

constexpr double kMaxZoom = 8.0;
// One notch of the mouse wheel.
constexpr double kZoomStep = 1.25;

struct ZoomView {
    double factor = 1;
    double cx = 0, cy = 0;  // picture pixels
    bool operator==(const ZoomView&) const = default;
};

// Factor within 1..8 (anything else, NaN included, is 1) and the centre
// moved in so that the view lies inside a w x h picture; factor 1 is the
// whole picture, centred.
ZoomView ClampZoom(ZoomView view, int w, int h);

// The source rectangle of the view in picture pixels, on even coordinates
// (4:2:0 chroma is cropped with the luma), at least 2 x 2.
Rect ZoomSource(const ZoomView& view, int w, int h);

// The view after `steps` wheel notches (+ enlarges) with the picture point
// under window point (x, y) staying under it; `dst` is where the whole
// picture would be drawn in the window (DestinationRect).
ZoomView ZoomAround(const ZoomView& view, int steps, int x, int y, const Rect& dst, int w, int h);

// The view dragged by (dx, dy) window pixels: the picture follows the pointer.
ZoomView PanZoom(const ZoomView& view, int dx, int dy, const Rect& dst, int w, int h);

}  // namespace rkmedia
