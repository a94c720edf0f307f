#include "media/src/video/ZoomView.h"

#include <algorithm>
#include <cmath>

namespace rkmedia {

ZoomView ClampZoom(ZoomView view, int w, int h)
{
    if (!(view.factor >= 1) || !(view.factor <= kMaxZoom)) view.factor = view.factor > kMaxZoom ? kMaxZoom : 1;
    // Within a hair of 1 is no zoom: wheel steps back down land on it.
    if (view.factor < 1.0001) view.factor = 1;
    const double halfW = w / view.factor / 2, halfH = h / view.factor / 2;
    if (!std::isfinite(view.cx)) view.cx = w / 2.0;
    if (!std::isfinite(view.cy)) view.cy = h / 2.0;
    view.cx = std::clamp(view.cx, halfW, std::max(halfW, w - halfW));
    view.cy = std::clamp(view.cy, halfH, std::max(halfH, h - halfH));
    return view;
}

Rect ZoomSource(const ZoomView& view, int w, int h)
{
    const ZoomView v = ClampZoom(view, w, h);
    if (v.factor == 1) return {0, 0, w, h};
    const auto even = [](double x) { return int(std::lround(x / 2)) * 2; };
    const int sw = std::max(2, even(w / v.factor)), sh = std::max(2, even(h / v.factor));
    const int x = std::clamp(even(v.cx - sw / 2.0), 0, std::max(0, w - sw));
    const int y = std::clamp(even(v.cy - sh / 2.0), 0, std::max(0, h - sh));
    return {x, y, std::min(sw, w), std::min(sh, h)};
}

ZoomView ZoomAround(const ZoomView& view, int steps, int x, int y, const Rect& dst, int w, int h)
{
    const ZoomView v = ClampZoom(view, w, h);
    if (dst.w <= 0 || dst.h <= 0 || w <= 0 || h <= 0) return v;
    // The picture point under the pointer now.
    const double sw = w / v.factor, sh = h / v.factor;
    const double fx = std::clamp(double(x - dst.x) / dst.w, 0.0, 1.0), fy = std::clamp(double(y - dst.y) / dst.h, 0.0, 1.0);
    const double px = v.cx - sw / 2 + fx * sw, py = v.cy - sh / 2 + fy * sh;
    ZoomView next = v;
    next.factor = std::clamp(v.factor * std::pow(kZoomStep, steps), 1.0, kMaxZoom);
    const double nw = w / next.factor, nh = h / next.factor;
    next.cx = px - fx * nw + nw / 2;
    next.cy = py - fy * nh + nh / 2;
    return ClampZoom(next, w, h);
}

ZoomView PanZoom(const ZoomView& view, int dx, int dy, const Rect& dst, int w, int h)
{
    ZoomView v = ClampZoom(view, w, h);
    if (dst.w <= 0 || dst.h <= 0 || v.factor == 1) return v;
    // A window pixel covers 1/factor of the picture pixels it covers unzoomed.
    v.cx -= double(dx) * w / dst.w / v.factor;
    v.cy -= double(dy) * h / dst.h / v.factor;
    return ClampZoom(v, w, h);
}

}  // namespace rkmedia
