#pragma once

#include <QString>

class THTTPClient;

// Downloading and starting the program installer that the catalogue names.

// GetInstallFolder() + "update/" + FileName. Throws EQuorvantis when FileName is
// empty (an address without "/" names no file).
QString InstallerFile(const QString& FileName, const QString& URL);

// Downloads URL into File. The body goes to a temporary file beside File that
// replaces it only when the transfer completed and the body is not empty, so a
// failed, aborted or empty download keeps a file that existed before. Creates the
// folder. Returns the number of bytes written (0 for an empty body); throws
// EHTTPError or EQuorvantis on failure.
qint64 DownloadToFile(THTTPClient& Client, const QString& URL, const QString& File);

// A native program: an ELF file or a script with a "#!" line. A Windows setup
// file is not.
bool IsRunnableProgram(const QString& File);
// The installer came over HTTPS or from a vendor server on this machine, so it
// cannot have been altered on the way.
bool IsTrustedInstallerSource(const QString& URL);

enum class TInstallerStart { Started, NotAProgram, Untrusted, StartFailed };

// Makes File executable and starts it detached with the single argument "/S"
// (no shell), when it is a program this system can run and came from a trusted
// source; otherwise the file stays where it is and is not started.
TInstallerStart StartInstaller(const QString& File, const QString& URL);

// Why the installer was not started, for the log ("" for Started).
QString InstallerStartReason(TInstallerStart Outcome);
// What the user is told when the installer was downloaded but not started
// ("" for Started).
QString InstallerNotStartedText(TInstallerStart Outcome, const QString& File);
