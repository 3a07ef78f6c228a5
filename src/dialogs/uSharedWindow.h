#pragma once

#include <QCoreApplication>
#include <QPointer>

// The one instance of a parentless tool window: made on first use and deleted
// before the application object (a widget must not outlive it).
template <class TWindow> class TSharedWindow {
public:
    static TWindow* Existing() { return Slot().data(); }

    // The window, made now when there is none; Made tells whether it was.
    static TWindow& Obtain(bool* Made = nullptr) {
        const bool New = Slot().isNull();
        if (New) {
            Slot() = new TWindow();
            qAddPostRoutine(&Delete);
        }
        if (Made)
            *Made = New;
        return *Slot();
    }

private:
    static QPointer<TWindow>& Slot() {
        static QPointer<TWindow> Window;
        return Window;
    }
    static void Delete() { delete Slot().data(); }
};
