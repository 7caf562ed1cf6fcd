#pragma once
// Shows a folder to the person in the desktop's file manager: the wizard's
// "Open log folder". Linux asks the desktop through xdg-open
// (folderview_linux.cpp); Windows starts Explorer (folderview_windows.cpp).

#include <QString>

// Starts the file manager on folder and returns without waiting for it. False
// when it could not be started, with the reason in why.
bool showFolder(const QString& folder, QString& why);
