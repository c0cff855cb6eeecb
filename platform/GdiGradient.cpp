// GradientFill: rectangles shaded left to right or top to bottom, and triangles shaded by
// their corners' colours, each destination pixel taking the colour at its centre.
#include "platform/GdiPixels.h"

#include <cmath>

using namespace platform::gdi;
using platform::Region;

namespace {

// A vertex's 16-bit channels at 8 bits, as doubles for interpolation.
struct Shade {
    double r, g, b;
};
Shade shadeOf(const TRIVERTEX& v) { return Shade{v.Red / 256.0, v.Green / 256.0, v.Blue / 256.0}; }

inline uint8_t channel(double v) { return uint8_t(std::max(0.0, std::min(255.0, std::floor(v)))); }
inline uint32_t wordOf(double r, double g, double b)
{
    return uint32_t(channel(b)) | uint32_t(channel(g)) << 8 | uint32_t(channel(r)) << 16;
}

bool vertexFar(const TRIVERTEX& v) { return farCoordinate(v.x) || farCoordinate(v.y); }

void fillRect(const Target& t, const TRIVERTEX& a, const TRIVERTEX& b, bool horizontal)
{
    const RECT rc{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
    Region area(rc);
    area.intersect(t.allowed);
    if (area.empty())
        return;
    const Shade sa = shadeOf(a), sb = shadeOf(b);
    // Position along the gradient measured from vertex a toward vertex b.
    const double from = horizontal ? a.x : a.y, span = horizontal ? double(b.x - a.x) : double(b.y - a.y);
    auto at = [&](int p) {
        const double f = span == 0 ? 0.0 : (p - from) / span;
        return wordOf(sa.r + (sb.r - sa.r) * f, sa.g + (sb.g - sa.g) * f, sa.b + (sb.b - sa.b) * f);
    };
    const RECT box = area.bounds();
    std::vector<uint32_t> line;
    if (horizontal) {
        line.resize(size_t(box.right - box.left));
        for (int x = box.left; x < box.right; ++x)
            line[size_t(x - box.left)] = at(x);
    }
    for (const RECT& r : area.rects())
        for (int y = r.top; y < r.bottom; ++y) {
            const int n = r.right - r.left;
            if (horizontal) {
                storeRun(t.at(r.left, y), t.bpp, n, &line[size_t(r.left - box.left)]);
            } else {
                line.assign(size_t(n), at(y));
                storeRun(t.at(r.left, y), t.bpp, n, line.data());
            }
        }
}

void fillTriangle(const Target& t, const TRIVERTEX& a, const TRIVERTEX& b, const TRIVERTEX& c)
{
    const double det = double(b.x - a.x) * double(c.y - a.y) - double(c.x - a.x) * double(b.y - a.y);
    if (det == 0)
        return;
    const RECT box{std::min({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}), std::max({a.x, b.x, c.x}),
                   std::max({a.y, b.y, c.y})};
    Region area(box);
    area.intersect(t.allowed);
    const Shade sa = shadeOf(a), sb = shadeOf(b), sc = shadeOf(c);
    const double eps = 1e-9;
    std::vector<uint32_t> px;
    for (const RECT& r : area.rects())
        for (int y = r.top; y < r.bottom; ++y) {
            const double py = y + 0.5;
            // Barycentric weights at the centres, b's and c's; a's is what is left.
            px.clear();
            int start = -1;
            auto flush = [&](int end) {
                if (start >= 0)
                    storeRun(t.at(start, y), t.bpp, end - start, px.data());
                px.clear();
                start = -1;
            };
            for (int x = r.left; x < r.right; ++x) {
                const double qx = x + 0.5 - a.x, qy = py - a.y;
                const double wb = (qx * (c.y - a.y) - qy * (c.x - a.x)) / det;
                const double wc = (qy * (b.x - a.x) - qx * (b.y - a.y)) / det;
                const double wa = 1 - wb - wc;
                if (wa < -eps || wb < -eps || wc < -eps) {
                    flush(x);
                    continue;
                }
                if (start < 0)
                    start = x;
                px.push_back(wordOf(wa * sa.r + wb * sb.r + wc * sc.r, wa * sa.g + wb * sb.g + wc * sc.g,
                                    wa * sa.b + wb * sb.b + wc * sc.b));
            }
            flush(r.right);
        }
}

} // namespace

BOOL GradientFill(HDC hdc, const TRIVERTEX* vertices, ULONG nVertices, const void* mesh, ULONG nMesh, ULONG mode)
{
    auto d = dc(hdc);
    if (!d || !vertices || !mesh || mode > GRADIENT_FILL_TRIANGLE)
        return FALSE;
    for (ULONG i = 0; i < nVertices; ++i)
        if (vertexFar(vertices[i]))
            return FALSE;
    Target t;
    const bool drawing = resolve(*d, t);
    if (mode == GRADIENT_FILL_TRIANGLE) {
        const auto* tri = static_cast<const GRADIENT_TRIANGLE*>(mesh);
        for (ULONG i = 0; i < nMesh; ++i) {
            if (tri[i].Vertex1 >= nVertices || tri[i].Vertex2 >= nVertices || tri[i].Vertex3 >= nVertices)
                return FALSE;
            if (drawing)
                fillTriangle(t, vertices[tri[i].Vertex1], vertices[tri[i].Vertex2], vertices[tri[i].Vertex3]);
        }
        return TRUE;
    }
    const auto* rects = static_cast<const GRADIENT_RECT*>(mesh);
    for (ULONG i = 0; i < nMesh; ++i) {
        if (rects[i].UpperLeft >= nVertices || rects[i].LowerRight >= nVertices)
            return FALSE;
        if (drawing)
            fillRect(t, vertices[rects[i].UpperLeft], vertices[rects[i].LowerRight], mode == GRADIENT_FILL_RECT_H);
    }
    return TRUE;
}
