#pragma once

#include "native_http.h"

#include <QCoroTask>

class QWidget;

// "Export calendar…": asks where to save (a save dialog over `parent`) and downloads the person's
// calendars from "/api/native/export.ics" there. When the person agreed to replace an existing
// file, the download goes to a new hidden name in the same folder and takes the old file's place
// only once it is complete, so a failed export never costs the old file. A failure is shown in a
// message box over `parent`, while it still exists.
QCoro::Task<> exportCalendar(QWidget *parent, NativeClient client);
