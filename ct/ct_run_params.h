#pragma once
// The record of one calculation request. The main window owns one; the
// processing-control panel fills it (ProcCtrl::fillRunParams) and the main
// window completes it before the calculators read it. Plain value: it may be
// copied into worker threads.
#include "ct/recon_filter.h"
#include "ct/recon_method.h"

struct CtRunParams {
    bool calcCt1 = false; // the single-slice calculator is selected
    bool calcCt2 = false; // the parallel calculators are selected
    bool rotAxIsV = false; // rotation axis vertical in the projection images
    int sliceNo = 0; // current slice
    double cor = 0.0; // centre of rotation, detector pixels
    double recordedCor1 = 0.0; // first recorded centre of rotation
    double recordedCor2 = 0.0; // second recorded centre of rotation
    int recordedSlice1 = -1; // slice of the first record, -1 = none recorded
    int recordedSlice2 = -1; // slice of the second record, -1 = none recorded
    double angleOffset = 0.0; // degrees, added to every projection angle
    bool autoExec = false; // a calculation runs over the slice range
    int sliceFrom = 0; // first slice of a range run
    int sliceTo = 0; // last slice of a range run (inclusive)
    int sliceStep = 1; // signed step: negative when sliceTo < sliceFrom
    int threads = 1; // parallel calculators taking part in a range run
    int sliceThreads = 1; // threads one slice's back-projection may use (see sliceThreadsFor)
    int calculatorsUsed = 1; // parallel calculators the run hands slices to (calculatorsFor)
    int currentSlice = 0; // next slice a range run hands out
    double upperLimit = 10.0; // data auto-save limits and offset
    double lowerLimit = -10.0;
    double offset = 10.0;
    ReconFilterKind filter = ReconFilterKind::Ramp; // filter of the back-projection
    int ringSize = 0; // window of the stripe (ring) suppression; 0 = off
    ReconMethod method = ReconMethod::Fbp; // back-projection or Fourier gridding
};
