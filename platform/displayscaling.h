#pragma once
// The wizard is laid out in device-independent pixels (a 918 x 616 window,
// 15 px text) and leaves it to Qt to multiply them by the display's scale:
// without that, a window on a 150 % or 200 % display stays 918 x 616 of its
// pixels with tiny text, while text sized in points (the changelog) grows
// with the system's DPI and no longer matches the rest. The platforms
// report their DPI in different ways.

// Call before the application object exists. QT_ENABLE_HIGHDPI_SCALING=0,
// QT_SCALE_FACTOR and QT_SCALE_FACTOR_ROUNDING_POLICY still apply.
void enableHighDpiScaling();
