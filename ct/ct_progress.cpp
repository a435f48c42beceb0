#include "ct/ct_progress.h"

void CtProgress::startCalcAll() { emit calcAll(); }

void CtProgress::startCalcOneByOne() { emit calcOne(index); }

void CtProgress::calcNext()
{
    index += 1;
    if (index < total)
        emit calcOne(index);
    else
        emit finishedCalcOneByOne();
}
