#pragma once

class QButtonGroup;
class QWidget;
class TParams;

// Restores a window's bounds and state from "<objectName> Left", " Top",
// " Width", " Height" and " Window State" (0 normal, 1 minimized, 2 maximized).
// The bounds are those of the window's contents, without the frame. The
// window is kept whole on the available part of the screen it opens on,
// shrunk when it does not fit. A fixed-size window keeps its designed size.
void LoadFormPos(TParams &params, QWidget *form);
// Stores the window's bounds (the size only when it can be resized) and state.
void SaveFormPos(TParams &params, QWidget *form);

// Checks the button whose index (in the group's order) is stored under
// "<objectName> Index"; the current index when absent.
void LoadRadioIndex(TParams &params, QButtonGroup *radio);
void SaveRadioIndex(TParams &params, QButtonGroup *radio);
