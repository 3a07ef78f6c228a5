#pragma once

#include <QString>
#include <QStringList>

// Opens URL in the user's web browser: the detected browser first (one argument,
// no shell), "xdg-open URL" as fallback. Never reports a failure and never waits
// for the browser detection on the application thread.
void OpenURL(const QString& URL);
// Why OpenURL would refuse URL (empty when it would not): an address that starts
// with "-" reads as an option to the browser.
QString AddressProblem(const QString& URL);
// Whether a page of a web window may hand URL to the user's browser: http, https
// and mailto only, at most MaxLeavingAddressLength characters.
inline constexpr int MaxLeavingAddressLength = 2048;
bool MayLeaveForBrowser(const QString& URL);
// Starts the default-browser detection in the background (application thread).
void PrimeBrowserDetection();
// Ends a detection still running (at shutdown).
void StopBrowserDetection();
// The browser command text: $BROWSER (first ":"-separated entry), else the Exec
// line of the desktop file named by `xdg-settings get default-web-browser`.
QString DetectBrowserText();
// Reduces a browser command text to a program: quoted prefix, text before the
// first blank, or the whole text. Empty for an unclosed quote.
QString ReduceBrowserText(const QString& Text);

// Sets an environment variable for this program's own libraries only: programs it
// starts (the browser, the installer) get the environment the user gave it. Call
// before any thread starts.
void SetOwnEnvironmentVariable(const char* Name, const QByteArray& Value);
// Starts Program with Arguments, detached, with the user's environment.
bool StartDetachedProgram(const QString& Program, const QStringList& Arguments, const QString& Folder = {});

void ShowWarning(const QString& Caption, const QString& Text);
// A success told to the user (information icon).
void ShowInformation(const QString& Caption, const QString& Text);
bool AskYesNo(const QString& Caption, const QString& Text);

// Windows version class of (platform id, major, minor, service-pack text); -1 for
// anything unlisted. Platform ids: 1 = Windows 95 family, 2 = NT family.
int ClassifyWindowsVersion(int PlatformId, int Major, int Minor, const QString& CSDVersion);
// Always -1 here: this is not Windows.
int GetWindowsVersion();

bool IsValidEmail(const QString& Text);
// A non-loopback interface is up with an address, or the vendor host is loopback.
bool IsOnline();
// True when the host of URL is "localhost" or a loopback address (127.x.x.x, ::1).
bool IsLoopbackHostURL(const QString& URL);
bool IsShiftDown();
// 0 for a missing file; throws EQuorvantis when it exists but cannot be opened.
qint64 FileSizeOf(const QString& FileName);
QString EscapeAmpersands(const QString& Text);
// A name as a menu caption: ampersands escaped, and a name longer than
// MaxMenuCaptionLength shortened in the middle ("…"), so no entry makes its menu
// wider than a screen.
inline constexpr int MaxMenuCaptionLength = 80;
QString MenuCaption(const QString& Name);
QString UnescapeAmpersands(const QString& Text);
QString ReplaceCRByBlank(const QString& Text);
int BoolToInt(bool B);
// ASCII-only lower-casing (command words, shop names on the command line).
QString AsciiLower(const QString& Text);
