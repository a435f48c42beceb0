#pragma once

#include <QString>

// The process-wide data root: the directory in which every file and
// directory chooser opens. Start-up sets it from "DataRoot" in the
// configuration file or from "-d" on the command line.
QString dataRoot();
void setDataRoot(const QString &dir);
