#pragma once
// Where the viewer goes and how large a picture may be shown in it.
namespace pel {
class Form2;
namespace placement {

// The factor that fits W x H (twips) into 70 % of the captured screen both ways,
// keeping the aspect ratio: the smaller of the two ratios (the height's on a tie).
double fitScale(double W, double H);

// Centres the viewer on the captured screen size from its outer size; no clamping.
void centreViewer(Form2 &viewer);

}  // namespace placement
}  // namespace pel
