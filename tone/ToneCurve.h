#pragma once
// A tone curve: a natural cubic spline through a few control points, sampled
// into a 256-entry table so that mapping a sample is one look-up.
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int MAX_TONE_POINTS = 48;

// Copies like a value: a curve kept for a photograph is a plain copy.
class CubicSpline {
public:
    void Reserve(int n);
    void AddKnot(double x, double y);
    void Solve();
    void SetKnots(int n, const double* xs, const double* ys);
    double Evaluate(double x) const;
    int FindInterval(double x) const;

    int Capacity() const { return m_nCapacity; }
    int KnotCount() const { return m_nKnots; }
    const double* X() const { return Block(1); }
    const double* Y() const { return Block(2); }
    const double* M() const { return Block(0); }

private:
    // The three arrays of one block, M then x then y; none before the first
    // spline of more than two knots.
    const double* Block(int part) const {
        return m_block.empty() ? nullptr : m_block.data() + static_cast<size_t>(part) * m_nCapacity;
    }
    double* Block(int part) { return m_block.empty() ? nullptr : m_block.data() + static_cast<size_t>(part) * m_nCapacity; }

    int32_t m_nCapacity = 0;
    int32_t m_nKnots = 0;
    std::vector<double> m_block;
};

using ToneLut = int32_t[256];

class ToneCurve {
public:
    ToneCurve();  // the identity: (0, 0) and (255, 255)

    void Assign(const ToneCurve& source);
    void UpdateSpline();
    void UpdateLut();

    CubicSpline m_spline;
    int32_t m_nPoints = 2;
    double m_x[MAX_TONE_POINTS] = {};
    double m_y[MAX_TONE_POINTS] = {};
    ToneLut m_lut = {};
};

// A curve value as a table entry: truncated toward zero, held within 0..255.
int32_t TruncateLevel(double v);

// Maps count samples through the table; src and dst may be the same memory.
void MapThroughLut(const ToneLut& lut, const uint8_t* src, uint8_t* dst, size_t count);

// The curve as an export applies it: its table rebuilt, then its 256 levels
// as bytes, or none while it has only its two end points (the identity).
struct ToneLevels {
    uint8_t levels[256] = {};
    bool identity = true;
    const uint8_t* Table() const { return identity ? nullptr : levels; }
};
ToneLevels ExportLevels(ToneCurve& curve);
