#include "tone/ToneCurve.h"

#include <cstring>
#include <memory>

namespace {
// Multiplied, never divided by: the tables depend on this exact rounding.
const double kSixth = 1.0 / 6.0;
}  // namespace

int32_t TruncateLevel(double v) {
    // Truncation toward zero, not rounding: a value a hair below a knot's
    // level gives one level less. Values outside 0..255 (only a curve through
    // points the presets never use can reach them) are held at the ends
    // rather than wrapped by a consumer that keeps the low 8 bits.
    if (!(v > 0.0)) return 0;  // also NaN from coinciding knot inputs
    if (v >= 255.0) return 255;
    return static_cast<int32_t>(v);
}

void CubicSpline::Reserve(int n) {
    if (n > 2 && n > m_nCapacity) {
        // A new block, not a grown one: its parts start at other offsets.
        m_block.assign(3 * static_cast<size_t>(n), 0.0);
        m_nCapacity = n;
    }
    m_nKnots = 0;
}

void CubicSpline::AddKnot(double x, double y) {
    if (m_nKnots < m_nCapacity) {
        Block(1)[m_nKnots] = x;
        Block(2)[m_nKnots] = y;
        ++m_nKnots;
    }
}

void CubicSpline::Solve() {
    const int n = m_nKnots;
    if (n <= 2) return;
    double* const m = Block(0);
    for (int k = 0; k < n; ++k) m[k] = 0.0;

    std::unique_ptr<double[]> temp(new double[3 * static_cast<size_t>(n)]());
    double* mu = temp.get();
    double* lambda = mu + n;
    double* d = lambda + n;

    const double* x = X();
    const double* y = Y();
    double hPrev = x[1] - x[0];
    double sPrev = (y[1] - y[0]) / hPrev;
    for (int i = 1; i <= n - 2; ++i) {
        const double h = x[i + 1] - x[i];
        const double s = (y[i + 1] - y[i]) / h;
        const double g = hPrev + h;
        mu[i] = h / g;
        lambda[i] = 1.0 - mu[i];
        d[i] = ((s - sPrev) * 6.0) / g;
        hPrev = h;
        sPrev = s;
    }

    // Tridiagonal elimination; mu[] is reused for the eliminated super-diagonal.
    for (int i = 1; i <= n - 2; ++i) {
        const double f = 1.0 / (mu[i - 1] * lambda[i] + 2.0);
        mu[i] = -(mu[i] * f);
        d[i] = (d[i] - d[i - 1] * lambda[i]) * f;
    }

    m[n - 1] = 0.0;
    m[n - 2] = d[n - 2];
    for (int k = n - 3; k >= 0; --k) m[k] = m[k + 1] * mu[k] + d[k];
}

void CubicSpline::SetKnots(int n, const double* xs, const double* ys) {
    if (n <= 2) return;
    Reserve(n);
    for (int k = 0; k < n; ++k) AddKnot(xs[k], ys[k]);
    Solve();
}

int CubicSpline::FindInterval(double x) const {
    int lo = 0;
    int hi = m_nKnots - 1;
    const double* xs = X();
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (x < xs[mid])
            hi = mid;
        else
            lo = mid;
    }
    return lo;
}

double CubicSpline::Evaluate(double x) const {
    const int n = m_nKnots;
    if (n < 3) return 0.0;
    const double* X = this->X();
    const double* Y = this->Y();
    const double* M = this->M();

    // Beyond the end knots the curve continues as a straight line along the
    // end slope, so a level slightly outside 0..255 still maps sensibly.
    if (x < X[0]) {
        const double h = X[1] - X[0];
        const double slope = (Y[1] - Y[0]) / h - (M[1] * h) * kSixth;
        return slope * (x - X[0]) + Y[0];
    }
    if (x >= X[n - 1]) {
        const double h = X[n - 1] - X[n - 2];
        const double slope = (Y[n - 1] - Y[n - 2]) / h + (M[n - 2] * h) * kSixth;
        return slope * (x - X[n - 1]) + Y[n - 1];
    }

    const int i = FindInterval(x);
    const double a = X[i] - X[i + 1];
    const double u = x - X[i + 1];
    const double w = X[i] - x;
    const double q = (a * a) * kSixth;
    const double r = 1.0 / a;
    const double g = (Y[i] - M[i] * q) * u + (Y[i + 1] - M[i + 1] * q) * w;
    const double nn = ((M[i] * u) * u) * u + ((M[i + 1] * w) * w) * w;
    return (g + nn * kSixth) * r;
}

ToneCurve::ToneCurve() {
    m_x[0] = 0.0;
    m_y[0] = 0.0;
    m_x[1] = 255.0;
    m_y[1] = 255.0;
}

void ToneCurve::Assign(const ToneCurve& source) {
    if (&source != this) {
        m_nPoints = source.m_nPoints;
        std::memcpy(m_x, source.m_x, sizeof m_x);
        std::memcpy(m_y, source.m_y, sizeof m_y);
    }
    UpdateSpline();
    UpdateLut();
}

void ToneCurve::UpdateSpline() {
    if (m_nPoints > 2) m_spline.SetKnots(m_nPoints, m_x, m_y);
}

void ToneCurve::UpdateLut() {
    for (int i = 0; i < 256; ++i) {
        if (m_nPoints < 3)
            m_lut[i] = i;
        else
            m_lut[i] = TruncateLevel(m_spline.Evaluate(static_cast<double>(i)));
    }
}

void MapThroughLut(const ToneLut& lut, const uint8_t* src, uint8_t* dst, size_t count) {
    for (size_t j = 0; j < count; ++j) dst[j] = static_cast<uint8_t>(lut[src[j]]);
}

ToneLevels ExportLevels(ToneCurve& curve) {
    curve.UpdateLut();
    ToneLevels tone;
    tone.identity = curve.m_nPoints <= 2;
    if (!tone.identity)
        for (int v = 0; v < 256; ++v) tone.levels[v] = static_cast<uint8_t>(curve.m_lut[v]);
    return tone;
}
