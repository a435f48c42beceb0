#pragma once
// An analytic 3-D phantom made of ellipsoids, and its exact parallel-beam
// projections about a vertical rotation axis.
//
// Frame (all lengths in detector pixels): x runs along a detector row, y down
// the image rows, z along the beam at angle 0. The rotation axis is the line
// x = 0, z = 0; y = 0 is the middle row of the detector. The horizontal frame
// is the one of a reconstructed slice: a point (x, z) of the phantom appears in
// the N x N result grid at column h + x and row h + z (h = N / 2).
//
// Projection at angle theta: the ray that reaches detector offset t (pixels
// from the centre of rotation) in row y is
//   (x, z) = t * (cos theta, -sin theta) + s * (sin theta, cos theta),  s real,
// so a point (x, z) is seen at t = x cos theta - z sin theta, the relation the
// back-projection uses. Its value is the sum over the components of
// mu * chord length, i.e. the attenuation ln(I0 / I) of that ray.
#include <QString>
#include <vector>

// One ellipsoid: centre, semi-axes, a turn about the vertical axis, and its
// attenuation per pixel of path. Components add where they overlap, so a
// negative mu carves a region of lower attenuation out of another one.
struct Ellipsoid {
    QString name;
    double cx = 0, cy = 0, cz = 0; // centre, pixels
    double ax = 1, ay = 1, az = 1; // semi-axes along the component's own x, y, z, pixels
    double phi = 0; // turn of the component's x axis towards +z about the vertical axis, radians
    double mu = 0; // attenuation per pixel of path
    double edgeJump = 0; // extra attenuation per pixel above the absorption edge (0: no edge)

    // True when (x, y, z) lies strictly inside.
    bool contains(double x, double y, double z) const;
    // Length of the chord of the horizontal ray of direction (sin theta, cos
    // theta) through (x, y, z) = t * (cos theta, -sin theta) in row y; 0 when it
    // misses or only touches.
    double chord(double t, double y, double cosT, double sinT) const;
};

class Phantom {
public:
    // The scan phantom for a field of view of radius `radius` (pixels, the
    // distance from the axis to the nearer detector edge) and a detector of
    // `height` rows; bodyMu is the attenuation per pixel of the main body
    // (0: the default 1 / radius, so a ray through the middle of the body is
    // attenuated by about 1.6). Components, all in the middle rows:
    //   "body"   an elliptic cylinder-like ellipsoid, semi-axes 0.8 R (x), 0.7 R (z)
    //   "dense"  a small insert of 3x the body's attenuation at (+0.40 R, -0.25 R)
    //   "void"   a turned insert of half the body's attenuation at (-0.35 R, +0.30 R)
    //   "edge"   the CT-XAFS component at (-0.30 R, -0.35 R): 2x the body below
    //            the absorption edge, 3.5x above it
    //   "upper"  a marker above the middle rows at (+0.10 R, +0.40 R)
    // and a flat region of the bare body around the axis (flatRadius()).
    static Phantom standard(double radius, int height, double bodyMu = 0);

    // Attenuation ln(I0 / I) of the ray to detector offset t (pixels from the
    // centre of rotation) in row y (pixels from the middle row) at angle theta.
    double lineIntegral(double t, double y, double theta) const;
    // Attenuation per pixel at a point: the sum of mu over the components that contain it.
    double muAt(double x, double y, double z) const;

    // The same phantom at photon energy e (eV) for an absorption edge at
    // edgeEV: every component's mu scaled by (edgeEV / e)^3 (the smooth fall of
    // photo-absorption with energy) and, for a component with an edge jump,
    // edgeJump * edgeStep(e, edgeEV) added.
    Phantom atEnergy(double e, double edgeEV) const;
    // The edge as a broadened step from 0 to 1: 1/2 + atan((e - edgeEV) / 1 eV) / pi.
    static double edgeStep(double e, double edgeEV);

    std::vector<Ellipsoid> components;
    double bodyMu = 0; // attenuation per pixel of the bare body
    double radius = 0; // field of view the phantom was laid out for, pixels

    // Radius of the region around the axis, in the middle rows, where only the
    // body is present.
    double flatRadius() const { return 0.2 * radius; }
    // The component with this name, or nullptr.
    const Ellipsoid *component(const QString &name) const;
};
