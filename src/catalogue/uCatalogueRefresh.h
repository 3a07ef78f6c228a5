#pragma once

#include "uTUpdateVersion.h"

#include <QString>

class TLogger;

// Requests to the vendor server fail after this long without a byte, or when the
// whole answer has not arrived by the deadline.
inline constexpr int ServerIdleTimeoutMs = 30000;
inline constexpr int CatalogueDeadlineMs = 60000;

// The catalogue request "/version2.xml?ref=<Ref>&version=2.2".
QString CatalogueRequestURL(int Ref);
// GetInstallFolder() + "quorvantis.xml".
QString CatalogueFileName();
// Replaces the local catalogue file through a temporary file and a rename, so a
// crash never leaves a truncated catalogue. Throws EQuorvantis on failure.
void StoreCatalogueFile(const QByteArray& Bytes);

struct TRefreshResult {
    UpdateState State = usError;
    bool Downloaded = false; // an answer arrived
    bool Replaced = false;   // it was a catalogue and replaced the one loaded
    QString Error;           // why not: the request's failure or the refused answer
    QString URL;
};

// Loads an answer that has arrived (Error "") or failed (Error names why), stores it
// when it is one, then the INFO and DEBUG lines and the verdict. A failed request
// logs "GetUpdates: URL=<address>: <message>" and leaves catalogue and file as they
// were; an answer that is no catalogue leaves them as well (state usError, no INFO
// line); an answer without shops is none. A catalogue that cannot be stored (the file
// is a folder, the disk is full) is used all the same, with an ERROR line that says
// why it was not stored.
TRefreshResult HandleCatalogueAnswer(const QString& URL, const QByteArray& Body, const QString& Error,
                                     TUpdateVersion& Catalogue, TLogger& Logger);

// Loads the local file when it exists: INFO "Load data from file: <Version>" and
// the verdict; Loaded tells whether there was a file. Read errors log
// "LoadVersionFile: <message>" and return 0.
UpdateState LoadCatalogueFile(TUpdateVersion& Catalogue, TLogger& Logger, bool& Loaded);

// The start-up balloon text for a verdict; the first-start text replaces it. Empty: no balloon.
QString StartupBalloonText(UpdateState State, bool FirstStart);

// The first news item when its date sorts after LastNews (byte-wise), else null.
TNewsItemPtr NewsItemToOffer(const TUpdateVersion& Catalogue, const QString& LastNews);
// The question text of a news offer.
QString NewsQuestionText(const TNewsItem& Item);

// "&ref=<Ref>&check=<Check>&version=2.2&subid=software", appended to shop addresses.
QString ShopParams(int Ref, const QString& Check);
