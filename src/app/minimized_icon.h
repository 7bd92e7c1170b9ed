// Where the application icon sits in the client area of the minimised dialog.
#pragma once

struct IconOrigin {
  int x;
  int y;
};

// Centred, rounding half up for positive sizes; the division truncates
// toward zero, also when the client area is smaller than the icon.
IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);
