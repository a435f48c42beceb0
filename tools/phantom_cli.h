#pragma once
// The command line of vorlo2-phantom.
//
//   vorlo2-phantom scan --out DIR [scan options] [--hdf5 FILE [--gzip]]
//   vorlo2-phantom xafs --out DIR [scan options] [--energies E1,E2,...] [--edge E]
//                       [--sample NAME] [--kev]
//   vorlo2-phantom --help
//
// Exit codes: 0 done, 1 a file could not be written, 2 bad options.
#include "tools/phantom_scan.h"

#include <QString>
#include <QStringList>

class QTextStream;

struct PhantomCommand {
    enum Kind { Help, Scan, Xafs };
    Kind kind = Help;
    QString outDir;
    ScanSettings scan;
    XafsSettings xafs;
    QString hdf5File; // scan: the same scan also as one DXchange HDF5 file
    bool gzip = false; // its frames gzip-compressed
};

// Parses the arguments after the program name into cmd. Empty when they make a
// complete, sensible command (settings checked as PhantomScan::check does),
// else the reason to print.
QString parsePhantomArgs(const QStringList &args, PhantomCommand &cmd);

// The text of --help.
QString phantomHelpText();

// Runs the tool: parses, writes the files and lists them on out; reasons for a
// refusal go to err. Returns the exit code.
int runPhantomTool(const QStringList &args, QTextStream &out, QTextStream &err);
