#pragma once
// The style the windows are drawn with: the platform's own, unchanged, except
// that icons a window may never show are made when first drawn.

namespace pel::kit {

// Makes the application's style the kit's (once; later calls do nothing). Called
// before the first menu bar is made.
void useKitStyle();

}  // namespace pel::kit
