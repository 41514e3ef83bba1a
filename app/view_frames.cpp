#include "app/view_frames.h"

#include <cmath>

namespace {

int32_t Scale(float fraction, int extent) {
    const double exact = double(fraction) * double(extent - kFrameInflation);
    // Six decimals in the file and the float in memory move a fraction by at
    // most 5e-7 plus 2^-24 of itself; a product that short of a whole number
    // came from that whole number.
    const double slack =
        (5e-7 + 1.2e-7 * std::fabs(double(fraction))) * std::fabs(double(extent - kFrameInflation));
    const double nearest = std::round(exact);
    const double v = std::fabs(exact - nearest) <= slack ? nearest : std::trunc(exact);
    if (!(v > -1e9)) return -1000000000; // NaN and absurd values stay bounded
    if (v > 1e9) return 1000000000;
    return int32_t(v);
}

float Fraction(int32_t coordinate, int extent) {
    const int d = extent - kFrameInflation;
    return d != 0 ? float(coordinate) / float(d) : 0.0f;
}

} // namespace

IntRect FrameFromFractions(float top, float left, float bottom, float right, int clientWidth,
                           int clientHeight) {
    return IntRect{Scale(left, clientWidth), Scale(top, clientHeight), Scale(right, clientWidth),
                   Scale(bottom, clientHeight)};
}

void FractionsFromFrame(const IntRect& frame, int clientWidth, int clientHeight, float& top,
                        float& left, float& bottom, float& right) {
    top = Fraction(frame.top, clientHeight);
    left = Fraction(frame.left, clientWidth);
    bottom = Fraction(frame.bottom, clientHeight);
    right = Fraction(frame.right, clientWidth);
}

IntRect InflateRect(const IntRect& r, int by) {
    return IntRect{r.left - by, r.top - by, r.right + by, r.bottom + by};
}

void FramesFromFractions(ProcessingSettings& s, int clientWidth, int clientHeight) {
    auto& o = s.m_cBmpWndOriginal;
    o.m_cRectTracker =
        FrameFromFractions(o.CroprcT, o.CroprcL, o.CroprcB, o.CroprcR, clientWidth, clientHeight);
    for (auto& d : s.m_cBmpWndDestination)
        d.m_cLightTracker = FrameFromFractions(d.LightrcT, d.LightrcL, d.LightrcB, d.LightrcR,
                                               clientWidth, clientHeight);
}

void FractionsFromFrames(ProcessingSettings& s, int clientWidth, int clientHeight) {
    auto& o = s.m_cBmpWndOriginal;
    FractionsFromFrame(o.m_cRectTracker, clientWidth, clientHeight, o.CroprcT, o.CroprcL, o.CroprcB,
                       o.CroprcR);
    for (auto& d : s.m_cBmpWndDestination)
        FractionsFromFrame(d.m_cLightTracker, clientWidth, clientHeight, d.LightrcT, d.LightrcL,
                           d.LightrcB, d.LightrcR);
}

namespace {

IntRect CropRect(const ProcessingSettings& s, const ViewPair& v) {
    return MapViewRect(InflateRect(s.m_cBmpWndOriginal.m_cRectTracker, kFrameInflation),
                       v.originalWidth, v.originalHeight, v.destinationWidth, v.destinationHeight);
}

int32_t MapEdge(int32_t e, int from, int to) {
    const double v = std::round(double(e) * double(to) / double(from));
    if (!(v > -1e9)) return -1000000000;
    if (v > 1e9) return 1000000000;
    return int32_t(v);
}

} // namespace

IntRect MapViewRect(const IntRect& r, int fromWidth, int fromHeight, int toWidth, int toHeight) {
    IntRect out = r;
    if (fromWidth > 0 && toWidth > 0 && fromWidth != toWidth) {
        out.left = MapEdge(r.left, fromWidth, toWidth);
        out.right = MapEdge(r.right, fromWidth, toWidth);
    }
    if (fromHeight > 0 && toHeight > 0 && fromHeight != toHeight) {
        out.top = MapEdge(r.top, fromHeight, toHeight);
        out.bottom = MapEdge(r.bottom, fromHeight, toHeight);
    }
    return out;
}

IntRect FrameAfterResize(const IntRect& frame, const IntRect& fromFractions, int oldWidth,
                         int oldHeight, int newWidth, int newHeight) {
    IntRect r = fromFractions;
    if (frame.left == kFrameInflation) r.left = kFrameInflation;
    if (frame.top == kFrameInflation) r.top = kFrameInflation;
    if (frame.right == oldWidth - kFrameInflation) r.right = newWidth - kFrameInflation;
    if (frame.bottom == oldHeight - kFrameInflation) r.bottom = newHeight - kFrameInflation;
    return r;
}

void CopyFramesToSettings(ProcessingSettings& s, const ViewPair& views) {
    if (s.m_cBmpWndOriginal.m_bCrop) s.m_rcCrop = CropRect(s, views);
    for (int i = 0; i < 3; ++i)
        if (s.m_cBmpWndDestination[i].m_bLight)
            s.m_rcLight[i] =
                InflateRect(s.m_cBmpWndDestination[i].m_cLightTracker, kFrameInflation);
}

bool FractionsDescribeFrame(float top, float left, float bottom, float right) {
    return std::isfinite(top) && std::isfinite(left) && std::isfinite(bottom) &&
           std::isfinite(right) && right > left && bottom > top;
}

void CopyLoadedFramesToSettings(ProcessingSettings& s, const StoredFrames& stored,
                                const ViewPair& views) {
    CopyFramesToSettings(s, views);
    if (stored.crop) s.m_rcCrop = CropRect(s, views);
    for (int i = 0; i < 3; ++i)
        if (stored.light[size_t(i)])
            s.m_rcLight[i] =
                InflateRect(s.m_cBmpWndDestination[i].m_cLightTracker, kFrameInflation);
}

void SetDefaultFrames(ProcessingSettings& s, int clientWidth, int clientHeight) {
    const IntRect inner{kFrameInflation, kFrameInflation, clientWidth - kFrameInflation,
                        clientHeight - kFrameInflation};
    s.m_cBmpWndOriginal.m_cRectTracker = inner;
    for (auto& d : s.m_cBmpWndDestination) d.m_cLightTracker = inner;
    FractionsFromFrames(s, clientWidth, clientHeight);
}
