#pragma once

#include <QAction>
#include <QString>

// A menu entry that opens an address: FURL + FParams goes to OpenURL exactly once
// per choice. An empty FURL makes the entry do nothing.
class TURLMenuItem final : public QAction {
    Q_OBJECT
public:
    // Caption EscapeAmpersands(ACaption) (AURL, unescaped, when ACaption is empty),
    // hint AURL, image index 5 (the globe), empty FParams.
    TURLMenuItem(QObject* AOwner, const QString& AURL, const QString& ACaption);

    void Click() const;
    QString GetFullURL() const { return FURL + FParams; }
    QString URL() const { return FURL; }
    QString Params() const { return FParams; }
    void SetParams(const QString& Params) { FParams = Params; }
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int Index) { FImageIndex = Index; }

private:
    QString FURL;
    QString FParams;
    int FImageIndex = 5;
};
