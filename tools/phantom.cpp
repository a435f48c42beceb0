#include "tools/phantom.h"

#include <algorithm>
#include <cmath>

namespace {

// A point or direction in the component's own frame, axes divided by the
// semi-axes, so that the ellipsoid becomes the unit sphere.
struct Unit {
    double x, y, z;
};

Unit toUnit(const Ellipsoid &e, double x, double y, double z, bool isDirection)
{
    const double dx = isDirection ? x : x - e.cx;
    const double dy = isDirection ? y : y - e.cy;
    const double dz = isDirection ? z : z - e.cz;
    const double c = std::cos(e.phi);
    const double s = std::sin(e.phi);
    // The component's x axis is turned by phi from +x towards +z.
    const double lx = c * dx + s * dz;
    const double lz = -s * dx + c * dz;
    return { lx / e.ax, dy / e.ay, lz / e.az };
}

} // namespace

bool Ellipsoid::contains(double x, double y, double z) const
{
    const Unit p = toUnit(*this, x, y, z, false);
    return p.x * p.x + p.y * p.y + p.z * p.z < 1.0;
}

double Ellipsoid::chord(double t, double y, double cosT, double sinT) const
{
    // Ray p(s) = p0 + s d with |d| = 1; in unit-sphere coordinates
    // |q0 + s q1|^2 = 1 is a*s^2 + 2*b*s + c = 0, and the chord is the distance
    // between its roots, 2 * sqrt(b^2 - a*c) / a (times |d| = 1).
    const double dy = y - cy;
    if (std::abs(dy) >= ay)
        return 0.0;
    const Unit q0 = toUnit(*this, t * cosT, y, -t * sinT, false);
    const Unit q1 = toUnit(*this, sinT, 0.0, cosT, true);
    const double a = q1.x * q1.x + q1.z * q1.z;
    const double b = q0.x * q1.x + q0.z * q1.z;
    const double c = q0.x * q0.x + q0.y * q0.y + q0.z * q0.z - 1.0;
    const double disc = b * b - a * c;
    if (disc <= 0.0 || a <= 0.0)
        return 0.0;
    return 2.0 * std::sqrt(disc) / a;
}

Phantom Phantom::standard(double radius, int height, double bodyMu)
{
    Phantom p;
    p.radius = radius;
    p.bodyMu = bodyMu > 0 ? bodyMu : 1.0 / radius;
    const double r = radius;
    const double v = std::max(0.5 * height, 1.0); // half the detector height, pixels
    const double mu = p.bodyMu;
    auto add = [&](const char *name, double cx, double cy, double cz, double ax, double ay,
                   double az, double phiDeg, double m, double jump) {
        Ellipsoid e;
        e.name = QString::fromLatin1(name);
        e.cx = cx * r;
        e.cy = cy * v;
        e.cz = cz * r;
        e.ax = ax * r;
        e.ay = ay * v;
        e.az = az * r;
        e.phi = phiDeg * M_PI / 180.0;
        e.mu = m * mu;
        e.edgeJump = jump * mu;
        p.components.push_back(e);
    };
    add("body", 0.0, 0.0, 0.0, 0.80, 0.90, 0.70, 0.0, 1.0, 0.0);
    add("dense", 0.40, 0.0, -0.25, 0.12, 0.50, 0.12, 0.0, 2.0, 0.0);
    add("void", -0.35, 0.0, 0.30, 0.15, 0.50, 0.08, 30.0, -0.5, 0.0);
    add("edge", -0.30, 0.0, -0.35, 0.10, 0.50, 0.10, 0.0, 1.0, 1.5);
    add("upper", 0.10, -0.55, 0.40, 0.10, 0.25, 0.10, 0.0, 1.0, 0.0);
    return p;
}

double Phantom::lineIntegral(double t, double y, double theta) const
{
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    double sum = 0.0;
    for (const Ellipsoid &e : components) {
        const double m = e.mu;
        if (m != 0.0)
            sum += m * e.chord(t, y, c, s);
    }
    return sum;
}

double Phantom::muAt(double x, double y, double z) const
{
    double sum = 0.0;
    for (const Ellipsoid &e : components)
        if (e.contains(x, y, z))
            sum += e.mu;
    return sum;
}

double Phantom::edgeStep(double e, double edgeEV) { return 0.5 + std::atan(e - edgeEV) / M_PI; }

Phantom Phantom::atEnergy(double e, double edgeEV) const
{
    Phantom p = *this;
    const double scale = std::pow(edgeEV / e, 3.0);
    const double step = edgeStep(e, edgeEV);
    for (Ellipsoid &c : p.components) {
        c.mu = c.mu * scale + c.edgeJump * step;
        c.edgeJump = 0.0;
    }
    p.bodyMu *= scale;
    return p;
}

const Ellipsoid *Phantom::component(const QString &name) const
{
    for (const Ellipsoid &e : components)
        if (e.name == name)
            return &e;
    return nullptr;
}
