#include "ufrmHelp.h"
#include "ufrmSoftwareUpdate.h"

#include "uTLogger.h"
#include "ufrmQuorvantis.h"

void ShowUpdates(UpdateState State, bool ForceButton) {
    if (TfrmQuorvantis* Main = frmQuorvantis())
        Main->Logger().Debug(QStringLiteral("ShowUpdates: State=%1 ForceButton=%2").arg(State).arg(ForceButton));
}

void ShowHelp() {
    if (TfrmQuorvantis* Main = frmQuorvantis())
        Main->Logger().Debug(QStringLiteral("ShowHelp"));
}
