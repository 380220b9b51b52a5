#pragma once

class QButtonGroup;
class QWidget;
class TParams;

// Restores a window's bounds and state from "<objectName> Left", " Top",
// " Width", " Height" and " Window State" (0 normal, 1 minimized, 2 maximized),
// keeping it on the virtual desktop. A fixed-size window keeps its designed size.
void LoadFormPos(TParams &params, QWidget *form);
// Stores the window's bounds (the size only when it can be resized) and state.
void SaveFormPos(TParams &params, QWidget *form);

// Checks the button whose index (in the group's order) is stored under
// "<objectName> Index"; the current index when absent.
void LoadRadioIndex(TParams &params, QButtonGroup *radio);
void SaveRadioIndex(TParams &params, QButtonGroup *radio);
