#pragma once

#include <QIcon>

// The app's own icon for windows and the tray: the installed theme's copy when a theme provides one
// (so an icon theme may restyle it), else the copy built into the binary, else the theme's generic
// calendar icon.
QIcon appIcon();
