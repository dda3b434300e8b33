#include "viewer/placement.h"

#include "app/state/Module1.h"
#include "system/twips.h"
#include "viewer/Form2.h"

namespace pel::placement {

double fitScale(double W, double H)
{
    const double rW = Module1::screen_w * 0.7 / W;
    const double rH = Module1::screen_h * 0.7 / H;
    return rW < rH ? rW : rH;
}

void centreViewer(Form2 &viewer)
{
    const double left = (double(Module1::screen_w) - viewer.Width()) / 2;
    const double top = (double(Module1::screen_h) - viewer.Height()) / 2;
    viewer.moveTo(twips::toSingle(left), twips::toSingle(top));
}

}  // namespace pel::placement
